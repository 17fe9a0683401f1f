// qz45trail prune: retention of what the plant database already holds.
#pragma once

#include <string>

namespace qz45trail {

struct PruneOptions {
    std::string connection;  // ODBC connection string
    std::string file;        // the trail's current file
    std::string machine;     // "" for the computer's name
    std::string archive;     // move the files there instead of deleting them ("": delete)
    long long keepDays = 0;  // keep files whose last line is younger than this
    bool dryRun = false;     // say what would go, change nothing
};

// Removes (or moves to the archive) the oldest rotated files of the trail,
// one after another, as long as every line of each is in the database for
// the machine, byte for byte at its position, and its last line is older
// than keepDays; never the current file, nor any file after one that is
// kept. Each file is recorded in the trail's pruned record (its name, its
// lines, its last line's hash) before it goes, so that verify still checks
// the remaining files as one chain. Returns an exit code.
int Prune(const PruneOptions &options);

}  // namespace qz45trail
