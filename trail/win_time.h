// The trail's UTC times as the system's SYSTEMTIME, and back.
#pragma once

#include <windows.h>

#include "trail_row.h"

namespace qz45trail {

// A system time as the trail's UtcTime, and back (to the millisecond).
UtcTime FromSystemTime(const SYSTEMTIME &t);
SYSTEMTIME ToSystemTime(const UtcTime &t);

}  // namespace qz45trail
