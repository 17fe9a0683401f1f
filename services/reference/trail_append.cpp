#include "trail_append.h"

#include <cstdint>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "trail_chain.h"
#include "trail_lines.h"
#include "trail_row.h"
#include "win_handle.h"
#include "win_source.h"
#include "win_text.h"

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
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u.%03uZ", t.wYear, t.wMonth,
                  t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

HRESULT AppendChained(const std::wstring &path, const std::string &content) {
    UniqueHandle opened(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!opened.Valid()) return LastError();
    const HANDLE file = opened.Get();
    TrailLock lock(file);
    if (!lock.held()) return LastError();

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
    std::string prev = end.hasLast && SplitChainedLine(end.last, &last) ? last.hash : kChainStart;

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
    line += chained;
    line.push_back('\n');

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

}  // namespace qz45trail
