// What a rotated file of the trail holds, as prune needs it: its lines, whole
// and chained, and its last line's position, hash and time of submission.
#pragma once

#include <string>
#include <vector>

#include "trail_set.h"

namespace qz45trail {

struct RotatedFile {
    TrailPart part;
    long long lastLine = 0;
    std::string lastHash;       // the chain hash of its last line
    std::string lastSubmitted;  // its last line's "submitted", "" when it has none
    std::vector<std::string> lines;
};

// Reads a rotated file whole; false with the reason when it cannot be read,
// holds no line, a line too long, an unfinished last line, or a last line
// without chain members.
bool ReadRotatedFile(const TrailPart &part, RotatedFile *rotated, std::string *why);

}  // namespace qz45trail
