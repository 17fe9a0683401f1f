#include "win_time.h"

namespace qz45trail {

UtcTime FromSystemTime(const SYSTEMTIME &t) {
    UtcTime u;
    u.year = t.wYear, u.month = t.wMonth, u.day = t.wDay;
    u.hour = t.wHour, u.minute = t.wMinute, u.second = t.wSecond;
    u.nanoseconds = t.wMilliseconds * 1000000L;
    return u;
}

SYSTEMTIME ToSystemTime(const UtcTime &t) {
    SYSTEMTIME s{};
    s.wYear = static_cast<WORD>(t.year);
    s.wMonth = static_cast<WORD>(t.month);
    s.wDay = static_cast<WORD>(t.day);
    s.wHour = static_cast<WORD>(t.hour);
    s.wMinute = static_cast<WORD>(t.minute);
    s.wSecond = static_cast<WORD>(t.second);
    s.wMilliseconds = static_cast<WORD>(t.nanoseconds / 1000000);
    return s;
}

}  // namespace qz45trail
