#include "prune.h"

#include <windows.h>

#include <cstdio>
#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "database.h"
#include "exit_codes.h"
#include "trail_chain.h"
#include "trail_file.h"
#include "trail_set.h"
#include "verify.h"
#include "win_handle.h"
#include "win_text.h"

namespace qz45trail {
namespace {

// The writers' lock on the trail (one byte far beyond the end of the current
// file), held while files go, so that no writer looks for the newest rotated
// file or the pruned record meanwhile.
class WritersLock {
public:
    explicit WritersLock(const std::string &current)
        : file_(CreateFileW(Wide(current).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {
        overlapped_.OffsetHigh = 0x40000000;  // byte 2^62, as the writers have it
        held_ = file_.Valid() &&
                LockFileEx(file_.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapped_) != FALSE;
    }
    ~WritersLock() {
        if (held_) UnlockFileEx(file_.Get(), 0, 1, 0, &overlapped_);
    }
    WritersLock(const WritersLock &) = delete;
    WritersLock &operator=(const WritersLock &) = delete;

private:
    UniqueHandle file_;
    OVERLAPPED overlapped_{};
    bool held_ = false;
};

struct Candidate {
    TrailPart part;
    long long lastLine = 0;
    std::string lastHash, lastSubmitted;
    std::vector<std::string> lines;
};

// A rotated file's lines, whole and chained, and its last line's hash.
bool ReadPart(const TrailPart &part, Candidate *c, std::string *why) {
    TrailFile::OpenResult opened;
    const std::unique_ptr<TrailFile> file = TrailFile::Open(part.path, &opened, why);
    if (file == nullptr) return false;
    TrailReader reader(*file);
    c->part = part;
    std::string line;
    for (LineResult r; (r = reader.Next(&line)) != LineResult::kEnd;) {
        if (r != LineResult::kLine) {
            *why = part.name + ": " + (r == LineResult::kError ? reader.Error() : "a line too long");
            return false;
        }
        c->lines.push_back(line);
    }
    if (reader.Unfinished() > 0 || c->lines.empty()) {
        *why = part.name + (c->lines.empty() ? " holds no line" : " ends in an unfinished line");
        return false;
    }
    ChainedLine last;
    if (!SplitChainedLine(c->lines.back(), &last)) {
        *why = part.name + ": its last line has no chain members";
        return false;
    }
    c->lastLine = part.firstLine + static_cast<long long>(c->lines.size()) - 1;
    c->lastHash = last.hash;
    const nlohmann::json j = ParseLine(c->lines.back());
    c->lastSubmitted = j.is_object() && j.contains("submitted") && j["submitted"].is_string()
                           ? j["submitted"].get<std::string>()
                           : "";
    return true;
}

// Whether the database holds each of the file's lines at its position, byte
// for byte; the first line it does not, or 0.
long long FirstNotHeld(const Database &db, const std::string &machine, const Candidate &c) {
    OdbcStatement select(db.connection);
    select.Prepare("SELECT line_no, line_text FROM audit_trail WHERE machine = ? AND line_no "
                   "BETWEEN ? AND ? ORDER BY line_no");
    select.BindText(1, &machine);
    select.BindInteger(2, &c.part.firstLine);
    select.BindInteger(3, &c.lastLine);
    select.Execute();
    long long expected = c.part.firstLine;
    std::string text;
    while (select.Fetch()) {
        long long n = 0;
        select.GetInteger(1, &n);
        select.GetText(2, &text);
        if (n != expected || text != c.lines[static_cast<std::size_t>(n - c.part.firstLine)]) break;
        ++expected;
    }
    select.CloseCursor();
    db.connection.Rollback();
    return expected > c.lastLine ? 0 : expected;
}

std::string NowText() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    return UtcText(FromSystemTime(t));
}

// The time keepDays days ago, as the trail writes times.
std::string DaysAgo(long long days) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    ULARGE_INTEGER u;
    u.LowPart = now.dwLowDateTime;
    u.HighPart = now.dwHighDateTime;
    u.QuadPart -= static_cast<unsigned long long>(days) * 864000000000ULL;
    FILETIME then{u.LowPart, u.HighPart};
    SYSTEMTIME t;
    FileTimeToSystemTime(&then, &t);
    return UtcText(FromSystemTime(t));
}

// Appends one line to the pruned record, flushed, before the file goes.
bool Record(const std::string &current, const Candidate &c, const std::string &action,
            std::string *why) {
    const TrailName trail = SplitTrailName(current);
    const std::wstring path = Wide(trail.folder + PrunedRecordName(trail));
    UniqueHandle record(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!record.Valid()) {
        *why = "cannot write the pruned record: " + ErrorText(GetLastError());
        return false;
    }
    const std::string line = nlohmann::json{{"file", c.part.name},
                                            {"first_line", c.part.firstLine},
                                            {"last_line", c.lastLine},
                                            {"last_hash", c.lastHash},
                                            {"time", NowText()},
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

}  // namespace

int Prune(const PruneOptions &o) {
    const std::string machine = o.machine.empty() ? ComputerName() : o.machine;
    std::vector<TrailPart> parts;
    std::string why;
    if (!ListTrailSet(o.file, &parts, &why)) {
        std::fprintf(stderr, "qz45trail: %s\n", why.c_str());
        return kExitFailed;
    }
    std::vector<PrunedFile> pruned;
    if (!ReadPrunedRecord(o.file, &pruned, &why)) {
        std::fprintf(stderr, "qz45trail: %s\n", why.c_str());
        return kExitFailed;
    }
    long long prunedThrough = 0;
    for (const PrunedFile &p : pruned) prunedThrough = std::max(prunedThrough, p.lastLine);
    if (parts.size() < 2) {
        // A trail that is not there at all is a name mistyped, not a trail with
        // nothing to prune.
        FileIdentity id;
        if (TrailFile::IdentityOf(o.file, &id, &why) != TrailFile::OpenResult::kOpened) {
            std::fprintf(stderr, "qz45trail: cannot read %s: %s\n", o.file.c_str(), why.c_str());
            return kExitFailed;
        }
        std::printf("%s has no rotated file: nothing to prune\n", o.file.c_str());
        return kExitOk;
    }
    try {
        Database db(o.connection);
        WritersLock lock(o.file);
        const std::string before = o.keepDays > 0 ? DaysAgo(o.keepDays) : "";
        long long expected = parts[0].firstLine;
        if (expected != prunedThrough + 1 && expected != 1) {
            std::printf("%s: lines %lld-%lld are missing before %s, and not by prune: nothing "
                        "pruned\n", o.file.c_str(), prunedThrough + 1, expected - 1,
                        parts[0].name.c_str());
            return kExitBroken;
        }
        int removed = 0;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            Candidate c;
            if (parts[i].firstLine != expected) {
                std::printf("kept %s and after: it starts at line %lld, not %lld\n",
                            parts[i].name.c_str(), parts[i].firstLine, expected);
                return kExitBroken;
            }
            if (!ReadPart(parts[i], &c, &why)) {
                std::printf("kept %s and after: %s\n", parts[i].name.c_str(), why.c_str());
                return kExitBroken;
            }
            expected = c.lastLine + 1;
            if (!before.empty() && c.lastSubmitted >= before) {
                std::printf("kept %s and after: its last line is from %s, within %lld day(s)\n",
                            c.part.name.c_str(), c.lastSubmitted.c_str(), o.keepDays);
                break;
            }
            const long long missing = FirstNotHeld(db, machine, c);
            if (missing != 0) {
                std::printf("kept %s and after: line %lld is not in the database for machine %s "
                            "as the file has it (not shipped yet, or changed)\n",
                            c.part.name.c_str(), missing, machine.c_str());
                break;
            }
            const std::string action = o.archive.empty() ? "deleted" : "moved to " + o.archive;
            std::printf("%s %s (lines %lld-%lld, last hash %s): %s\n",
                        o.dryRun ? "would prune" : "pruned", c.part.name.c_str(), c.part.firstLine,
                        c.lastLine, c.lastHash.c_str(), action.c_str());
            if (o.dryRun) {
                ++removed;
                continue;
            }
            if (!Record(o.file, c, action, &why)) {
                std::fprintf(stderr, "qz45trail: %s\n", why.c_str());
                return kExitFailed;
            }
            const std::wstring from = Wide(c.part.path);
            std::string folder = o.archive;
            if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += "\\";
            const bool done = o.archive.empty()
                                  ? DeleteFileW(from.c_str()) != FALSE
                                  : MoveFileExW(from.c_str(), Wide(folder + c.part.name).c_str(),
                                                MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH) != FALSE;
            if (!done) {
                std::fprintf(stderr, "qz45trail: cannot %s %s: %s (it is recorded as pruned; "
                             "remove it by hand)\n", o.archive.empty() ? "delete" : "move",
                             c.part.name.c_str(), ErrorText(GetLastError()).c_str());
                return kExitFailed;
            }
            ++removed;
        }
        std::printf("%d file(s) %s; the current file is never pruned\n", removed,
                    o.dryRun ? "would be pruned" : "pruned");
        return kExitOk;
    } catch (const OdbcError &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return kExitFailed;
    }
}

}  // namespace qz45trail
