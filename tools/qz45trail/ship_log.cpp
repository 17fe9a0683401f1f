#include "ship_log.h"

#include <windows.h>

#include "trail_row.h"
#include "win_text.h"

namespace qz45trail {
namespace {

constexpr DWORD kShipFailedEventId = 1;

// An event source registered for one entry.
class EventSource {
public:
    EventSource() : h_(RegisterEventSourceW(nullptr, kShipEventSource)) {}
    EventSource(const EventSource &) = delete;
    EventSource &operator=(const EventSource &) = delete;
    ~EventSource() {
        if (h_ != nullptr) DeregisterEventSource(h_);
    }
    HANDLE Get() const { return h_; }

private:
    HANDLE h_;
};

}  // namespace

bool ShipLog::Open(const std::string &path, std::string *error) {
    file_ = UniqueHandle(CreateFileW(Wide(path).c_str(), FILE_APPEND_DATA,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                     OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file_.Valid()) return true;
    *error = ErrorText(GetLastError());
    return false;
}

void ShipLog::Line(const std::string &text) const {
    if (!file_.Valid()) return;
    SYSTEMTIME now;
    GetSystemTime(&now);
    std::string line = UtcText(FromSystemTime(now)) + " " + text;
    // One line a line: line ends inside a message become spaces.
    for (char &c : line)
        if (c == '\r' || c == '\n') c = ' ';
    line += "\r\n";
    DWORD written = 0;
    WriteFile(file_.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool ReportShipFailure(const std::string &text) {
    EventSource source;
    if (source.Get() == nullptr) return false;
    // An entry's text is limited to 31,839 characters; a failure's words
    // are far fewer, but a driver's may run long.
    constexpr std::size_t kMostCharacters = 8000;
    std::wstring message = Wide(text);
    if (message.size() > kMostCharacters) {
        message.resize(kMostCharacters);
        if (message.back() >= 0xD800 && message.back() <= 0xDBFF) message.pop_back();
    }
    const wchar_t *strings[1] = {message.c_str()};
    return ReportEventW(source.Get(), EVENTLOG_ERROR_TYPE, 0, kShipFailedEventId, nullptr, 1, 0,
                        strings, nullptr) != FALSE;
}

}  // namespace qz45trail
