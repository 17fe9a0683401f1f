// qz45trail verify: checks an audit trail's hash chain in a file, and with a
// database, the file against what the database holds for its machine.
#pragma once

#include <string>

namespace qz45trail {

struct VerifyOptions {
    std::string file;          // "" for the database alone
    std::string connection;    // "" for the file alone
    std::string machine;       // with both: "" for the computer's name
    long long unchained = -1;  // lines without chain members accepted before the chain (-1: none)
    bool single = false;       // the file alone, not the trail's rotated files with it
};

// Prints the verdicts; returns the exit code (exit_codes.h).
int Verify(const VerifyOptions &options);

}  // namespace qz45trail
