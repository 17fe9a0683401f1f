// qz45trail ship: the order of shipping's steps (the trail opened, a
// connection, what is stored checked, batch after batch) and what follows a
// failure: tried again, read again, or the end.
#include "ship.h"

#include <windows.h>

#include <cstdio>
#include <vector>

#include "batch_commit.h"
#include "computer_name.h"
#include "database.h"
#include "exit_codes.h"
#include "line_range.h"
#include "row_inserter.h"
#include "schema.h"
#include "ship_errors.h"
#include "ship_log.h"
#include "ship_progress.h"
#include "shipped_lines.h"
#include "tables.h"
#include "trail_batches.h"

namespace qz45trail {
namespace {

// Resyncs in a row without a batch shipped before the shipper gives up.
constexpr int kMostResyncs = 100;

// The first wait before a try again, and the longest: doubled from one to
// the next.
constexpr DWORD kFirstBackoffMs = 1000;
constexpr DWORD kLongestBackoffMs = 30000;

class Shipper {
public:
    explicit Shipper(const ShipOptions &options)
        : options_(options), machine_(options.machine.empty() ? ComputerName() : options.machine),
          trail_(options.file, machine_, options.follow), progress_(options.file, machine_) {}

    int Run() {
        std::string error;
        if (!options_.log.empty() && !log_.Open(options_.log, &error)) {
            Failed("cannot open the log " + options_.log + ": " + error);
            return kExitFailed;
        }
        log_.Line("start: shipping " + options_.file + " as machine " + machine_ +
                  (options_.follow ? ", following it" : ""));
        if (!OpenTrail()) return kExitFailed;
        backoff_ = kFirstBackoffMs;
        for (bool first = true;; first = false) {
            try {
                ShipConnected(first);
                return kExitOk;
            } catch (const Refusal &e) {
                return Stop(e.what(), kExitBroken);
            } catch (const ReadFailure &e) {
                // A file that cannot be read now (held, a drive away) may be
                // readable later: a follower tries again.
                if (!options_.follow) return Stop(e.what(), kExitFailed);
                Retry(e.what());
            } catch (const Resync &e) {
                if (!Resynced(e.what())) return Stop(e.what(), kExitFailed);
            } catch (const OdbcError &e) {
                // 23505: a row of this machine at a position already taken,
                // stored by another shipper since this one read the table.
                if (e.State() == "23505") {
                    if (!Resynced(std::string("already stored: ") + e.what()))
                        return Stop(e.what(), kExitFailed);
                    continue;
                }
                if (e.LoginRefused())
                    return Stop(std::string("the database refused the login (") + e.what() +
                                    "): the connection's user, password or database is wrong, "
                                    "or the server does not admit this client; not retried",
                                kExitFailed);
                if (!options_.follow || !e.Transient()) return Stop(e.what(), kExitFailed);
                Retry(e.what());
            } catch (const std::exception &e) {
                return Stop(e.what(), kExitFailed);
            }
        }
    }

private:
    // Opens the trail; a follower waits until it exists and can be read.
    bool OpenTrail() {
        for (;;) {
            try {
                std::string failure;
                const auto say = [this](const std::string &why) {
                    std::printf("%s\n", why.c_str());
                    std::fflush(stdout);
                    log_.Line(why);
                };
                if (!trail_.WaitUntilThere(say, &failure)) {
                    Failed(failure);
                    return false;
                }
                Reposition();
                return true;
            } catch (const ReadFailure &e) {
                if (!options_.follow) {
                    Failed(e.what());
                    return false;
                }
                Retry(e.what());
            }
        }
    }

    // One connection: the tables made when missing, the trail read again up
    // to what is known to be stored, what else is stored checked against it,
    // then batch after batch. Failures throw.
    void ShipConnected(bool first) {
        Database db(options_.connection);
        monthsMade_ = 0;
        progress_.Connected();
        if (EnsureTables(db)) {
            const std::string warning =
                std::string("created the tables ") + kTrailTable + " and " + kShipmentsTable +
                ", owned by this connection's role; in the plant set-up an administrative role "
                "owns them (audit_trail_setup.sql) and the shipper's role may only SELECT and "
                "INSERT";
            std::fprintf(stderr, "qz45trail: warning: %s\n", warning.c_str());
            log_.Line("warning: " + warning);
        }
        Reposition();
        if (!elsewhereChecked_)
            elsewhereChecked_ = CheckNotStoredElsewhere(db, options_.file, machine_);
        CheckStoredLines(db, options_.file, machine_, &trail_, &position_);
        const std::string held =
            std::to_string(position_.committedLines) + " line(s) in the database";
        log_.Line(std::string(first ? "connected" : "reconnected") + ": " + held);
        if (options_.follow) {
            std::printf("%s %s as machine %s: %s\n", first ? "following" : "reconnected; following",
                        options_.file.c_str(), machine_.c_str(), held.c_str());
            std::fflush(stdout);
        }
        backoff_ = kFirstBackoffMs;
        ShipAll(db);
    }

