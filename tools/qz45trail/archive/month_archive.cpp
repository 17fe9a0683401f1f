// qz45trail archive and restore: months of the trail table out to files
// that verify checks offline, and back.
#include "month_archive.h"

#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "archive_queries.h"
#include "computer_name.h"
#include "exit_codes.h"
#include "line_range.h"
#include "local_time.h"
#include "month_files.h"
#include "sha256.h"
#include "trail_file.h"
#include "trail_set.h"
#include "transaction.h"
#include "utc_time.h"

namespace qz45trail {
namespace {

// A machine's name as a folder name: characters a file name cannot hold
// written as %XX.
std::string FolderOf(const std::string &machine) {
    std::string out;
    for (const unsigned char c : machine) {
        if (c < 0x20 || std::string("<>:\"/\\|?*%").find(static_cast<char>(c)) != std::string::npos) {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out == "." || out == ".." ? "%2E" + out.substr(1) : out;
}

std::string Join(const std::string &folder, const std::string &name) {
    if (folder.empty()) return name;
    const char last = folder.back();
    return folder + (last == '\\' || last == '/' ? "" : "\\") + name;
}

// A line's chain members, from its last 149 bytes; "" when it has none.
std::string Member(const std::string &line, bool hash) {
    if (line.size() < 149 || line.compare(line.size() - 149, 9, ",\"prev\":\"") != 0 ||
        line.compare(line.size() - 76, 10, "\",\"hash\":\"") != 0)
        return "";
    return line.substr(line.size() - (hash ? 66 : 140), 64);
}

// Whether the manifest at path names the files given; its SHA-256 then.
bool SameFiles(const std::string &path, const nlohmann::json &files, std::string *sha256) {
    std::string text, why;
    TrailFile::OpenResult opened;
    const std::unique_ptr<TrailFile> file = TrailFile::Open(path, &opened, &why);
    uint64_t size = 0;  // a manifest is small: one read
    if (file == nullptr || !file->Size(&size, &why) || size > (1u << 24)) return false;
    text.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    if (!file->ReadAt(0, &text[0], text.size(), &got, &why) || got != text.size()) return false;
    const nlohmann::json old = nlohmann::json::parse(text, nullptr, false);
    if (!old.is_object() || !old.contains("files") || old["files"] != files) return false;
    return Sha256Hex(text, sha256);
}

// One machine's file of the month, as the manifest names it.
struct MonthFile {
    MachineRun run;
    std::string file, sha256, firstPrev, lastHash;
    unsigned long long bytes = 0;
};

class MonthArchiver {
public:
    MonthArchiver(const Database &db, const ArchiveOptions &o) : db_(db), o_(o) {}

    // The month written, checked, taken out; false with what stopped it.
    bool Archive(const TableMonth &m, std::string *why) {
        files_.clear();
        for (const MachineRun &run : MachineRuns(db_, m))
            if (!Check(m, run, why) || !Write(m, run, why)) return false;
        if (!WriteManifest(m, why) || !Compare(m, false, why)) return false;
        {
            Transaction out(db_.connection);
            DetachMonth(db_, m);
            RecordArchive(db_, m, "archived", o_.folder, manifestSha_, MachinesJson(), user_);
            out.Commit();
        }
        long long lines = 0;
        for (const MonthFile &f : files_) lines += f.run.count;
        std::printf("%s: %lld line(s) of %zu machine(s) archived in %s (manifest-%s.json, "
                    "SHA-256 %s); the month is out of the table as %s\n",
                    m.month.c_str(), lines, files_.size(), o_.folder.c_str(), m.month.c_str(),
                    manifestSha_.c_str(), m.name.c_str());
        if (!o_.drop) return true;
        if (!Compare(m, true, why)) return false;
        Transaction dropping(db_.connection);
        DropMonth(db_, m);
        RecordArchive(db_, m, "dropped", o_.folder, manifestSha_, MachinesJson(), user_);
        dropping.Commit();
        std::printf("%s: compared again, and dropped\n", m.month.c_str());
        return true;
    }

private:
    // A month's lines of a machine are one run, which the table goes on
    // from: a month can be verified as a part of the machine's trail.
    bool Check(const TableMonth &m, const MachineRun &run, std::string *why) {
        if (run.count != run.last - run.first + 1) {
            *why = run.machine + "'s lines in " + m.month + " are not one run (" +
                   std::to_string(run.count) + " of " + LineRange(run.first, run.last) +
                   "): verify --odbc says which are missing; nothing archived";
            return false;
        }
        const long long after = FirstLineAfter(db_, run.machine, m);
        if (after != 0 && after != run.last + 1) {
            *why = run.machine + "'s lines go on after " + m.month + " with line " +
                   std::to_string(after) + ", not " + std::to_string(run.last + 1) +
                   ": nothing archived";
            return false;
        }
        return true;
    }

    Lines LinesOf(const TableMonth &m, const std::string &machine, bool detached) const {
        return [this, m, machine, detached](const std::function<void(const std::string &)> &each) {
            ForEachMonthLine(db_, m, detached, machine,
                             [&each](long long, const std::string &, const std::string &text) {
                                 each(text);
                             });
        };
    }

    // The machine's month as a rotated file of its trail in the archive:
    // the files of its months in one folder read as one trail.
    bool Write(const TableMonth &m, const MachineRun &run, std::string *why) {
        MonthFile f;
        f.run = run;
        UtcTime firstTime;
        bool timed = false;
        std::string first, last;
        ForEachMonthLine(db_, m, false, run.machine,
                         [&](long long n, const std::string &submitted, const std::string &text) {
                             if (n == run.first) {
                                 first = text;
                                 timed = !submitted.empty() && ParseUtc(submitted, &firstTime);
                             }
                             if (n == run.last) last = text;
                         });
        if (!timed) firstTime = m.start;
        const std::string folder = Join(o_.folder, FolderOf(run.machine));
        if (!MakeFolder(folder, why) || !MakeEmptyFile(Join(folder, "audit-trail.jsonl"), why))
            return false;
        const TrailName trail{folder + "\\", "audit-trail", ".jsonl"};
        f.file = FolderOf(run.machine) + "\\" + RotatedName(trail, firstTime, run.first);
        f.firstPrev = Member(first, false);
        f.lastHash = Member(last, true);
        const std::string path = Join(o_.folder, f.file);
        bool same = false;
        std::string sha;
        // A file left by an archive that stopped after writing it.
        if (SameLines(path, LinesOf(m, run.machine, false), &same, &sha, why) && same) {
            f.sha256 = sha;
        } else if (!WriteLines(path, LinesOf(m, run.machine, false), &f.sha256, &f.bytes, why)) {
            return false;
        }
        files_.push_back(f);
        return true;
    }

    std::string MachinesJson() const {
        nlohmann::json machines = nlohmann::json::array();
        for (const MonthFile &f : files_)
            machines.push_back({{"machine", f.run.machine},
                                {"first", f.run.first},
                                {"last", f.run.last},
                                {"first_prev", f.firstPrev},
                                {"hash", f.lastHash},
                                {"file", f.file},
                                {"sha256", f.sha256}});
        return machines.dump();
    }

    bool WriteManifest(const TableMonth &m, std::string *why) {
        nlohmann::json manifest = {
            {"month", m.month},
            {"table", m.name},
            {"written", UtcText(NowUtc())},
            {"by", user_},
            {"files", nlohmann::json::parse(MachinesJson())},
        };
        const std::string text = manifest.dump(2);
        unsigned long long bytes = 0;
        const std::string path = Join(o_.folder, "manifest-" + m.month + ".json");
        // A manifest left by an archive that stopped after it is written
        // anew only when it says the same.
        bool same = false;
        std::string sha;
        const Lines lines = [&text](const std::function<void(const std::string &)> &each) {
            std::size_t at = 0;
            while (at < text.size()) {
                const std::size_t end = text.find('\n', at);
                each(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
                if (end == std::string::npos) break;
                at = end + 1;
            }
        };
        if (SameLines(path, lines, &same, &sha, why) && same) {
            manifestSha_ = sha;
            return true;
        }
        // The month archived before, and restored: its manifest names the
        // same files, which are kept.
        if (SameFiles(path, manifest["files"], &manifestSha_)) return true;
        return WriteLines(path, lines, &manifestSha_, &bytes, why);
    }

    // Each file against the month's lines in the table (or, detached, in
    // its own table), byte for byte.
    bool Compare(const TableMonth &m, bool detached, std::string *why) {
        for (const MonthFile &f : files_) {
            bool same = false;
            std::string sha;
            const std::string path = Join(o_.folder, f.file);
            if (!SameLines(path, LinesOf(m, f.run.machine, detached), &same, &sha, why))
                return false;
            if (!same || sha != f.sha256) {
                *why = path + " differs from " + f.run.machine + "'s lines of " + m.month +
                       " in the database: the month stays in the table";
                return false;
            }
        }
        return true;
    }

    const Database &db_;
    const ArchiveOptions &o_;
    const std::string user_ = WindowsUser();
    std::vector<MonthFile> files_;
    std::string manifestSha_;
};

}  // namespace

int ArchiveMonths(const ArchiveOptions &o) {
    TableMonth before;
    if (!MonthNamed(o.before, &before)) {
        std::fprintf(stderr, "qz45trail: --before %s is not a month (2026-01)\n", o.before.c_str());
        return kExitUsage;
    }
    const UtcTime now = NowUtc();
    if (before.start.year * 12 + before.start.month > now.year * 12 + now.month) {
        std::fprintf(stderr, "qz45trail: --before %s: this month still takes rows; months before "
                             "it can be archived\n", o.before.c_str());
        return kExitUsage;
    }
    std::string why;
    if (!MakeFolder(o.folder, &why)) {
        std::fprintf(stderr, "qz45trail: %s\n", why.c_str());
        return kExitFailed;
    }
    Database db(o.connection);
    MonthArchiver archiver(db, o);
    int archived = 0;
    for (const TableMonth &m : AttachedMonths(db.connection)) {
        if (SecondsBetween(m.start, before.start) <= 0) break;
        if (!archiver.Archive(m, &why)) {
            std::fprintf(stderr, "qz45trail: %s: %s\n", m.month.c_str(), why.c_str());
            return kExitFailed;
        }
        ++archived;
    }
    if (archived == 0) std::printf("no month before %s in the table\n", o.before.c_str());
    return kExitOk;
}

int RestoreMonth(const RestoreOptions &o) {
    Database db(o.connection);
    TableMonth m;
    if (!MonthNamed(o.month, &m)) {
        std::fprintf(stderr, "qz45trail: %s is not a month (2026-01)\n", o.month.c_str());
        return kExitUsage;
    }
    if (!DetachedMonth(db, o.month, &m)) {
        std::fprintf(stderr, "qz45trail: %s is not a month taken out of the table (%s is in it, "
                             "was dropped, or never was)\n", o.month.c_str(), m.name.c_str());
        return kExitFailed;
    }
    Transaction in(db.connection);
    AttachMonth(db, m);
    RecordArchive(db, m, "restored", "", "", "[]", WindowsUser());
    in.Commit();
    std::printf("%s: back in the table\n", o.month.c_str());
    return kExitOk;
}

}  // namespace qz45trail
