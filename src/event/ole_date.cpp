#include "event/ole_date.h"

namespace qz45 {
namespace {

constexpr int64_t kSecondsPerDay = 86400;
constexpr int64_t kSecondsPerPeriod = 1461 * kSecondsPerDay;  // four years
constexpr int64_t kPeriod18Start = 730 * kSecondsPerDay;      // 1972-01-01

// A UTC calendar breakdown, held by the caller: nothing here is shared
// between calls or threads.
struct UtcTime {
    int64_t year;  // years since 1900
    int64_t yday;  // day of the year, from 0
    int hour, minute, second;
};

// Leap days in the years 1 .. year - 1 of the Gregorian calendar (year >= 1).
constexpr int64_t LeapDaysBefore(int64_t year) {
    const int64_t y = year - 1;
    return y / 4 - y / 100 + y / 400;
}

// Days from 1970-01-01 to 1 January of the given year.
constexpr int64_t DaysBeforeYear(int64_t year) {
    return 365 * (year - 1970) + LeapDaysBefore(year) - LeapDaysBefore(1970);
}

// Breaks down a positive count of seconds since 1970-01-01 00:00:00 UTC.
// 64-bit throughout, so every time a packed time can name is exact.
UtcTime BreakDownUtc(int64_t secs) {
    const int64_t days = secs / kSecondsPerDay;
    const int64_t sod = secs % kSecondsPerDay;
    // Estimate the year from the mean Gregorian year, then correct it.
    int64_t year = 1970 + days * 400 / 146097;
    while (DaysBeforeYear(year) > days) --year;
    while (DaysBeforeYear(year + 1) <= days) ++year;
    UtcTime t;
    t.year = year - 1900;
    t.yday = days - DaysBeforeYear(year);
    t.hour = static_cast<int>(sod / 3600);
    t.minute = static_cast<int>(sod / 60 % 60);
    t.second = static_cast<int>(sod % 60);
    return t;
}

// Days from 1899-12-30 to the day of t. For the years 1901 to 2100 this is
// 365 y + (y + 3) / 4 + d + 1; the Gregorian century rule keeps it exact
// beyond them.
int64_t OleDayNumber(const UtcTime &t) {
    const int64_t y = t.year;
    return 365 * y + (LeapDaysBefore(1900 + y) - LeapDaysBefore(1900)) + t.yday + 2;
}

// secs > 0.
double OleDateOf(int64_t secs, int32_t usecs) {
    const UtcTime t = BreakDownUtc(secs);
    const double days = static_cast<double>(OleDayNumber(t));
    return days + ((t.hour * 60 + t.minute) * 60 + t.second) / 86400.0 +
           (usecs / 1000.0) / 86400000.0;
}

}  // namespace

void UnixTimeToOleDate(int32_t secs, int32_t usecs, double *date) {
    *date = secs <= 0 ? 0.0 : OleDateOf(secs, usecs);
}

void PackedTimeToOleDate(int32_t FAST, int32_t SLOW, double *date) {
    if (FAST < 0 || SLOW < 0) {
        *date = 0.0;
        return;
    }
    const int64_t secs =
        (int64_t{SLOW} - 18) * kSecondsPerPeriod + int64_t{FAST} / 10 + kPeriod18Start;
    const int32_t usecs = FAST % 10 * 100000;
    *date = secs <= 0 ? 0.0 : OleDateOf(secs, usecs);
}

}  // namespace qz45