    // Ships batch after batch; returns when done (without follow), never
    // with it. Failures throw.
    void ShipAll(const Database &db) {
        // The rows outlive the inserter, which may still be storing them.
        std::vector<Row> batch, next;
        RowInserter inserter(db);
        std::string stop, nextStop;  // a line that stops shipping, after the rows before it
        trail_.Fill(&batch, position_.committedLines, &stop);
        for (;;) {
            // A full batch: the next one read while this one goes in.
            const bool full = stop.empty() && batch.size() == static_cast<std::size_t>(kBatchLines);
            // A file that cannot be read stops the ship, but only after
            // this batch is in.
            std::string unreadable;
            if (!batch.empty()) {
                MakeMonthsDaily(db);
                BatchCommit commit(db, &inserter, machine_, options_.file,
                                   position_.committedLines, batch);
                if (full) {
                    try {
                        const long long after =
                            position_.committedLines + static_cast<long long>(batch.size());
                        trail_.Fill(&next, after, &nextStop);
                    } catch (const ReadFailure &e) {
                        unreadable = e.what();
                    }
                }
                commit.Commit();
                Shipped(batch);
            }
            if (!stop.empty()) throw Refusal(stop);
            if (!unreadable.empty()) throw ReadFailure(unreadable);
            if (full) {
                batch.swap(next);
                stop.swap(nextStop);
                continue;
            }
            if (!options_.follow) {
                log_.Line("done: " + progress_.Summary(position_.present));
                if (trail_.EndsUnfinished())
                    std::printf("the last line of %s has no line end yet: left for the next run\n",
                                options_.file.c_str());
                return;
            }
            trail_.CheckSameFile(position_.committedLines);
            Sleep(250);
            trail_.Fill(&batch, position_.committedLines, &stop);
            NoteWaiting();
        }
    }

    // The months ahead made, at a connection's first batch and once a day
    // after it, so that a shipper that follows for months has them.
    void MakeMonthsDaily(const Database &db) {
        const ULONGLONG now = GetTickCount64();
        if (monthsMade_ != 0 && now - monthsMade_ < 24ULL * 3600 * 1000) return;
        MakeMonths(db);
        monthsMade_ = now;
    }

    // A batch committed: logged, counted, shown.
    void Shipped(const std::vector<Row> &batch) {
        const long long first = position_.committedLines + 1;
        log_.Line("shipped " + LineRange(first, batch.back()[kLineNo].number));
        position_.committedLines += static_cast<long long>(batch.size());
        resyncs_ = 0;
        progress_.Shipped(static_cast<long long>(batch.size()), position_.present);
    }

    // The trail read anew up to the lines known to be in the database; when
    // its files start after pruned lines, those are known to be there once
    // the database is asked.
    void Reposition() {
        const long long through = trail_.Reposition(position_.committedLines);
        if (through > position_.committedLines) {
            position_.committedLines = through;
            position_.prefixUnchecked = true;
        }
    }

    // Waiting may mend what a follower meets: said, logged, and tried again
    // after a wait that doubles from one try to the next.
    void Retry(const std::string &why) {
        std::fprintf(stderr, "qz45trail: %s; trying again in %lu s\n", why.c_str(),
                     backoff_ / 1000);
        std::fflush(stderr);
        log_.Line("retrying in " + std::to_string(backoff_ / 1000) + " s: " + why);
        Sleep(backoff_);
        backoff_ = backoff_ * 2 > kLongestBackoffMs ? kLongestBackoffMs : backoff_ * 2;
    }

    // Another shipper's lines, or lines pruned ahead: said in the log, and
    // the loop reads what is stored again. False after too many in a row.
    bool Resynced(const std::string &why) {
        log_.Line("resync: " + why);
        return ++resyncs_ <= kMostResyncs;
    }

    // The files do not go on yet although something is there (a listing
    // that disagrees with the last, a file that cannot be read now): said
    // once in the log and on standard error, and again when it is over.
    void NoteWaiting() {
        const std::string now = trail_.Waiting();
        if (now == waiting_) return;
        const std::string text =
            now.empty() ? "going on: " + waiting_ + " no longer holds"
                        : "waiting after line " + std::to_string(trail_.Number()) + ": " + now;
        waiting_ = now;
        log_.Line(text);
        std::fprintf(stderr, "qz45trail: %s\n", text.c_str());
        std::fflush(stderr);
    }

    int Stop(const std::string &why, int code) {
        const std::string summary = progress_.Summary(position_.present);
        if (!summary.empty()) log_.Line("stopped: " + summary);
        Failed(why);
        return code;
    }

    // A failure that stops the ship: said on standard error, in the log and
    // in the event log.
    void Failed(const std::string &why) {
        std::fprintf(stderr, "qz45trail: %s\n", why.c_str());
        std::fflush(stderr);
        log_.Line("failed: " + why);
        ReportShipFailure("qz45trail ship " + options_.file + " (machine " + machine_ +
                          ") stopped: " + why);
    }

    const ShipOptions &options_;
    const std::string machine_;
    TrailBatches trail_;
    ShipProgress progress_;
    ShipLog log_;
    ShipPosition position_;
    bool elsewhereChecked_ = false;
    int resyncs_ = 0;
    DWORD backoff_ = kFirstBackoffMs;
    ULONGLONG monthsMade_ = 0;  // when the months ahead were made (0: not on this connection)
    std::string waiting_;
};

}  // namespace

int Ship(const ShipOptions &options) {
    try {
        Shipper shipper(options);
        return shipper.Run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        ReportShipFailure("qz45trail ship " + options.file + " stopped: " + e.what());
        return kExitFailed;
    }
}

}  // namespace qz45trail
