#include "prune.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
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
// file), held while files are recorded and go, so that no writer looks for
// the newest rotated file or the pruned record meanwhile. It is taken on the
// file the name stands for once the lock is held: a writer may rotate the
// file between the opening and the locking.
class WritersLock {
public:
    explicit WritersLock(const std::string &current) {
        overlapped_.OffsetHigh = 0x40000000;  // byte 2^62, as the writers have it
        for (int attempt = 0; attempt < 16 && !held_; ++attempt) {
            file_ = UniqueHandle(CreateFileW(Wide(current).c_str(), GENERIC_READ,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                             nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file_.Valid() ||
                !LockFileEx(file_.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapped_))
                return;
            held_ = true;
            BY_HANDLE_FILE_INFORMATION mine{};
            FileIdentity named;
            std::string why;
            if (GetFileInformationByHandle(file_.Get(), &mine) &&
                TrailFile::IdentityOf(current, &named, &why) == TrailFile::OpenResult::kOpened &&
                named.volume == mine.dwVolumeSerialNumber &&
                named.index == ((static_cast<uint64_t>(mine.nFileIndexHigh) << 32) | mine.nFileIndexLow))
                return;
            Release();  // rotated meanwhile: the new file's lock is the one
        }
    }
    ~WritersLock() { Release(); }
    WritersLock(const WritersLock &) = delete;
    WritersLock &operator=(const WritersLock &) = delete;

private:
    void Release() {
        if (held_) UnlockFileEx(file_.Get(), 0, 1, 0, &overlapped_);
        held_ = false;
    }
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

// Whether two files hold the same bytes; false with the reason when one
// cannot be read.
bool SameBytes(const std::string &a, const std::string &b, bool *same, std::string *why) {
    TrailFile::OpenResult opened;
    const std::unique_ptr<TrailFile> fa = TrailFile::Open(a, &opened, why);
    if (fa == nullptr) return false;
    const std::unique_ptr<TrailFile> fb = TrailFile::Open(b, &opened, why);
    if (fb == nullptr) return false;
    uint64_t sa = 0, sb = 0;
    if (!fa->Size(&sa, why) || !fb->Size(&sb, why)) return false;
    *same = sa == sb;
    std::vector<char> ba(1 << 16), bb(1 << 16);
    for (uint64_t at = 0; *same && at < sa;) {
        std::size_t ga = 0, gb = 0;
        if (!fa->ReadAt(at, ba.data(), ba.size(), &ga, why) ||
            !fb->ReadAt(at, bb.data(), bb.size(), &gb, why))
            return false;
        if (ga == 0 || ga != gb || std::memcmp(ba.data(), bb.data(), ga) != 0) *same = false;
        at += ga;
    }
    return true;
}

std::string InFolder(std::string folder, const std::string &name) {
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += "\\";
    return folder + name;
}

enum class Archived { kCopied, kAlready, kConflict, kFailed };

// A copy of the file in the archive folder under its own name, checked byte
// for byte: copied to "<name>.partial" there first, and given its name only
// when it is whole, never over a file that is there. kAlready when the
// archive holds the same bytes under the name (a prune stopped after the
// copy); kConflict when it holds other bytes there.
Archived CopyToArchive(const TrailPart &part, const std::string &folder, bool dryRun,
                       std::string *why) {
    const std::string target = InFolder(folder, part.name);
    const std::string partial = target + ".partial";
    bool same = false;
    FileIdentity id;
    if (TrailFile::IdentityOf(target, &id, why) == TrailFile::OpenResult::kOpened) {
        if (!SameBytes(part.path, target, &same, why)) return Archived::kFailed;
        if (same) return Archived::kAlready;
        *why = "the archive already holds another file named " + part.name + " (" + target +
               "), which is not overwritten";
        return Archived::kConflict;
    }
    if (dryRun) return Archived::kCopied;
    if (!CopyFileW(Wide(part.path).c_str(), Wide(partial).c_str(), FALSE)) {
        *why = "cannot copy it to " + partial + ": " + ErrorText(GetLastError());
        return Archived::kFailed;
    }
    {
        UniqueHandle copy(CreateFileW(Wide(partial).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!copy.Valid() || !FlushFileBuffers(copy.Get())) {
            *why = "cannot flush " + partial + ": " + ErrorText(GetLastError());
            return Archived::kFailed;
        }
    }
    if (!SameBytes(part.path, partial, &same, why)) return Archived::kFailed;
    if (!same) {
        DeleteFileW(Wide(partial).c_str());
        *why = "the copy in " + partial + " differs from the file";
        return Archived::kFailed;
    }
    // No MOVEFILE_REPLACE_EXISTING: a file that appeared under the name
    // meanwhile stays.
    if (!MoveFileExW(Wide(partial).c_str(), Wide(target).c_str(), MOVEFILE_WRITE_THROUGH)) {
        *why = "cannot name the copy " + target + ": " + ErrorText(GetLastError());
        return Archived::kFailed;
    }
    return Archived::kCopied;
}

// "moved to DIR" in a record: DIR, or "" for "deleted".
std::string ArchiveOf(const std::string &action) {
    const std::string moved = "moved to ";
    return action.compare(0, moved.size(), moved) == 0 ? action.substr(moved.size()) : "";
}

}  // namespace

int Prune(const PruneOptions &o) {
    const std::string machine = o.machine.empty() ? ComputerName() : o.machine;
    std::vector<TrailPart> listed;
    std::string why;
    if (!ListTrailSet(o.file, &listed, &why)) {
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
    // Files recorded as pruned that are still there are finished first; the
    // others are the candidates.
    std::vector<std::pair<TrailPart, PrunedFile>> leftovers;
    std::vector<TrailPart> parts;
    for (const TrailPart &part : listed) {
        const PrunedFile *recorded = nullptr;
        for (const PrunedFile &p : pruned)
            if (!part.current && p.name == part.name) recorded = &p;
        if (recorded != nullptr) leftovers.push_back({part, *recorded});
        else parts.push_back(part);
    }
    if (parts.size() < 2 && leftovers.empty()) {
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
    int result = kExitOk;
    int removed = 0;
    // Removes a file that is recorded as pruned; a failure leaves it
    // recorded, which readers accept and the next prune finishes.
    const auto remove = [&](const TrailPart &part) {
        if (DeleteFileW(Wide(part.path).c_str())) return true;
        std::fprintf(stderr, "qz45trail: cannot delete %s: %s; it is recorded as pruned, so "
                     "verify, ship and the view leave it out, and the next prune removes it\n",
                     part.name.c_str(), ErrorText(GetLastError()).c_str());
        result = Graver(result, kExitFailed);
        return false;
    };

    // A prune stopped between its record and the file's removal, or one that
    // could not remove a file, is finished: the file must still be the one
    // recorded, and an archive must hold its copy.
    for (const auto &[part, record] : leftovers) {
        Candidate c;
        {
            // Deleted already, its name kept until a reader lets go of it.
            TrailFile::OpenResult opened;
            if (TrailFile::Open(part.path, &opened, &why) == nullptr) {
                std::printf("%s is recorded as pruned and on its way out (%s)\n",
                            part.name.c_str(), why.c_str());
                continue;
            }
        }
        if (!ReadPart(part, &c, &why) || c.lastLine != record.lastLine ||
            c.lastHash != record.lastHash || part.firstLine != record.firstLine) {
            std::printf("%s is recorded as pruned (lines %lld-%lld) but holds other lines: left "
                        "as it is\n", part.name.c_str(), record.firstLine, record.lastLine);
            result = Graver(result, kExitBroken);
            continue;
        }
        const std::string archive = ArchiveOf(record.action);
        if (!archive.empty()) {
            const Archived a = CopyToArchive(part, archive, o.dryRun, &why);
            if (a == Archived::kConflict || a == Archived::kFailed) {
                std::printf("cannot finish pruning %s (recorded as moved to %s): %s\n",
                            part.name.c_str(), archive.c_str(), why.c_str());
                result = Graver(result, kExitFailed);
                continue;
            }
        }
        std::printf("%s pruning %s (recorded as pruned, still there): %s\n",
                    o.dryRun ? "would finish" : "finished", part.name.c_str(), record.action.c_str());
        if (!o.dryRun && remove(part)) ++removed;
    }
    if (parts.size() < 2) {
        std::printf("%d file(s) %s; the current file is never pruned\n", removed,
                    o.dryRun ? "would be pruned" : "pruned");
        return result;
    }

    try {
        Database db(o.connection);
        const std::string before = o.keepDays > 0 ? DaysAgo(o.keepDays) : "";
        long long expected = parts[0].firstLine;
        if (expected != prunedThrough + 1 && expected != 1) {
            std::printf("%s: lines %lld-%lld are missing before %s, and not by prune: nothing "
                        "pruned\n", o.file.c_str(), prunedThrough + 1, expected - 1,
                        parts[0].name.c_str());
            return kExitBroken;
        }
        // Which files go, decided without the writers' lock: every line of
        // each in the database, and its copy in the archive.
        std::vector<Candidate> going;
        for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
            Candidate c;
            if (parts[i].firstLine != expected) {
                std::printf("kept %s and after: it starts at line %lld, not %lld\n",
                            parts[i].name.c_str(), parts[i].firstLine, expected);
                return Graver(result, kExitBroken);
            }
            if (!ReadPart(parts[i], &c, &why)) {
                std::printf("kept %s and after: %s\n", parts[i].name.c_str(), why.c_str());
                return Graver(result, kExitBroken);
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
            if (!o.archive.empty()) {
                const Archived a = CopyToArchive(c.part, o.archive, o.dryRun, &why);
                if (a == Archived::kConflict || a == Archived::kFailed) {
                    std::printf("kept %s and after: %s; nothing of it recorded or removed\n",
                                c.part.name.c_str(), why.c_str());
                    result = Graver(result, kExitFailed);
                    break;
                }
            }
            going.push_back(std::move(c));
        }
        // Recorded, then removed, under the writers' lock.
        const std::string action = o.archive.empty() ? "deleted" : "moved to " + o.archive;
        std::unique_ptr<WritersLock> lock;
        if (!o.dryRun && !going.empty()) lock = std::make_unique<WritersLock>(o.file);
        for (const Candidate &c : going) {
            std::printf("%s %s (lines %lld-%lld, last hash %s): %s\n",
                        o.dryRun ? "would prune" : "pruned", c.part.name.c_str(), c.part.firstLine,
                        c.lastLine, c.lastHash.c_str(), action.c_str());
            if (o.dryRun) {
                ++removed;
                continue;
            }
            if (!Record(o.file, c, action, &why)) {
                std::fprintf(stderr, "qz45trail: %s\n", why.c_str());
                return Graver(result, kExitFailed);
            }
            if (remove(c.part)) ++removed;
        }
        std::printf("%d file(s) %s; the current file is never pruned\n", removed,
                    o.dryRun ? "would be pruned" : "pruned");
        return result;
    } catch (const OdbcError &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return Graver(result, kExitFailed);
    }
}

}  // namespace qz45trail
