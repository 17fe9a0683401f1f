// What the plant database holds of one machine's trail lines, as the shipper
// asks before it ships on and prune asks before a file goes. Each read is a
// transaction of its own, rolled back.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "database.h"

namespace qz45trail {

// Whether the trail table holds any line of machine.
bool HoldsAnyLine(const Database &db, const std::string &machine);

// A machine other than machine whose line lineNo is the line with SHA-256
// sha (the first in name order), "" when there is none.
std::string StoredElsewhere(const Database &db, const std::string &machine, long long lineNo,
                            const std::string &sha);

// How many of machine's lines numbered up to through the table holds.
long long CountStoredThrough(const Database &db, const std::string &machine, long long through);

// A stored line's position and SHA-256.
struct StoredSha {
    long long lineNo = 0;
    std::string sha;
};

// Machine's stored lines after line `after`, in line order, each handed to
// each as it is read; what each throws ends the reading and goes on.
void ForEachStoredSha(const Database &db, const std::string &machine, long long after,
                      const std::function<void(const StoredSha &)> &each);

// The first of the lines numbered from firstLine on (lines[0] is line
// firstLine) that the table does not hold for machine byte for byte at its
// position; 0 when it holds them all.
long long FirstLineNotHeld(const Database &db, const std::string &machine, long long firstLine,
                           const std::vector<std::string> &lines);

}  // namespace qz45trail
