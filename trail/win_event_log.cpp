// Entries in the Application event log.
#include "win_event_log.h"

namespace qz45trail {
namespace {

// An event source opened for reporting, closed once.
class EventSource {
public:
    explicit EventSource(const wchar_t *name) : handle_(RegisterEventSourceW(nullptr, name)) {}
    ~EventSource() {
        if (handle_ != nullptr) DeregisterEventSource(handle_);
    }
    EventSource(const EventSource &) = delete;
    EventSource &operator=(const EventSource &) = delete;
    HANDLE Get() const { return handle_; }

private:
    HANDLE handle_;
};

}  // namespace

bool ReportToEventLog(const wchar_t *source, WORD type, DWORD id, std::wstring text) {
    constexpr std::size_t kMostCharacters = 8000;
    if (text.size() > kMostCharacters) {
        text.resize(kMostCharacters);
        if (text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
    }
    const EventSource opened(source);
    if (opened.Get() == nullptr) return false;
    const wchar_t *strings[1] = {text.c_str()};
    return ReportEventW(opened.Get(), type, 0, id, nullptr, 1, 0, strings, nullptr) != FALSE;
}

}  // namespace qz45trail
