// UTF-8 and UTF-16, and the system's words for an error code.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "trail_row.h"

namespace qz45trail {

std::wstring Wide(const std::string &utf8);
std::string Utf8(const wchar_t *text, std::size_t length);

// "The system cannot find the file specified (error 2)", or "error N" when
// the system has no words for it.
std::string ErrorText(DWORD error);

// A system time as the trail's UtcTime, and back (to the millisecond).
UtcTime FromSystemTime(const SYSTEMTIME &t);
SYSTEMTIME ToSystemTime(const UtcTime &t);

}  // namespace qz45trail
