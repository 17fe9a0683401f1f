#include "trail_append.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <memory>
#include <vector>

#include <nlohmann/json.hpp>

#include "trail_chain.h"
#include "trail_file.h"
#include "trail_lines.h"
#include "trail_row.h"
#include "trail_set.h"
#include "trail_space.h"
#include "win_handle.h"
#include "win_source.h"
#include "win_text.h"
#include "win_time.h"

namespace qz45trail {

namespace {

// The lock is one byte far beyond the end of any trail: writers exclude each
// other, and readers, who never read there, are never held up.
constexpr DWORD kLockOffsetHigh = 0x40000000;  // byte 2^62

// Every line this service writes begins so (its members in name order).
constexpr std::string_view kLineStart = "{\"context\":";

HRESULT FromCode(DWORD error) {
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

HRESULT LastError() { return FromCode(GetLastError()); }

class TrailLock {
public:
    explicit TrailLock(HANDLE file) : file_(file) {
        overlapped_.OffsetHigh = kLockOffsetHigh;
        held_ = LockFileEx(file_, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapped_) != FALSE;
    }
    TrailLock(const TrailLock &) = delete;
    TrailLock &operator=(const TrailLock &) = delete;
    ~TrailLock() {
        if (held_) UnlockFileEx(file_, 0, 1, 0, &overlapped_);
    }
    bool held() const { return held_; }

private:
    HANDLE file_;
    OVERLAPPED overlapped_{};
    bool held_ = false;
};

bool Truncate(HANDLE file, uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Writes all of data at the file pointer; a write that took less than all
// of it without saying why is a write fault.
HRESULT WriteAll(HANDLE file, const std::string &data) {
    DWORD written = 0;
    if (!WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr))
        return LastError();
    return written == data.size() ? S_OK : HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
}

HRESULT WriteAt(HANDLE file, uint64_t offset, const std::string &data) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(offset);
    if (!SetFilePointerEx(file, at, nullptr, FILE_BEGIN)) return LastError();
    return WriteAll(file, data);
}

// Whether bytes that have no line end, alone in a file, are the beginning of
// a line of this service (a first line whose writer died), not someone
// else's file. A crash can also leave the first line's room on disk with
// zeros in it and nothing else.
bool BeginsLikeALine(std::string_view bytes) {
    const std::size_t n = bytes.size() < kLineStart.size() ? bytes.size() : kLineStart.size();
    if (n > 0 && bytes.substr(0, n) == kLineStart.substr(0, n)) return true;
    return !bytes.empty() && bytes.find_first_not_of('\0') == std::string_view::npos;
}

// Appends the unfinished line cut off at offset to the trail's companion
// file, flushed, before it is cut.
HRESULT KeepTornTail(const std::wstring &trail, uint64_t offset, const std::string &bytes) {
    UniqueHandle torn(CreateFileW(TornPath(trail).c_str(), FILE_APPEND_DATA,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!torn.Valid()) return LastError();
    const nlohmann::json header{{"trail", Utf8(trail.data(), trail.size())},
                                {"cut_at", offset},
                                {"bytes", bytes.size()},
                                {"time", NowUtc()}};
    const HRESULT hr = WriteAll(torn.Get(), header.dump() + "\n" + bytes + "\n");
    if (FAILED(hr)) return hr;
    return FlushFileBuffers(torn.Get()) ? S_OK : LastError();
}

}  // namespace

std::wstring TornPath(const std::wstring &trail) { return trail + L".torn"; }

std::string NowUtc() {
    SYSTEMTIME t;
    GetSystemTime(&t);
    return UtcText(FromSystemTime(t));
}

namespace {

// Whether the handle's file is the one the name stands for now: a writer
// that waited for the lock on a file another one rotated meanwhile finds it
// renamed, and must not write it again.
bool StillNamed(HANDLE file, const std::wstring &path) {
    BY_HANDLE_FILE_INFORMATION mine{}, named{};
    const UniqueHandle now(CreateFileW(path.c_str(), 0,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return now.Valid() && GetFileInformationByHandle(file, &mine) &&
           GetFileInformationByHandle(now.Get(), &named) &&
           mine.dwVolumeSerialNumber == named.dwVolumeSerialNumber &&
           mine.nFileIndexHigh == named.nFileIndexHigh && mine.nFileIndexLow == named.nFileIndexLow;
}

// A whole file's lines, counted, and its last line. S_FALSE when the file
// cannot be opened (gone, or on its way out).
HRESULT CountLines(const std::string &path, long long *lines, std::string *last) {
    TrailFile::OpenResult opened;
    std::string error;
    const std::unique_ptr<TrailFile> file = TrailFile::Open(path, &opened, &error);
    if (file == nullptr) return S_FALSE;
    TrailReader reader(*file);
    *lines = 0;
    std::string line;
    for (TrailReader::Result r; (r = reader.Next(&line)) != TrailReader::Result::kEnd;) {
        if (r != TrailReader::Result::kLine) return kNotATrail;
        ++*lines;
        *last = line;
    }
    return S_OK;
}

// Where the current file of a rotated trail begins: the position of its
// first line in the whole trail, and the hash its first line chains to
// (the last line of the newest rotated file, or of the last pruned one);
// and the time in the newest rotated file's name, when there is one.
//
// qz45trail prune may remove the newest rotated file meanwhile; it records
// the file (its last line and hash) before it does, so a file that has gone
// since the listing is looked for again, and found in the record.
HRESULT CurrentStart(const std::wstring &path, long long *firstLine, std::string *prev,
                     UtcTime *newestTime = nullptr) {
    const std::string utf8 = Utf8(path.data(), path.size());
    const TrailName trail = SplitTrailName(utf8);
    HRESULT hr = S_OK;
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (attempt > 0) Sleep(5u << attempt);
        *firstLine = 1;
        *prev = kChainStart;
        long long newestFirst = 0;
        std::string newestName;
        std::vector<TrailPart> parts;
        std::vector<PrunedFile> pruned;
        std::string error;
        if (!ListTrailSet(utf8, &parts, &error)) return E_FAIL;
        if (!ReadPrunedRecord(utf8, &pruned, &error)) return kNotATrail;
        for (const PrunedFile &p : pruned) {
            if (p.lastLine + 1 > *firstLine) {
                *firstLine = p.lastLine + 1;
                *prev = p.lastHash;
            }
            if (p.firstLine > newestFirst) newestFirst = p.firstLine, newestName = p.name;
        }
        // A rotated file recorded as pruned may still be listed while its
        // deletion waits for a reader to let go of it: the record stands for it.
        parts.erase(std::remove_if(parts.begin(), parts.end(),
                                   [&pruned](const TrailPart &part) {
                                       for (const PrunedFile &p : pruned)
                                           if (!part.current && p.name == part.name) return true;
                                       return false;
                                   }),
                    parts.end());
        hr = S_OK;
        if (parts.size() > 1) {
            const TrailPart &newest = parts[parts.size() - 2];
            long long lines = 0;
            std::string last;
            hr = CountLines(newest.path, &lines, &last);
            if (hr == kNotATrail) return hr;
            if (hr == S_FALSE) continue;  // gone since the listing: look again
            if (newest.firstLine + lines > *firstLine) {
                ChainedLine chained;
                *prev = SplitChainedLine(last, &chained) ? chained.hash : kChainStart;
                *firstLine = newest.firstLine + lines;
            }
            if (newest.firstLine > newestFirst) newestName = newest.name;
        }
        long long ignored = 0;
        if (newestTime != nullptr && !newestName.empty())
            ParseRotatedName(trail, newestName, newestTime, &ignored);
        return S_OK;
    }
    return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
}

// The date ("2026-12-08") of the line's "submitted", or "".
std::string SubmittedDay(const std::string &line) {
    const nlohmann::json j = ParseLine(line);
    return j.is_object() && j.contains("submitted") && j["submitted"].is_string()
               ? j["submitted"].get<std::string>().substr(0, 10)
               : "";
}

// Renames the current file (its lock held, complete lines only) to the
// rotated name that says where it starts: its first line's time, but never
// earlier than the file before it (writers in other processes take the time
// before the lock, so that times of neighbouring lines may step back a
// little), so that the names sort in the order of the lines.
HRESULT Rotate(const std::wstring &path, const std::string &firstLineText) {
    long long firstLine = 1;
    std::string prev;
    UtcTime newest;
    HRESULT hr = CurrentStart(path, &firstLine, &prev, &newest);
    if (FAILED(hr)) return hr;
    UtcTime first;
    const nlohmann::json j = ParseLine(firstLineText);
    if (!(j.is_object() && j.contains("submitted") && j["submitted"].is_string() &&
          ParseUtc(j["submitted"].get<std::string>(), &first)))
        ParseUtc(NowUtc(), &first);
    first.nanoseconds = 0;
    if (newest.year != 0 && UtcText(first) < UtcText(newest)) first = newest;
    const TrailName trail = SplitTrailName(Utf8(path.data(), path.size()));
    const std::wstring rotated = Wide(trail.folder + RotatedName(trail, first, firstLine));
    return MoveFileExW(path.c_str(), rotated.c_str(), MOVEFILE_WRITE_THROUGH) ? S_OK : LastError();
}

// One try: S_FALSE when the file was rotated (by this writer or another)
// and the append must start again on the new current file.
HRESULT AppendOnce(const std::wstring &path, const std::string &content,
                   const TrailRotation &rotation) {
    UniqueHandle opened(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!opened.Valid()) return LastError();
    const HANDLE file = opened.Get();
    TrailLock lock(file);
    if (!lock.held()) return LastError();
    if (!StillNamed(file, path)) return S_FALSE;

    HandleSource source(file);
    std::string error;
    uint64_t size = 0;
    const auto readFailed = [&source] { return FromCode(source.ErrorCode()); };
    if (!source.Size(&size, &error)) return readFailed();

    // Only a trail is appended to.
    std::string first;
    bool complete = false;
    if (size > 0) {
        if (!ReadFirstLine(source, &first, &complete, &error)) return readFailed();
        if (complete ? !IsTrailLine(first) : first.size() > kLongestLine) return kNotATrail;
    }
    TrailEnd end;
    switch (FindTrailEnd(source, size, &end, &error)) {
    case EndResult::kOk: break;
    case EndResult::kError: return readFailed();
    case EndResult::kTailTooLong: return kNotATrail;
    }
    ChainedLine last;
    std::string prev = kChainStart;
    if (end.hasLast) {
        if (SplitChainedLine(end.last, &last)) prev = last.hash;
    } else if (end.lineEnd == 0) {
        // No line in this file yet: it chains on from the rotated ones.
        long long firstLine = 0;
        const HRESULT hr = CurrentStart(path, &firstLine, &prev);
        if (FAILED(hr)) return hr;
    }

    std::string line;
    uint64_t at = end.lineEnd;
    if (!end.tail.empty()) {
        std::string tail = end.tail;
        DropCarriageReturn(&tail);
        ChainedLine whole;
        if (ChainsAfter(tail, prev) && SplitChainedLine(tail, &whole)) {
            // A line written whole whose line end is gone: ended, not cut.
            line.push_back('\n');
            at = size;
            prev = whole.hash;
            if (end.lineEnd == 0) first = tail;
        } else if (end.lineEnd == 0 && !BeginsLikeALine(end.tail)) {
            return kNotATrail;
        } else {
            const HRESULT kept = KeepTornTail(path, end.lineEnd, end.tail);
            if (FAILED(kept)) return kept;
            if (!Truncate(file, end.lineEnd)) return LastError();
        }
    }

    std::string chained;
    if (!ChainLine(prev, content, &chained)) return E_INVALIDARG;

    // Full, or begun on an earlier day: the file is rotated, whole lines
    // only, and the line goes into the next one.
    const uint64_t whole = at + line.size();
    const bool full = rotation.maxBytes > 0 && whole + chained.size() + 1 > rotation.maxBytes;
    // A day's file holds the lines stored on that day: the line's own time
    // says which, so that a line stored just before midnight that waited
    // for the lock goes with the day's other lines.
    std::string day = SubmittedDay(chained);
    if (day.empty()) day = NowUtc().substr(0, 10);
    const bool stale = rotation.daily && !SubmittedDay(first).empty() && SubmittedDay(first) < day;
    if (whole > 0 && (full || stale)) {
        if (!line.empty()) {
            const HRESULT ended = WriteAt(file, at, line);
            if (FAILED(ended)) return ended;
            if (!FlushFileBuffers(file)) return LastError();
        }
        const HRESULT rotated = Rotate(path, first);
        return FAILED(rotated) ? rotated : S_FALSE;
    }

    line += chained;
    line.push_back('\n');
    // Refused whole, rather than half written, when the volume is nearly full.
    const HRESULT room = CheckSpace(path, line.size());
    if (FAILED(room)) return room;
    const HRESULT hr = WriteAt(file, at, line);
    if (FAILED(hr)) {
        // Part of the line went, its line end did not: no reader took it as
        // a line. Take it back, leaving the file as it was.
        Truncate(file, at);
        return hr;
    }
    // Written whole: a reader may have seen it, so it stays even if the
    // flush fails.
    if (!FlushFileBuffers(file)) return LastError();
    return S_OK;
}

}  // namespace

HRESULT AppendChained(const std::wstring &path, const std::string &content,
                      const TrailRotation &rotation) {
    // A rotation, or a file rotated while this writer waited, means one more
    // try; a few are plenty even with many writers.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const HRESULT hr = AppendOnce(path, content, rotation);
        if (hr != S_FALSE) return hr;
    }
    return HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);
}

TrailRotation RotationFromEnvironment() {
    TrailRotation r;
    wchar_t value[64];
    DWORD n = GetEnvironmentVariableW(L"QZ45_AUDIT_TRAIL_ROTATE_KB", value, 64);
    if (n > 0 && n < 64) {
        wchar_t *end = nullptr;
        const unsigned long long kb = wcstoull(value, &end, 10);
        if (end != value && *end == L'\0') r.maxBytes = kb * 1024;
    }
    n = GetEnvironmentVariableW(L"QZ45_AUDIT_TRAIL_ROTATE_DAILY", value, 64);
    r.daily = n == 1 && value[0] == L'1';
    return r;
}

}  // namespace qz45trail
