// What an unattended shipper leaves behind: a log file of plain timestamped
// lines, and its failures in the Application event log.
#pragma once

#include <string>

namespace qz45trail {

// The event-log source of qz45trail's entries. The entries are written
// without the source being registered: an event viewer then shows their
// text with a note that the source has no message file.
constexpr wchar_t kShipEventSource[] = L"qz45trail";

class ShipLog {
public:
    ShipLog() = default;
    ShipLog(const ShipLog &) = delete;
    ShipLog &operator=(const ShipLog &) = delete;

    // Takes path as the log, creating it when missing (what it holds is
    // never touched); false with the system's words when it cannot be
    // opened for appending.
    bool Open(const std::string &path, std::string *error);

    // Appends "2026-01-01T12:00:00.000Z text" as one line (one write, so
    // that lines of two shippers sharing a file do not mix); nothing without
    // a file. The file is opened for each line and closed again, so that an
    // administrator can move or delete it while the shipper runs (the next
    // line starts a new one). A failure to write is ignored: the log must
    // not stop shipping.
    void Line(const std::string &text) const;

private:
    std::wstring path_;
};

// Writes an error entry with text to the Application event log under
// kShipEventSource; false when it could not.
bool ReportShipFailure(const std::string &text);

}  // namespace qz45trail
