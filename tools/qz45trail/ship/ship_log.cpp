// The shipper's log file, appended to a line at a time, and its failures in
// the Application event log.
#include "ship_log.h"

#include <windows.h>

#include "trail_row.h"
#include "win_event_log.h"
#include "win_handle.h"
#include "win_text.h"
#include "win_time.h"

namespace qz45trail {
namespace {

constexpr DWORD kShipFailedEventId = 1;

UniqueHandle OpenForAppending(const std::wstring &path) {
    return UniqueHandle(CreateFileW(path.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

}  // namespace

bool ShipLog::Open(const std::string &path, std::string *error) {
    path_ = Wide(path);
    if (OpenForAppending(path_).Valid()) return true;
    *error = ErrorText(GetLastError());
    path_.clear();
    return false;
}

void ShipLog::Line(const std::string &text) const {
    if (path_.empty()) return;
    SYSTEMTIME now;
    GetSystemTime(&now);
    std::string line = UtcText(FromSystemTime(now)) + " " + text;
    // One line a line: line ends inside a message become spaces.
    for (char &c : line)
        if (c == '\r' || c == '\n') c = ' ';
    line += "\r\n";
    const UniqueHandle file = OpenForAppending(path_);
    if (!file.Valid()) return;
    DWORD written = 0;
    WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool ReportShipFailure(const std::string &text) {
    return ReportToEventLog(kShipEventSource, EVENTLOG_ERROR_TYPE, kShipFailedEventId, Wide(text));
}

}  // namespace qz45trail
