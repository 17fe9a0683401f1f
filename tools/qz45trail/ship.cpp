#include "ship.h"

#include <io.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "database.h"
#include "exit_codes.h"
#include "sha256.h"
#include "trail_file.h"
#include "trail_set.h"
#include "verify.h"

namespace qz45trail {
namespace {

// Refusing to go on: the file and the database disagree, a line is not a
// trail line, the file was replaced. Never retried.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The file could not be read. Never retried.
struct ReadFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Shipper {
public:
    explicit Shipper(const ShipOptions &o)
        : o_(o), machine_(o.machine.empty() ? ComputerName() : o.machine),
          terminal_(_isatty(_fileno(stdout)) != 0), start_(GetTickCount64()) {}

    int Run() {
        try {
            if (!OpenTrail()) return kExitFailed;
        } catch (const ReadFailure &e) {
            std::fprintf(stderr, "qz45trail: %s\n", e.what());
            return kExitFailed;
        }
        DWORD backoff = 1000;
        for (bool first = true;; first = false) {
            try {
                Database db(o_.connection);
                connected_ = true;
                EnsureTables(db);
                Reposition();
                Sync(db);
                if (o_.follow) {
                    std::printf("%s %s as machine %s: %lld line(s) in the database\n",
                                first ? "following" : "reconnected; following", o_.file.c_str(),
                                machine_.c_str(), committedLines_);
                    std::fflush(stdout);
                }
                backoff = 1000;
                ShipAll(db);
                return kExitOk;
            } catch (const Refusal &e) {
                return Stop(e.what(), kExitBroken);
            } catch (const ReadFailure &e) {
                return Stop(e.what(), kExitFailed);
            } catch (const OdbcError &e) {
                if (!o_.follow || !e.Transient()) return Stop(e.what(), kExitFailed);
                std::fprintf(stderr, "qz45trail: %s; trying again in %lu s\n", e.what(),
                             backoff / 1000);
                std::fflush(stderr);
                Sleep(backoff);
                backoff = backoff * 2 > 30000 ? 30000 : backoff * 2;
            }
        }
    }

private:
    // Opens the trail (its rotated files and the current one); with follow,
    // waits until it exists.
    bool OpenTrail() {
        bool said = false;
        for (;;) {
            std::vector<TrailPart> parts;
            std::string error;
            FileIdentity id;
            const TrailFile::OpenResult named = TrailFile::IdentityOf(o_.file, &id, &error);
            if (named == TrailFile::OpenResult::kOpened) break;
            if (named == TrailFile::OpenResult::kMissing && ListTrailSet(o_.file, &parts, &error) &&
                parts.size() > 1)
                break;  // rotated a moment ago: the new file comes with the next line
            if (named != TrailFile::OpenResult::kMissing || !o_.follow) {
                std::fprintf(stderr, "qz45trail: cannot read %s: %s\n", o_.file.c_str(),
                             error.c_str());
                return false;
            }
            if (!said) {
                std::printf("waiting for %s to appear\n", o_.file.c_str());
                std::fflush(stdout);
                said = true;
            }
            Sleep(1000);
        }
        Reposition();
        committedLines_ = reader_->FirstLine() - 1;
        return true;
    }

    // A reader of the trail that goes on after the lines known to be in the
    // database: the files are listed again, and read up to there.
    void Reposition() {
        reader_ = std::make_unique<TrailSetReader>(o_.file);
        std::string error, line;
        if (!reader_->Open(&error)) throw ReadFailure(error);
        if (reader_->FirstLine() > 1 && committedLines_ == 0) return;  // the first time
        while (reader_->Number() < committedLines_) {
            const long long n = reader_->Number() + 1;
            if (!Next(&line, n))
                throw Refusal(o_.file + " has fewer lines than the " + std::to_string(committedLines_) +
                              " shipped from it: it was cut off or replaced; stopped");
        }
    }

    int Stop(const char *why, int code) {
        Summary();
        std::fprintf(stderr, "qz45trail: %s\n", why);
        return code;
    }

