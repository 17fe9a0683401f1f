// The check of one machine's stored rows against their lines, the shipment
// log, the chain and the trail file as a witness.
#include "stored_rows_check.h"

#include <algorithm>
#include <utility>

#include "line_range.h"
#include "trail_lines.h"

namespace qz45trail {
namespace {

// The first of lines 1..count that no shipment in the log covers, and the
// last of the run of such lines that starts there; false when the log
// covers them all.
bool Unlogged(const std::map<long long, long long> &firstByLast, long long count, long long *from,
              long long *to) {
    std::vector<std::pair<long long, long long>> ranges;
    for (const auto &[last, first] : firstByLast) ranges.push_back({first, last});
    std::sort(ranges.begin(), ranges.end());
    long long covered = 0;  // lines 1..covered are covered
    for (const auto &[first, last] : ranges) {
        if (first > covered + 1) break;
        covered = std::max(covered, last);
    }
    if (covered >= count) return false;
    *from = covered + 1;
    *to = count;
    for (const auto &[first, last] : ranges)
        if (first > covered + 1 && first - 1 < *to) *to = first - 1;
    return true;
}

std::string UnloggedText(long long from, long long to) {
    return LineRange(from, to) + " stored, but no shipment in the log stored them: the log's "
                                 "entry was deleted, and with it perhaps the lines shipped "
                                 "after them";
}

}  // namespace

StoredRowsCheck::StoredRowsCheck(std::string machine, const std::vector<Shipment> &log,
                                 long long acceptUnchained)
    : machine_(std::move(machine)), acceptUnchained_(acceptUnchained) {
    for (const Shipment &s : log) {
        loggedSha_[s.lastLine] = s.lastSha256;
        loggedFirst_[s.lastLine] = s.firstLine;
        lastShipped_ = s.shippedAt;
    }
}

void StoredRowsCheck::UseWitness(LineSource *file, long long from, std::string name) {
    witness_ = file;
    witnessFrom_ = from;
    witnessName_ = std::move(name);
}

void StoredRowsCheck::StartAfter(long long line, std::string hash, std::string where) {
    count_ = archivedThrough_ = line;
    chain_.StartAfter(std::move(hash));
    archivedWhere_ = std::move(where);
}

bool StoredRowsCheck::Stop(const std::string &text) {
    findings_.Add(machine_, text, kExitBroken);
    stopped_ = true;
    return false;
}

bool StoredRowsCheck::Add(const Row &stored) {
    if (stopped_) return false;
    const long long n = stored[kLineNo].number;
    if (n != count_ + 1)
        return Stop(LineRange(count_ + 1, n - 1) + " missing: removed from the database");
    if (!CheckRow(n, stored)) return false;
    const std::string &text = stored[kLineText].text;
    if (witness_ != nullptr && witnessEndsAfter_ < 0 && n >= witnessFrom_ &&
        !CheckWitnessLine(n, text))
        return false;
    chain_.Add(n, text, &hasher_);
    if (first_.lineNo == 0 && !derived_[kLineHash].null)
        first_ = FirstChained{n, derived_[kLineSha256].text};
    count_ = n;
    replaced_ += stored[kReplaced].number != 0;
    if (!stored[kSubmitted].null) {
        submitted_ = true;
        lastSubmittedAt_ = stored[kSubmitted].time;
    }
    return true;
}

// The row against the row its line text makes, and against the log.
bool StoredRowsCheck::CheckRow(long long n, const Row &stored) {
    const std::string &text = stored[kLineText].text;
    std::string why;
    if (!RowFromLine(machine_, n, text, &derived_, &why, &hasher_))
        return Stop("line " + std::to_string(n) + ": its stored text is not a trail line (" + why +
                    "): changed in the database");
    if (const char *column = FirstDifference(stored, derived_))
        return Stop("line " + std::to_string(n) + ": column " + column +
                    " does not match the line's text: changed in the database");
    const auto logged = loggedSha_.find(n);
    if (logged != loggedSha_.end() && logged->second != derived_[kLineSha256].text)
        return Stop("line " + std::to_string(n) +
                    " is not the line the shipment log recorded: changed in the database");
    return true;
}

// The witness's line at the row's position.
bool StoredRowsCheck::CheckWitnessLine(long long n, const std::string &text) {
    switch (witness_->Next(&fileLine_)) {
    case LineResult::kLine:
        if (fileLine_ != text)
            return Stop(witnessName_ + " line " + std::to_string(n) +
                        " differs from the line stored in the database: the file was changed "
                        "or re-chained after the line was shipped");
        return true;
    case LineResult::kEnd: witnessEndsAfter_ = n - 1; return true;
    case LineResult::kTooLong:
        return Stop(witnessName_ + " line " + std::to_string(n) + " is longer than any trail line");
    case LineResult::kBroken: return Stop(witnessName_ + ": " + witness_->Error());
    case LineResult::kError: break;
    }
    findings_.Fail("cannot read " + witnessName_ + ": " + witness_->Error());
    stopped_ = true;
    return false;
}

Findings StoredRowsCheck::Finish() {
    if (stopped_) return findings_;
    bool unlogged = false;
    if (!CheckEnds(&unlogged)) return findings_;
    const ChainVerdict verdict = chain_.Finish();
    if (!verdict.Intact()) {
        findings_.Add(machine_, verdict.Describe(), kExitBroken);
        return findings_;
    }
    CheckChain(verdict);
    if (witness_ != nullptr) CheckWitnessEnd(unlogged);
    return findings_;
}

// Rows missing at the end, or not covered by the log: false when that ends
// the check. With a witness, unlogged lines are said and the check goes on.
bool StoredRowsCheck::CheckEnds(bool *unlogged) {
    if (count_ == 0 && loggedSha_.empty() && witness_ == nullptr)
        return Stop("no lines in the database");
    if (witnessEndsAfter_ >= 0)
        return Stop("the database holds " + LineRange(witnessEndsAfter_ + 1, count_) + ", which " +
                    witnessName_ + " no longer has: its end was cut off after shipping");
    const long long lastLogged = loggedSha_.empty() ? 0 : loggedSha_.rbegin()->first;
    if (lastLogged > count_)
        return Stop(LineRange(count_ + 1, lastLogged) +
                    " shipped (in the shipment log) but not in the database: deleted from it");
    // Every stored line went in with a shipment that the log records in the
    // same transaction: lines that no shipment covers lost their entry, and
    // perhaps the lines after them went with it.
    long long from = 0, to = 0;
    *unlogged = Unlogged(loggedFirst_, count_, &from, &to);
    if (*unlogged && witness_ == nullptr) return Stop(UnloggedText(from, to));
    if (*unlogged) findings_.Add(machine_, UnloggedText(from, to), kExitBroken);
    return true;
}

// An intact chain: the summary, lines without chain members before it, and
// rows whose texts show U+2400.
void StoredRowsCheck::CheckChain(const ChainVerdict &verdict) {
    std::string summary = verdict.Describe();
    if (archivedThrough_ > 0)
        summary = LineRange(1, archivedThrough_) + " archived (" + archivedWhere_ +
                  "), chained on to: " + summary;
    if (count_ > 0)
        summary += "; last line shipped " +
                   (lastShipped_.empty() ? std::string("at an unlogged time") : lastShipped_) +
                   (submitted_ ? ", stored by the service " + UtcText(lastSubmittedAt_) : "");
    findings_.Say(machine_, summary);
    if (verdict.unchainedPrefix > 0 &&
        static_cast<long long>(verdict.unchainedPrefix) != acceptUnchained_) {
        findings_.Add(machine_, std::to_string(verdict.unchainedPrefix) +
                                    " line(s) without chain members before the chain: not "
                                    "proved unchanged",
                      kExitUnchained);
    }
    if (replaced_ > 0)
        findings_.Say(machine_, std::to_string(replaced_) +
                                    " row(s) show U+2400 for a U+0000 the database cannot store "
                                    "(replaced = 1); their line_text is exact");
}

// The lines before the witness's first, and its lines after the rows.
void StoredRowsCheck::CheckWitnessEnd(bool unlogged) {
    // The lines before the files' first were pruned (prune removes only
    // what the database holds) or removed: the database must hold them.
    const bool lost = count_ + 1 < witnessFrom_;
    if (lost)
        findings_.Add(machine_,
                      LineRange(count_ + 1, witnessFrom_ - 1) +
                          " lost: in neither the database nor " + witnessName_ +
                          ", whose files start at line " +
                          std::to_string(witnessFrom_) +
                          (count_ == 0 ? " (the database holds no line of machine " + machine_ +
                                             ": is that the machine's name?)"
                                       : " (pruned or removed, but not shipped, or deleted from "
                                         "the database)"),
                      kExitBroken);
    long long extra = 0;
    for (LineResult r; (r = witness_->Next(&fileLine_)) != LineResult::kEnd; ++extra) {
        if (r != LineResult::kLine) {
            findings_.Fail("cannot read " + witnessName_ + " to its end");
            return;
        }
    }
    const long long firstUnshipped = std::max(count_ + 1, witnessFrom_);
    const std::string unshipped =
        witnessName_ + " " + LineRange(firstUnshipped, firstUnshipped + extra - 1);
    if (extra == 0 && !lost)
        findings_.Say(machine_, "every line of " + witnessName_ + " is in the database");
    else if (extra > 0 && unlogged)
        findings_.Say(machine_, unshipped + " not in the database: deleted with the shipment's "
                                            "log entry, or not shipped yet");
    else if (extra > 0)
        findings_.Say(machine_, unshipped + " not shipped yet");
}

void SharedTrails::Add(const std::string &machine, const FirstChained &first, Findings *found) {
    if (first.lineNo == 0) return;
    const auto seen = chains_.emplace(std::make_pair(first.lineNo, first.sha), machine);
    if (!seen.second)
        found->Say(machine, "holds the trail of machine " + seen.first->second + " (line " +
                                std::to_string(first.lineNo) +
                                ", its first chained line, is the same line): one trail shipped "
                                "under two machine names");
}

}  // namespace qz45trail
