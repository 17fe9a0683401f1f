// qz45trail verify: checks an audit trail's hash chain, in a file or as the
// database stores it.
#pragma once

#include <string>
#include <vector>

namespace qz45trail {

// A line of a trail and its number in it.
struct NumberedLine {
    long long number;
    std::string text;
};

// Checks the chain of a trail's lines, in order. Prints "<name>: line N ..."
// naming the first line that was changed, removed, inserted or moved and
// returns 1; else prints "N lines, chain intact" (after "<name>: " when
// nameIntact) and returns 0 (2: the hash could not be computed).
int CheckChain(const std::vector<NumberedLine> &lines, const std::string &name, bool nameIntact);

}  // namespace qz45trail

// Checks the chain of the trail file at path (2: unreadable).
int VerifyTrail(const char *path);
