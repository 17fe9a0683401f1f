#include "trail_file.h"

#include <algorithm>
#include <cstdint>

#include "trail_chain.h"

namespace qz45trail {

namespace {

// The lock is one byte far beyond the end of any trail: writers exclude each
// other, and readers, who never read there, are never held up.
constexpr DWORD kLockOffsetHigh = 0x40000000;  // byte 2^62

// A line of the trail is at most some tens of kilobytes; an end of the file
// without a line end within this much is not a line this service began.
constexpr uint64_t kLongestTail = 1u << 20;
constexpr DWORD kChunk = 64 * 1024;

HRESULT LastError() {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? HRESULT_FROM_WIN32(error) : E_FAIL;
}

struct File {
    HANDLE h;
    ~File() {
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
};

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

bool ReadAt(HANDLE file, uint64_t at, char *buffer, DWORD size) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(at);
    where.OffsetHigh = static_cast<DWORD>(at >> 32);
    DWORD got = 0;
    return ReadFile(file, buffer, size, &got, &where) && got == size;
}

bool Truncate(HANDLE file, uint64_t size) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(file, at, nullptr, FILE_BEGIN) && SetEndOfFile(file);
}

// Where the trail's last complete line ends (0 for none), and that line
// without its line end. A last line longer than kLongestTail is left out.
HRESULT FindLastLine(HANDLE file, uint64_t size, uint64_t *end, std::string *last) {
    std::string tail;  // the file's bytes from `from` to its end
    uint64_t from = size;
    last->clear();
    for (;;) {
        const std::size_t lineEnd = tail.rfind('\n');
        if (lineEnd != std::string::npos) {
            const std::size_t before = lineEnd == 0 ? std::string::npos : tail.rfind('\n', lineEnd - 1);
            if (before != std::string::npos || from == 0) {
                const std::size_t start = before == std::string::npos ? 0 : before + 1;
                *end = from + lineEnd + 1;
                last->assign(tail, start, lineEnd - start);
                return S_OK;
            }
            if (size - from > 2 * kLongestTail) {  // a line not of ours: no chain to follow
                *end = from + lineEnd + 1;
                return S_OK;
            }
        } else if (from == 0) {
            *end = 0;
            return S_OK;
        } else if (size - from > kLongestTail) {
            return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);  // the end is not a line of ours
        }
        const DWORD n = static_cast<DWORD>(std::min<uint64_t>(from, kChunk));
        from -= n;
        std::string chunk(n, '\0');
        if (!ReadAt(file, from, chunk.data(), n)) return LastError();
        tail.insert(0, chunk);
    }
}

}  // namespace

HRESULT AppendChained(const std::wstring &path, const std::string &content) {
    File opened{CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
    const HANDLE file = opened.h;
    if (file == INVALID_HANDLE_VALUE) return LastError();
    TrailLock lock(file);
    if (!lock.held()) return LastError();

    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size)) return LastError();
    uint64_t end = 0;
    std::string last;
    HRESULT hr = FindLastLine(file, static_cast<uint64_t>(size.QuadPart), &end, &last);
    if (FAILED(hr)) return hr;
    // A line a writer left unfinished was never reported as stored: cut it.
    if (end < static_cast<uint64_t>(size.QuadPart) && !Truncate(file, end)) return LastError();

    ChainedLine before;
    std::string line;
    hr = ChainLine(SplitChainedLine(last, &before) ? before.hash : kChainStart, content, &line);
    if (FAILED(hr)) return hr;
    line.push_back('\n');

    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(end);
    DWORD written = 0;
    const BOOL ok = SetFilePointerEx(file, at, nullptr, FILE_BEGIN) &&
                    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written,
                              nullptr) &&
                    written == line.size() && FlushFileBuffers(file);
    if (!ok) {
        hr = LastError();
        Truncate(file, end);  // no half line stays behind
    }
    return hr;
}

}  // namespace qz45trail
