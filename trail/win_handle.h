// The one owner of a Windows kernel handle: closes it once, is never copied.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

namespace qz45trail {

class UniqueHandle {
public:
    UniqueHandle() = default;
    explicit UniqueHandle(HANDLE h) : h_(h) {}
    ~UniqueHandle() { Close(); }
    UniqueHandle(const UniqueHandle &) = delete;
    UniqueHandle &operator=(const UniqueHandle &) = delete;
    UniqueHandle(UniqueHandle &&o) noexcept : h_(std::exchange(o.h_, INVALID_HANDLE_VALUE)) {}
    UniqueHandle &operator=(UniqueHandle &&o) noexcept {
        if (this != &o) {
            Close();
            h_ = std::exchange(o.h_, INVALID_HANDLE_VALUE);
        }
        return *this;
    }

    HANDLE Get() const { return h_; }
    // CreateFile's failure is INVALID_HANDLE_VALUE, most others' null.
    bool Valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }

private:
    void Close() {
        if (Valid()) CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
    }
    HANDLE h_ = INVALID_HANDLE_VALUE;
};

// One entry in the Application event log under source (which needs no
// registration to be written; a viewer shows the text as it is). An entry's
// text is limited to 31,839 characters: a longer one (a driver's words may
// run long) is cut at 8,000, never inside a surrogate pair. False when the
// log cannot be reached.
inline bool ReportToEventLog(const wchar_t *source, WORD type, DWORD id, std::wstring text) {
    constexpr std::size_t kMostCharacters = 8000;
    if (text.size() > kMostCharacters) {
        text.resize(kMostCharacters);
        if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
    }
    struct Source {
        HANDLE h;
        ~Source() {
            if (h != nullptr) DeregisterEventSource(h);
        }
    } opened{RegisterEventSourceW(nullptr, source)};
    if (opened.h == nullptr) return false;
    const wchar_t *strings[1] = {text.c_str()};
    return ReportEventW(opened.h, type, 0, id, nullptr, 1, 0, strings, nullptr) != FALSE;
}

}  // namespace qz45trail
