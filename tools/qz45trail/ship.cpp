#include "ship.h"

#include <io.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

#include "database.h"
#include "exit_codes.h"
#include "sha256.h"
#include "ship_log.h"
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

// What is stored is no longer what this shipper knows: another shipper of
// the machine stored lines, or lines ahead were pruned. The stored lines are
// read again, checked against the file, and shipping goes on after them.
struct Resync : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Resyncs in a row without a batch shipped before the shipper gives up.
constexpr int kMostResyncs = 100;

// Progress where no console shows it: a plain line at most this often.
constexpr ULONGLONG kPlainProgressMs = 10 * 1000;

// The lines read for a trail's first chained line before its first line
// stands for it.
constexpr long long kFingerprintLines = 1000;

class Shipper {
public:
    explicit Shipper(const ShipOptions &o)
        : o_(o), machine_(o.machine.empty() ? ComputerName() : o.machine),
          terminal_(_isatty(_fileno(stdout)) != 0), start_(GetTickCount64()) {}

    int Run() {
        std::string error;
        if (!o_.log.empty() && !log_.Open(o_.log, &error)) {
            Failed("cannot open the log " + o_.log + ": " + error);
            return kExitFailed;
        }
        log_.Line("start: shipping " + o_.file + " as machine " + machine_ +
                  (o_.follow ? ", following it" : ""));
        DWORD backoff = 1000;
        // Waiting may mend what a follower meets: said, logged, and tried
        // again after 1 s, doubling up to 30 s.
        const auto retry = [this, &backoff](const std::string &why) {
            std::fprintf(stderr, "qz45trail: %s; trying again in %lu s\n", why.c_str(),
                         backoff / 1000);
            std::fflush(stderr);
            log_.Line("retrying in " + std::to_string(backoff / 1000) + " s: " + why);
            Sleep(backoff);
            backoff = backoff * 2 > 30000 ? 30000 : backoff * 2;
        };
        for (;;) {
            try {
                if (!OpenTrail()) return kExitFailed;
                break;
            } catch (const ReadFailure &e) {
                if (!o_.follow) {
                    Failed(e.what());
                    return kExitFailed;
                }
                retry(e.what());
            }
        }
        backoff = 1000;
        for (bool first = true;; first = false) {
            try {
                Database db(o_.connection);
                connected_ = true;
                if (EnsureTables(db)) {
                    const std::string warning =
                        "created the tables audit_trail and audit_trail_shipments, owned by this "
                        "connection's role; in the plant set-up an administrative role owns them "
                        "(audit_trail_setup.sql) and the shipper's role may only SELECT and INSERT";
                    std::fprintf(stderr, "qz45trail: warning: %s\n", warning.c_str());
                    log_.Line("warning: " + warning);
                }
                Reposition();
                if (!elsewhereChecked_) CheckNotStoredElsewhere(db);
                Sync(db);
                const std::string held = std::to_string(committedLines_) + " line(s) in the database";
                log_.Line(std::string(first ? "connected" : "reconnected") + ": " + held);
                if (o_.follow) {
                    std::printf("%s %s as machine %s: %s\n",
                                first ? "following" : "reconnected; following", o_.file.c_str(),
                                machine_.c_str(), held.c_str());
                    std::fflush(stdout);
                }
                backoff = 1000;
                ShipAll(db);
                return kExitOk;
            } catch (const Refusal &e) {
                return Stop(e.what(), kExitBroken);
            } catch (const ReadFailure &e) {
                // A file that cannot be read now (held, a drive away) may be
                // readable later: a follower tries again.
                if (!o_.follow) return Stop(e.what(), kExitFailed);
                retry(e.what());
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
                if (!o_.follow || !e.Transient()) return Stop(e.what(), kExitFailed);
                retry(e.what());
            } catch (const std::exception &e) {
                return Stop(e.what(), kExitFailed);
            }
        }
    }

private:
    // Opens the trail (its rotated files and the current one); with follow,
    // waits until it exists.
    bool OpenTrail() {
        std::string said;
        for (;;) {
            std::vector<TrailPart> parts;
            std::string error;
            FileIdentity id;
            const TrailFile::OpenResult named = TrailFile::IdentityOf(o_.file, &id, &error);
            if (named == TrailFile::OpenResult::kOpened) break;
            if (named == TrailFile::OpenResult::kMissing && ListTrailSet(o_.file, &parts, &error) &&
                parts.size() > 1)
                break;  // rotated a moment ago: the new file comes with the next line
            if (!o_.follow) {
                Failed("cannot read " + o_.file + ": " + error);
                return false;
            }
            // A follower waits for a trail to appear, or to be readable.
            const std::string now = named == TrailFile::OpenResult::kMissing
                                        ? "waiting for " + o_.file + " to appear"
                                        : "cannot read " + o_.file + ": " + error +
                                              "; looking again every second";
            if (now != said) {
                std::printf("%s\n", now.c_str());
                std::fflush(stdout);
                log_.Line(now);
                said = now;
            }
            Sleep(1000);
        }
        Reposition();
        return true;
    }

