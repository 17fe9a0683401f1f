// What a mistyped word was probably meant to be.
#pragma once

#include <string>
#include <vector>

namespace qz45trail {

// The name in names nearest to typed: at most two edits away (a letter left
// out, added, changed, or two neighbours swapped), or the one name typed is
// a prefix of; "" when none is near or two are equally near. Case does not
// matter.
std::string Nearest(const std::string &typed, const std::vector<std::string> &names);

}  // namespace qz45trail
