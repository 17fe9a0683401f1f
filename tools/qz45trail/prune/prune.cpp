// qz45trail prune: the order of pruning's steps (files recorded as pruned
// finished, the files to go chosen, recorded and removed under the writers'
// lock) and what each says.
#include "prune.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "archive_copy.h"
#include "computer_name.h"
#include "database.h"
#include "exit_codes.h"
#include "local_time.h"
#include "prune_plan.h"
#include "rotated_file.h"
#include "stored_lines.h"
#include "trail_file.h"
#include "trail_set.h"
#include "utc_time.h"
#include "win_handle.h"
#include "win_text.h"
#include "writers_lock.h"

namespace qz45trail {
namespace {

// The time `days` days ago, as the trail writes times (a thousand years at
// the most: nothing older is kept anywhere).
std::string DaysAgo(long long days) {
    return UtcText(AddSeconds(NowUtc(), -std::min(days, 366000LL) * 86400));
}

// Appends one line to the pruned record, flushed, before the file goes.
bool Record(const std::string &current, const RotatedFile &rotated, const std::string &action,
            std::string *why) {
    const TrailName trail = SplitTrailName(current);
    const std::wstring path = Wide(trail.folder + PrunedRecordName(trail));
    UniqueHandle record(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!record.Valid()) {
        *why = "cannot write the pruned record: " + ErrorText(GetLastError());
        return false;
    }
    const std::string line = nlohmann::json{{"file", rotated.part.name},
                                            {"first_line", rotated.part.firstLine},
                                            {"last_line", rotated.lastLine},
                                            {"last_hash", rotated.lastHash},
                                            {"time", UtcText(NowUtc())},
                                            {"action", action}}
                                 .dump() +
                             "\n";
    DWORD written = 0;
    if (!WriteFile(record.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr) ||
        written != line.size() || !FlushFileBuffers(record.Get())) {
        *why = "cannot write the pruned record: " + ErrorText(GetLastError());
        return false;
    }
    return true;
}

class Pruner {
public:
    explicit Pruner(const PruneOptions &options)
        : options_(options),
          machine_(options.machine.empty() ? ComputerName() : options.machine) {}

    int Run() {
        std::vector<TrailPart> listed;
        std::vector<PrunedFile> pruned;
        std::string why;
        if (!ListTrailSet(options_.file, &listed, &why) ||
            !ReadPrunedRecord(options_.file, &pruned, &why)) {
            std::fprintf(stderr, "qz45trail: %s\n", why.c_str());
            return kExitFailed;
        }
        const PrunePlan plan = PlanPrune(listed, pruned);
        if (!plan.AnyCandidate() && plan.leftovers.empty()) {
            // A trail that is not there at all is a name mistyped, not a
            // trail with nothing to prune.
            FileIdentity id;
            if (TrailFile::IdentityOf(options_.file, &id, &why) != TrailFile::OpenResult::kOpened) {
                std::fprintf(stderr, "qz45trail: cannot read %s: %s\n", options_.file.c_str(),
                             why.c_str());
                return kExitFailed;
            }
            std::printf("%s has no rotated file: nothing to prune\n", options_.file.c_str());
            return kExitOk;
        }
        for (const Leftover &leftover : plan.leftovers) FinishLeftover(leftover);
        if (!plan.AnyCandidate()) return Said();
        try {
            Database db(options_.connection);
            if (plan.GapBeforeCandidates()) {
                std::printf("%s: lines %lld-%lld are missing before %s, and not by prune: "
                            "nothing pruned\n", options_.file.c_str(), plan.prunedThrough + 1,
                            plan.candidates[0].firstLine - 1, plan.candidates[0].name.c_str());
                return kExitBroken;
            }
            std::vector<RotatedFile> going;
            if (!ChooseGoing(db, plan.candidates, &going)) return result_;
            if (!RecordAndRemove(going)) return result_;
            return Said();
        } catch (const OdbcError &e) {
            std::fprintf(stderr, "qz45trail: %s\n", e.what());
            return WorseExitCode(result_, kExitFailed);
        }
    }

private:
    // How many files went (or would), and the verdict.
    int Said() const {
        std::printf("%d file(s) %s; the current file is never pruned\n", removed_,
                    options_.dryRun ? "would be pruned" : "pruned");
        return result_;
    }

    // Removes a file that is recorded as pruned; a failure leaves it
    // recorded, which readers accept and the next prune finishes.
    void Remove(const TrailPart &part) {
        if (DeleteFileW(Wide(part.path).c_str())) {
            ++removed_;
            return;
        }
        std::fprintf(stderr, "qz45trail: cannot delete %s: %s; it is recorded as pruned, so "
                     "verify, ship and the view leave it out, and the next prune removes it\n",
                     part.name.c_str(), ErrorText(GetLastError()).c_str());
        result_ = WorseExitCode(result_, kExitFailed);
    }