    // Another shipper's lines, or lines pruned ahead: said in the log, and
    // the loop reads what is stored again. False after too many in a row.
    bool Resynced(const std::string &why) {
        log_.Line("resync: " + why);
        return ++resyncs_ <= kMostResyncs;
    }

    // A reader of the trail that goes on after the lines known to be in the
    // database: the files are listed again, and read up to there.
    void Reposition() {
        reader_ = std::make_unique<TrailSetReader>(o_.file, false, o_.follow);
        std::string error, line;
        if (!reader_->Open(&error)) throw ReadFailure(error);
        // The lines before the files' first were pruned: the database must
        // hold them (checked by Sync before anything is shipped).
        if (committedLines_ < reader_->FirstLine() - 1) {
            committedLines_ = reader_->FirstLine() - 1;
            prefixUnchecked_ = true;
        }
        while (reader_->Number() < committedLines_) {
            const long long n = reader_->Number() + 1;
            if (!NextStored(&line, n))
                throw Refusal(o_.file + " has fewer lines than the " + std::to_string(committedLines_) +
                              " shipped from it: it was cut off or replaced; stopped");
        }
    }

    int Stop(const std::string &why, int code) {
        const std::string summary = Summary();
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
        ReportShipFailure("qz45trail ship " + o_.file + " (machine " + machine_ + ") stopped: " +
                          why);
    }