    // The next whole line, false at the end; a read failure, a line too long
    // for a trail or files that do not follow on from one another throw.
    bool Next(std::string *line, long long n) {
        switch (reader_->Next(line)) {
        case LineResult::kLine: return true;
        case LineResult::kEnd: return false;
        case LineResult::kTooLong:
            throw Refusal(o_.file + " line " + std::to_string(n) +
                          " is longer than any trail line: shipping stops there, the " +
                          std::to_string(n - 1) + " line(s) before it are in the database");
        case LineResult::kBroken:
            throw Refusal(o_.file + ": " + reader_->Error() + "; shipping stops at line " +
                          std::to_string(n));
        case LineResult::kError: break;
        }
        throw ReadFailure("cannot read " + o_.file + " line " + std::to_string(n) + ": " +
                          reader_->Error());
    }

    // Reads what the database holds for this machine past the lines known to
    // be there, checks each against the file, and moves past them.
    void Sync(const Database &db) {
        if (committedLines_ > 0 && committedLines_ == reader_->FirstLine() - 1 && present_ == 0) {
            // The files start after pruned lines: the database must hold those.
            OdbcStatement count(db.connection);
            count.Prepare("SELECT count(*) FROM audit_trail WHERE machine = ? AND line_no <= ?");
            count.BindText(1, &machine_);
            count.BindInteger(2, &committedLines_);
            count.Execute();
            long long held = 0;
            if (count.Fetch()) count.GetInteger(1, &held);
            count.CloseCursor();
            if (held != committedLines_)
                throw Refusal(o_.file + " starts at line " + std::to_string(committedLines_ + 1) +
                              " (the lines before it were pruned), but the database holds " +
                              std::to_string(held) + " of lines 1-" + std::to_string(committedLines_) +
                              " of machine " + machine_ + ": nothing shipped");
        }
        OdbcStatement select(db.connection);
        select.Prepare("SELECT line_no, line_sha256 FROM audit_trail WHERE machine = ? AND "
                       "line_no > ? ORDER BY line_no");
        select.BindText(1, &machine_);
        select.BindInteger(2, &committedLines_);
        select.Execute();
        std::string line, stored, sha;
        long long n = 0;
        while (select.Fetch()) {
            select.GetInteger(1, &n);
            select.GetText(2, &stored);
            const long long expected = committedLines_ + 1;
            if (n != expected)
                throw Refusal("the database holds line " + std::to_string(n) + " of machine " +
                              machine_ + " but not line " + std::to_string(expected) +
                              ": its rows were changed; nothing shipped");
            if (!Next(&line, n))
                throw Refusal("the database holds more lines of machine " + machine_ + " than " +
                              o_.file + " has (" + std::to_string(committedLines_) +
                              "): it is not the trail shipped from " + machine_ +
                              " (--machine names another machine), or its end was cut off; "
                              "nothing shipped");
            if (!Sha256Hex(line, &sha)) throw Refusal("cannot compute SHA-256");
            if (sha != stored)
                throw Refusal("line " + std::to_string(n) + " of " + o_.file +
                              " differs from the line stored for machine " + machine_ +
                              ": the file is not the trail shipped from " + machine_ +
                              ", or it was changed after shipping; nothing shipped");
            committedLines_ = n;
            ++present_;
        }
        db.connection.Rollback();
    }

