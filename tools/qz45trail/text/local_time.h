// This machine's local time: UTC times shown in it, and times given in it
// read as UTC. The zone's rules are the system's.
#pragma once

#include <string>

#include "trail_row.h"

namespace qz45trail {

// The local time that a UTC time is here; the UTC time itself when the
// system cannot tell.
UtcTime ToLocal(const UtcTime &utc);

// "2026-12-08 10:15:00.250 +01:00": the local time with its offset.
std::string LocalText(const UtcTime &utc);

// A local time as a form gives it ("2026-12-08", "2026-12-08T10:15" or with
// seconds, a blank for the T also) in UTC; false when it does not read.
bool LocalToUtc(const std::string &text, UtcTime *out);

// The zone local times are in, by the system's name for it, and its offset
// from UTC now: "W. Europe Standard Time, UTC+01:00".
std::string LocalZoneText();

// Now, in UTC.
UtcTime NowUtc();

}  // namespace qz45trail