    // Before a trail's first line goes in under a machine that holds none:
    // another machine that holds it already. Its first chained line (whose
    // hash covers the chain up to it) or, when none of the first lines is
    // chained, its first line, stored at the same position for another
    // machine, is that machine's trail: shipping it again under this name
    // would hold one trail twice.
    void CheckNotStoredElsewhere(const Database &db) {
        {
            OdbcStatement any(db.connection);
            any.Prepare("SELECT MIN(line_no) FROM audit_trail WHERE machine = ?");
            any.BindText(1, &machine_);
            any.Execute();
            long long n = 0;
            const bool holds = any.Fetch() && any.GetInteger(1, &n);
            any.CloseCursor();
            db.connection.Rollback();
            if (holds) {
                elsewhereChecked_ = true;
                return;
            }
        }
        TrailSetReader reader(o_.file);
        std::string error, line, why, sha;
        if (!reader.Open(&error)) throw ReadFailure(error);
        Sha256 hasher;
        Row row;
        long long at = 0;
        for (long long read = 0; read < kFingerprintLines && reader.Next(&line) == LineResult::kLine;
             ++read) {
            // A line that is not a trail line is refused when its turn comes.
            if (!RowFromLine(machine_, reader.Number(), line, &row, &why, &hasher)) break;
            if (at == 0 || !row[kLineHash].null) {
                at = reader.Number();
                sha = row[kLineSha256].text;
            }
            if (!row[kLineHash].null) break;
        }
        if (at == 0) return;  // no line yet: looked at again with the first one
        elsewhereChecked_ = true;
        const std::string other = StoredElsewhere(db, machine_, at, sha);
        if (!other.empty())
            throw Refusal(o_.file + " line " + std::to_string(at) + " is stored as line " +
                          std::to_string(at) + " of machine " + other + ": this trail was shipped "
                          "as machine " + other + " (ship it on with --machine " + other +
                          "); nothing shipped as machine " + machine_);
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
            if (reader_->PrunedMeanwhile()) throw Resync(reader_->Error());
            throw Refusal(o_.file + ": " + reader_->Error() + "; shipping stops at line " +
                          std::to_string(n));
        case LineResult::kError: break;
        }
        throw ReadFailure("cannot read " + o_.file + " line " + std::to_string(n) + ": " +
                          reader_->Error());
    }

    // The next line, which the database holds already: a follower gives a
    // trail being rotated a few seconds to show it.
    bool NextStored(std::string *line, long long n) {
        for (int tries = 0;; ++tries) {
            if (Next(line, n)) return true;
            if (!o_.follow || tries >= 50) return false;
            Sleep(100);
        }
    }

    // Reads what the database holds for this machine past the lines known to
    // be there, checks each against the file, and moves past them.
    void Sync(const Database &db) {
        if (prefixUnchecked_) {
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
            prefixUnchecked_ = false;
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
            if (!NextStored(&line, n))
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
            if (!batch.empty()) Claim(db);
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
                log_.Line("shipped " + Lines(committedLines_ + 1, batch.back()[kLineNo].number));
                committedLines_ += static_cast<long long>(batch.size());
                shipped_ += static_cast<long long>(batch.size());
                resyncs_ = 0;
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
                log_.Line("done: " + Summary());
                if (reader_->Unfinished() > 0)
                    std::printf("the last line of %s has no line end yet: left for the next run\n",
                                o_.file.c_str());
                return;
            }
            CheckSameFile();
            Sleep(250);
            fill(&batch, committedLines_, &bad);
            NoteWaiting();
        }
    }

    // A follower goes on through rotations (the reader follows the files),
    // and stops when the file it reads is cut back before lines it shipped.
    void CheckSameFile() {
        if (reader_->CutShort())
            throw Refusal(o_.file + " is shorter than the " + std::to_string(committedLines_) +
                          " line(s) shipped from it: it was cut off or replaced; stopped");
    }

    // The files do not go on yet although something is there (a listing
    // that disagrees with the last, a file that cannot be read now): said
    // once in the log and on standard error, and again when it is over.
    void NoteWaiting() {
        const std::string now = reader_->Waiting();
        if (now == waiting_) return;
        const std::string text =
            now.empty() ? "going on: " + waiting_ + " no longer holds"
                        : "waiting after line " + std::to_string(reader_->Number()) + ": " + now;
        waiting_ = now;
        log_.Line(text);
        std::fprintf(stderr, "qz45trail: %s\n", text.c_str());
        std::fflush(stderr);
    }

    // Before a batch goes in: the machine's lock for this transaction (a
    // second shipper of the machine waits here until this batch is
    // committed), and the lines stored meanwhile by another shipper, which
    // this one reads again before it ships on.
    void Claim(const Database &db) {
        if (db.postgres) {
            std::string sha;
            Sha256Hex("qz45trail ship " + machine_, &sha);
            const long long key =
                static_cast<long long>(std::stoull(sha.substr(0, 16), nullptr, 16));
            OdbcStatement lock(db.connection);
            lock.Prepare("SELECT pg_advisory_xact_lock(?)");
            lock.BindInteger(1, &key);
            lock.Execute();
            lock.CloseCursor();
        }
        const long long stored = StoredThrough(db, machine_);
        if (stored > committedLines_)
            throw Resync("another shipper stored " + Lines(committedLines_ + 1, stored) +
                         " of machine " + machine_ + " meanwhile");
    }

    double Seconds() const { return static_cast<double>(GetTickCount64() - start_) / 1000.0; }

    static std::string Lines(long long from, long long to) {
        return from == to ? "line " + std::to_string(from)
                          : "lines " + std::to_string(from) + "-" + std::to_string(to);
    }

    // On a console one line, rewritten at most twice a second; elsewhere
    // (a file, a pipe, a scheduled task's nothing) a line of its own at most
    // every kPlainProgressMs.
    void Progress() {
        const ULONGLONG now = GetTickCount64();
        if (shown_ != 0 && now - shown_ < (terminal_ ? 500 : kPlainProgressMs)) return;
        shown_ = now;
        std::printf("%sshipping %s: %lld line(s) shipped, %lld already present, %.0f s%s",
                    terminal_ ? "\r" : "", o_.file.c_str(), shipped_, present_, Seconds(),
                    terminal_ ? " " : "\n");
        std::fflush(stdout);
    }

    // Prints the summary and returns it ("" before a connection).
    std::string Summary() {
        if (!connected_) return "";
        if (terminal_ && shown_ != 0) std::printf("\n");
        const double s = Seconds();
        char rate[64];
        std::snprintf(rate, sizeof rate, "%.1f s (%.0f lines/s)", s,
                      s > 0 ? static_cast<double>(shipped_) / s : 0.0);
        const std::string text = o_.file + " -> machine " + machine_ + ": " +
                                 std::to_string(shipped_) + " line(s) shipped, " +
                                 std::to_string(present_) + " already present, " + rate;
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
        return text;
    }

    const ShipOptions &o_;
    const std::string machine_;
    std::unique_ptr<TrailSetReader> reader_;
    const bool terminal_;
    const ULONGLONG start_;
    ShipLog log_;
    ULONGLONG shown_ = 0;
    bool connected_ = false;
    bool elsewhereChecked_ = false;
    bool prefixUnchecked_ = false;  // the pruned lines are yet to be counted in the database
    int resyncs_ = 0;
    std::string waiting_;
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
        ReportShipFailure("qz45trail ship " + options.file + " stopped: " + e.what());
        return kExitFailed;
    }
}

}  // namespace qz45trail