    // Ships batch after batch; returns when done (without follow), never
    // with it. Failures throw.
    void ShipAll(const Database &db) {
        // The rows outlive the inserter, which may still be storing them.
        std::vector<Row> batch, next;
        RowInserter inserter(db);
        Sha256 hasher;
        std::string bad, nextBad, line, why;
        // The lines after line `after`, up to a batch, into rows; a line
        // that stops shipping said in stop.
        const auto fill = [&](std::vector<Row> *rows, long long after, std::string *stop) {
            rows->clear();
            stop->clear();
            while (rows->size() < static_cast<std::size_t>(kBatchLines)) {
                const long long n = after + static_cast<long long>(rows->size()) + 1;
                try {
                    if (!Next(&line, n)) break;
                } catch (const Refusal &e) {
                    *stop = e.what();
                    break;
                }
                rows->emplace_back();
                if (!RowFromLine(machine_, n, line, &rows->back(), &why, &hasher)) {
                    rows->pop_back();
                    *stop = o_.file + " line " + std::to_string(n) + " is not a trail line (" +
                            why + "): shipping stops there, the " + std::to_string(n - 1) +
                            " line(s) before it are in the database";
                    break;
                }
            }
        };
        fill(&batch, committedLines_, &bad);
        for (;;) {
            inserter.Start(batch);
            // A full batch: the next one read while this one goes in.
            const bool full = bad.empty() && batch.size() == static_cast<std::size_t>(kBatchLines);
            // A file that cannot be read stops the ship, but only after this
            // batch is in.
            std::string unreadable;
            if (full) {
                try {
                    fill(&next, committedLines_ + static_cast<long long>(batch.size()), &nextBad);
                } catch (const ReadFailure &e) {
                    unreadable = e.what();
                }
            }
            try {
                inserter.Finish();
            } catch (const OdbcError &e) {
                throw OdbcError(o_.file + " " + e.what(), e.State());
            }
            if (!batch.empty()) {
                LogShipment(db, machine_, committedLines_ + 1, batch.back()[kLineNo].number,
                            batch.back()[kLineSha256].text);
                db.connection.Commit();
                committedLines_ += static_cast<long long>(batch.size());
                shipped_ += static_cast<long long>(batch.size());
                Progress();
            }
            if (!bad.empty()) throw Refusal(bad);
            if (!unreadable.empty()) throw ReadFailure(unreadable);
            if (full) {
                batch.swap(next);
                bad.swap(nextBad);
                continue;
            }
            if (!o_.follow) {
                Summary();
                if (reader_->Unfinished() > 0)
                    std::printf("the last line of %s has no line end yet: left for the next run\n",
                                o_.file.c_str());
                return;
            }
            CheckSameFile();
            Sleep(250);
            fill(&batch, committedLines_, &bad);
        }
    }

    // A follower goes on through a rotation (the file it read renamed, a new
    // one under the trail's name), and stops when the file it reads is no
    // longer the trail: removed, replaced by another, or cut back before lines
    // it shipped.
    void CheckSameFile() {
        std::string why;
        const std::string shipped = std::to_string(committedLines_) + " line(s) shipped from it";
        if (!reader_->FollowRotation(&why))
            throw Refusal(o_.file + " " + why + " (" + shipped + "): stopped");
        if (reader_->CutShort())
            throw Refusal(o_.file + " is shorter than the " + shipped +
                          ": it was cut off or replaced; stopped");
    }

    double Seconds() const { return static_cast<double>(GetTickCount64() - start_) / 1000.0; }

    void Progress() {
        if (!terminal_) return;
        const ULONGLONG now = GetTickCount64();
        if (now - shown_ < 500) return;
        shown_ = now;
        std::printf("\rshipping %s: %lld line(s) shipped, %lld already present, %.0f s ",
                    o_.file.c_str(), shipped_, present_, Seconds());
        std::fflush(stdout);
    }

    void Summary() {
        if (!connected_) return;
        if (terminal_ && shown_ != 0) std::printf("\n");
        const double s = Seconds();
        std::printf("%s -> machine %s: %lld line(s) shipped, %lld already present, %.1f s "
                    "(%.0f lines/s)\n",
                    o_.file.c_str(), machine_.c_str(), shipped_, present_, s,
                    s > 0 ? static_cast<double>(shipped_) / s : 0.0);
        std::fflush(stdout);
    }

    const ShipOptions &o_;
    const std::string machine_;
    std::unique_ptr<TrailSetReader> reader_;
    const bool terminal_;
    const ULONGLONG start_;
    ULONGLONG shown_ = 0;
    bool connected_ = false;
    long long committedLines_ = 0;  // lines known to be in the database
    long long shipped_ = 0, present_ = 0;
};

}  // namespace

int Ship(const ShipOptions &options) {
    try {
        Shipper shipper(options);
        return shipper.Run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return kExitFailed;
    }
}

}  // namespace qz45trail
