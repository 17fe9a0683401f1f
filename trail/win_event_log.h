// Entries in the Application event log, as the service and qz45trail write
// them when something an administrator must hear of happens unattended.
#pragma once

#include <windows.h>

#include <string>

namespace qz45trail {

// One entry in the Application event log under source (which needs no
// registration to be written; a viewer shows the text as it is). An entry's
// text is limited to 31,839 characters: a longer one (a driver's words may
// run long) is cut at 8,000, never inside a surrogate pair. False when the
// log cannot be reached.
bool ReportToEventLog(const wchar_t *source, WORD type, DWORD id, std::wstring text);

}  // namespace qz45trail
