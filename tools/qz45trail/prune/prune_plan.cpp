// Sorting a trail's files out for prune.
#include "prune_plan.h"

#include <algorithm>

namespace qz45trail {
namespace {

constexpr char kMovedTo[] = "moved to ";

}  // namespace

bool PrunePlan::GapBeforeCandidates() const {
    if (!AnyCandidate()) return false;
    const long long first = candidates.front().firstLine;
    return first != prunedThrough + 1 && first != 1;
}

PrunePlan PlanPrune(const std::vector<TrailPart> &listed, const std::vector<PrunedFile> &pruned) {
    PrunePlan plan;
    for (const PrunedFile &p : pruned)
        plan.prunedThrough = std::max(plan.prunedThrough, p.lastLine);
    for (const TrailPart &part : listed) {
        const PrunedFile *recorded = nullptr;
        for (const PrunedFile &p : pruned)
            if (!part.current && p.name == part.name) recorded = &p;
        if (recorded != nullptr) plan.leftovers.push_back({part, *recorded});
        else plan.candidates.push_back(part);
    }
    return plan;
}

std::string PruneAction(const std::string &archive) {
    return archive.empty() ? "deleted" : kMovedTo + archive;
}

std::string ArchiveOf(const std::string &action) {
    const std::string moved = kMovedTo;
    return action.compare(0, moved.size(), moved) == 0 ? action.substr(moved.size()) : "";
}

}  // namespace qz45trail
