// Which of a trail's files prune looks at, and as what: files recorded as
// pruned that are still there, to be finished first; the others, oldest
// first, as the candidates; and how the record says where a file went.
#pragma once

#include <string>
#include <vector>

#include "trail_set.h"

namespace qz45trail {

// A rotated file recorded as pruned, still there.
struct Leftover {
    TrailPart part;
    PrunedFile record;
};

struct PrunePlan {
    std::vector<Leftover> leftovers;
    std::vector<TrailPart> candidates;  // in line order, the current file last
    long long prunedThrough = 0;        // the last line recorded as pruned (0: none)

    // Whether there is anything for the database to be asked about: a
    // rotated file before the current one.
    bool AnyCandidate() const { return candidates.size() >= 2; }
    // Whether lines that no prune took are missing before the first
    // rotated candidate: false when it starts at line 1 or right after the
    // pruned lines, and when there is no rotated candidate.
    bool GapBeforeCandidates() const;
};

// The trail's files as listed (rotated ones in line order, the current file
// last) and its pruned record, sorted out.
PrunePlan PlanPrune(const std::vector<TrailPart> &listed, const std::vector<PrunedFile> &pruned);

// The action recorded for a file: "deleted", or "moved to <archive>".
std::string PruneAction(const std::string &archive);
// The archive folder of a recorded action, "" for one that is not a move.
std::string ArchiveOf(const std::string &action);

}  // namespace qz45trail
