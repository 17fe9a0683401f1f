// The check of a trail file's chain, its unchained lines and its last line.
#include "file_check.h"

#include "trail_chain.h"
#include "trail_set.h"

namespace qz45trail {
namespace {

// A verdict on a line, with the file it is in when that is a rotated one.
std::string Located(const TrailSetReader &set, long long line, const std::string &what) {
    const std::string where = set.Where(line);
    return where.empty() ? what : what + " (" + where + ")";
}

// Reads the lines into chain; false once a finding ends the check. *last is
// the number of the last line read.
bool ReadLines(TrailSetReader *set, const std::string &file, ChainCheck *chain, long long *last,
               Findings *out) {
    long long &n = *last;
    std::string line;
    for (LineResult r; (r = set->Next(&line)) != LineResult::kEnd;) {
        if (r == LineResult::kError) {
            out->Fail("cannot read " + file + " after line " + std::to_string(n) + ": " +
                      set->Error());
            return false;
        }
        if (r == LineResult::kBroken && set->PrunedMeanwhile()) {
            out->Fail(file + ": " + set->Error());
            return false;
        }
        if (r == LineResult::kBroken) {
            // A line removed inside a rotated file shows first in the chain,
            // at its place, and only then at the end of its file.
            const ChainVerdict v = chain->Finish();
            out->Add(file, v.Intact() ? set->Error() : Located(*set, v.line, v.Describe()),
                     kExitBroken);
            return false;
        }
        if (r == LineResult::kTooLong) {
            out->Add(file,
                     Located(*set, n + 1, "line " + std::to_string(n + 1) +
                                              " is longer than any trail line: not a trail"),
                     kExitBroken);
            return false;
        }
        chain->Add(n = set->Number(), line);
    }
    return true;
}

// The lines without chain members before the chain: accepted only when
// acceptUnchained says exactly how many.
void CheckUnchained(const TrailSetReader &set, const ChainVerdict &v, const std::string &file,
                    long long acceptUnchained, Findings *out) {
    const long long unchained = static_cast<long long>(v.unchainedPrefix);
    if (unchained <= 0) {
        if (acceptUnchained > 0)
            out->Add(file, "no line without chain members precedes the chain, --unchained said " +
                               std::to_string(acceptUnchained),
                     kExitUnchained);
        return;
    }
    const std::string what =
        v.firstChained == 0
            ? std::string("none of them is chained: a trail written before chaining, or one "
                          "whose chain members were removed; nothing shows whether it was "
                          "changed")
            : "lines " + std::to_string(set.FirstLine()) + "-" +
                  std::to_string(set.FirstLine() + unchained - 1) +
                  " have no chain members and precede the chain: written before chaining, or "
                  "put in front of it; the chain is checked from line " +
                  std::to_string(v.firstChained) + " on";
    if (unchained == acceptUnchained) {
        out->Say("", what + " (accepted: --unchained " + std::to_string(unchained) + ")");
        return;
    }
    out->Say("", what);
    out->Add(file,
             std::to_string(unchained) + " line(s) without chain members (--unchained " +
                 std::to_string(unchained) + " accepts exactly these)",
             kExitUnchained);
}

}  // namespace

Findings CheckTrailFile(TrailSetReader *set, const std::string &file, long long acceptUnchained) {
    Findings out;
    ChainCheck chain;
    chain.StartAfter(set->StartPrev());
    long long last = set->FirstLine() - 1;
    if (!ReadLines(set, file, &chain, &last, &out)) return out;
    const ChainVerdict v = chain.Finish();
    if (!v.Intact()) {
        out.Add(file, Located(*set, v.line, v.Describe()), kExitBroken);
        return out;
    }
    out.Say("", v.Describe() +
                    (set->Files() > 1 ? " in " + std::to_string(set->Files()) + " files" : ""));
    if (!set->StartNote().empty()) out.Say("", set->StartNote());
    CheckUnchained(*set, v, file, acceptUnchained, &out);
    if (set->Unfinished() > 0)
        out.Add(file,
                "line " + std::to_string(last + 1) + " is unfinished: " +
                    std::to_string(static_cast<unsigned long long>(set->Unfinished())) +
                    " byte(s) without a line end (a writer at work, or one that died mid-line); "
                    "the lines before it are checked",
                kExitUnfinished);
    return out;
}

}  // namespace qz45trail
