// Times as the audit service takes them: OLE Automation dates (days since
// 1899-12-30 00:00:00, time of day as the fraction), in UTC. 0.0 stands for a
// missing or unusable time.
#pragma once

#include <cstdint>

namespace qz45 {

// A TimeStamp: seconds since 1970-01-01 00:00:00 UTC and microseconds.
// secs <= 0 gives 0.0 (usecs is then not looked at); usecs is not range-tested
// and moves the date by its own amount, negative included.
void UnixTimeToOleDate(int32_t secs, int32_t usecs, double *date);

// A packed time: SLOW numbers four-year periods of 1,461 days (period 18
// begins 1972-01-01), FAST counts tenths of a second from the start of the
// period and may run on into the following ones. A negative member, or a time
// not after 1970-01-01 00:00:00, gives 0.0. Times past 2038-01-19 03:14:07
// get their exact date too.
void PackedTimeToOleDate(int32_t FAST, int32_t SLOW, double *date);

}  // namespace qz45
