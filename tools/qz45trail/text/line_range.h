// Line numbers as the tools say them: "line 7", "lines 7-9".
#pragma once

#include <string>

namespace qz45trail {

std::string LineRange(long long from, long long to);

}  // namespace qz45trail