    // A prune stopped between its record and the file's removal, or one
    // that could not remove a file, is finished: the file must still be the
    // one recorded, and an archive must hold its copy.
    void FinishLeftover(const Leftover &leftover) {
        const TrailPart &part = leftover.part;
        const PrunedFile &record = leftover.record;
        std::string why;
        {
            // Deleted already, its name kept until a reader lets go of it.
            TrailFile::OpenResult opened;
            if (TrailFile::Open(part.path, &opened, &why) == nullptr) {
                std::printf("%s is recorded as pruned and on its way out (%s)\n",
                            part.name.c_str(), why.c_str());
                return;
            }
        }
        RotatedFile rotated;
        if (!ReadRotatedFile(part, &rotated, &why) || rotated.lastLine != record.lastLine ||
            rotated.lastHash != record.lastHash || part.firstLine != record.firstLine) {
            std::printf("%s is recorded as pruned (lines %lld-%lld) but holds other lines: left "
                        "as it is\n", part.name.c_str(), record.firstLine, record.lastLine);
            result_ = WorseExitCode(result_, kExitBroken);
            return;
        }
        const std::string archive = ArchiveOf(record.action);
        if (!archive.empty()) {
            const Archived a = CopyToArchive(part, archive, options_.dryRun, &why);
            if (a == Archived::kConflict || a == Archived::kFailed) {
                std::printf("cannot finish pruning %s (recorded as moved to %s): %s\n",
                            part.name.c_str(), archive.c_str(), why.c_str());
                result_ = WorseExitCode(result_, kExitFailed);
                return;
            }
        }
        std::printf("%s pruning %s (recorded as pruned, still there): %s\n",
                    options_.dryRun ? "would finish" : "finished", part.name.c_str(),
                    record.action.c_str());
        if (!options_.dryRun) Remove(part);
    }

    // Which files go, decided without the writers' lock: the oldest rotated
    // files in a row, each with every line in the database, its last line
    // older than keepDays, and its copy in the archive. False (the verdict
    // set) when a file does not follow on from the one before, or cannot be
    // read.
    bool ChooseGoing(const Database &db, const std::vector<TrailPart> &parts,
                     std::vector<RotatedFile> *going) {
        const std::string before = options_.keepDays > 0 ? DaysAgo(options_.keepDays) : "";
        long long expected = parts[0].firstLine;
        std::string why;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            RotatedFile rotated;
            if (parts[i].firstLine != expected) {
                std::printf("kept %s and after: it starts at line %lld, not %lld\n",
                            parts[i].name.c_str(), parts[i].firstLine, expected);
                result_ = WorseExitCode(result_, kExitBroken);
                return false;
            }
            if (!ReadRotatedFile(parts[i], &rotated, &why)) {
                std::printf("kept %s and after: %s\n", parts[i].name.c_str(), why.c_str());
                result_ = WorseExitCode(result_, kExitBroken);
                return false;
            }
            expected = rotated.lastLine + 1;
            if (!before.empty() && rotated.lastSubmitted >= before) {
                std::printf("kept %s and after: its last line is from %s, within %lld day(s)\n",
                            rotated.part.name.c_str(), rotated.lastSubmitted.c_str(),
                            options_.keepDays);
                break;
            }
            const long long missing =
                FirstLineNotHeld(db, machine_, rotated.part.firstLine, rotated.lines);
            if (missing != 0) {
                std::printf("kept %s and after: line %lld is not in the database for machine %s "
                            "as the file has it (not shipped yet, or changed)\n",
                            rotated.part.name.c_str(), missing, machine_.c_str());
                break;
            }
            if (!options_.archive.empty()) {
                const Archived a =
                    CopyToArchive(rotated.part, options_.archive, options_.dryRun, &why);
                if (a == Archived::kConflict || a == Archived::kFailed) {
                    std::printf("kept %s and after: %s; nothing of it recorded or removed\n",
                                rotated.part.name.c_str(), why.c_str());
                    result_ = WorseExitCode(result_, kExitFailed);
                    break;
                }
            }
            going->push_back(std::move(rotated));
        }
        return true;
    }

    // The files chosen, each recorded as pruned and then removed, under the
    // writers' lock. False (the verdict set) when the record cannot be
    // written.
    bool RecordAndRemove(const std::vector<RotatedFile> &going) {
        const std::string action = PruneAction(options_.archive);
        std::unique_ptr<WritersLock> lock;
        if (!options_.dryRun && !going.empty()) lock = std::make_unique<WritersLock>(options_.file);
        std::string why;
        for (const RotatedFile &rotated : going) {
            std::printf("%s %s (lines %lld-%lld, last hash %s): %s\n",
                        options_.dryRun ? "would prune" : "pruned", rotated.part.name.c_str(),
                        rotated.part.firstLine, rotated.lastLine, rotated.lastHash.c_str(),
                        action.c_str());
            if (options_.dryRun) {
                ++removed_;
                continue;
            }
            if (!Record(options_.file, rotated, action, &why)) {
                std::fprintf(stderr, "qz45trail: %s\n", why.c_str());
                result_ = WorseExitCode(result_, kExitFailed);
                return false;
            }
            Remove(rotated.part);
        }
        return true;
    }

    const PruneOptions &options_;
    const std::string machine_;
    int result_ = kExitOk;
    int removed_ = 0;
};

}  // namespace

int Prune(const PruneOptions &options) {
    Pruner pruner(options);
    return pruner.Run();
}

}  // namespace qz45trail
