// Local time by the system's time-zone rules (Windows).
#include "local_time.h"

#include <windows.h>

#include "utc_time.h"
#include "win_text.h"
#include "win_time.h"

namespace qz45trail {

UtcTime ToLocal(const UtcTime &utc) {
    const SYSTEMTIME u = ToSystemTime(utc);
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &u, &local)) return utc;
    UtcTime out = FromSystemTime(local);
    out.nanoseconds = utc.nanoseconds;
    return out;
}

std::string LocalText(const UtcTime &utc) { return OffsetTimeText(utc, ToLocal(utc), true); }

bool LocalToUtc(const std::string &text, UtcTime *out) {
    std::string iso = text;
    if (iso.size() > 10 && iso[10] == ' ') iso[10] = 'T';
    if (iso.size() == 16) iso += ":00";
    if (iso.size() == 19) iso += "Z";
    UtcTime local;
    if (!ParseUtc(iso, &local, true)) return false;
    const SYSTEMTIME l = ToSystemTime(local);
    SYSTEMTIME u{};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &l, &u)) return false;
    *out = FromSystemTime(u);
    return true;
}

std::string LocalZoneText() {
    DYNAMIC_TIME_ZONE_INFORMATION zone{};
    const DWORD which = GetDynamicTimeZoneInformation(&zone);
    const wchar_t *name = which == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightName : zone.StandardName;
    std::size_t length = 0;
    while (length < 32 && name[length] != L'\0') ++length;
    const std::string now = LocalText(NowUtc());  // "... +01:00"
    const std::string offset = "UTC" + now.substr(now.size() - 6);
    return length == 0 ? offset : Utf8(name, length) + ", " + offset;
}

UtcTime NowUtc() {
    SYSTEMTIME s;
    GetSystemTime(&s);
    return FromSystemTime(s);
}

}  // namespace qz45trail
