// Arithmetic on UTC times, by the proleptic Gregorian calendar.
#pragma once

#include "trail_row.h"

namespace qz45trail {

// The time seconds later (earlier when negative), its fraction kept.
UtcTime AddSeconds(const UtcTime &t, long long seconds);

// Seconds from a to b (b - a), to the millisecond.
double SecondsBetween(const UtcTime &a, const UtcTime &b);

// "2026-12-08 10:15:00.250 +01:00" (milliseconds only when asked for): the
// time `local` with its offset from `utc`, the same instant in UTC, rounded
// to whole minutes.
std::string OffsetTimeText(const UtcTime &utc, const UtcTime &local, bool milliseconds);

}  // namespace qz45trail
