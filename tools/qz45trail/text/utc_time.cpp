// UTC arithmetic on days from 1970 (proleptic Gregorian), and times with an offset.
#include "utc_time.h"

#include <cmath>
#include <cstdio>

namespace qz45trail {
namespace {

constexpr long long kDay = 86400;

// The civil date of a day counted from 1970-01-01.
void CivilFromDays(long long days, int *year, int *month, int *day) {
    days += 719468;
    const long long era = (days >= 0 ? days : days - 146096) / 146097;
    const long long dayOfEra = days - era * 146097;
    const long long yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const long long shifted = (5 * dayOfYear + 2) / 153;
    *day = static_cast<int>(dayOfYear - (153 * shifted + 2) / 5 + 1);
    *month = static_cast<int>(shifted < 10 ? shifted + 3 : shifted - 9);
    *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2 ? 1 : 0));
}

}  // namespace

UtcTime AddSeconds(const UtcTime &t, long long seconds) {
    const long long s = UnixSeconds(t) + seconds;
    long long days = s / kDay, rest = s % kDay;
    if (rest < 0) {
        rest += kDay;
        --days;
    }
    UtcTime out;
    CivilFromDays(days, &out.year, &out.month, &out.day);
    out.hour = static_cast<int>(rest / 3600);
    out.minute = static_cast<int>(rest / 60 % 60);
    out.second = static_cast<int>(rest % 60);
    out.nanoseconds = t.nanoseconds;
    return out;
}

double SecondsBetween(const UtcTime &a, const UtcTime &b) {
    return static_cast<double>(UnixSeconds(b) - UnixSeconds(a)) +
           static_cast<double>(b.nanoseconds / 1000000 - a.nanoseconds / 1000000) / 1000.0;
}

std::string OffsetTimeText(const UtcTime &utc, const UtcTime &local, bool milliseconds) {
    const long long offset = std::llround(SecondsBetween(utc, local) / 60);
    const long long a = offset < 0 ? -offset : offset;
    char ms[8] = "";
    if (milliseconds)
        std::snprintf(ms, sizeof ms, ".%03ld", (local.nanoseconds / 1000000) % 1000);
    char text[96];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d%s %c%02lld:%02lld", local.year,
                  local.month, local.day, local.hour, local.minute, local.second, ms,
                  offset < 0 ? '-' : '+', a / 60, a % 60);
    return text;
}

}  // namespace qz45trail
