#include "ole_text.h"

#include <cmath>
#include <cstdio>

namespace qz45svc {

std::string Utf8(const wchar_t *text, int length) {
    if (text == nullptr || length == 0) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    if (length < 0 && !out.empty() && out.back() == '\0') out.pop_back();
    return out;
}

std::string BstrUtf8(BSTR s) {
    return s == nullptr ? std::string() : Utf8(s, static_cast<int>(SysStringLen(s)));
}

std::string VariantTypeName(VARTYPE vt) {
    switch (vt) {
    case VT_EMPTY: return "VT_EMPTY";
    case VT_I2: return "VT_I2";
    case VT_I4: return "VT_I4";
    case VT_R4: return "VT_R4";
    case VT_R8: return "VT_R8";
    case VT_DATE: return "VT_DATE";
    case VT_BSTR: return "VT_BSTR";
    default: return "VT_" + std::to_string(vt);
    }
}

std::string NumberText(const char *format, double value) {
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string OleDateIso8601(DATE date) {
    // Whole milliseconds since 1899-12-30; 0.0 means no time at all.
    if (date == 0.0 || !std::isfinite(date) || date < 0.0 || date > 2958465.0) return {};
    long long ms = std::llround(date * 86400000.0);
    long long days = ms / 86400000, rest = ms % 86400000;
    // Civil date from days since 1970-01-01 (1899-12-30 is day -25569).
    long long z = days - 25569 + 719468;
    long long era = (z >= 0 ? z : z - 146096) / 146097;
    long long doe = z - era * 146097;
    long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long long mp = (5 * doy + 2) / 153;
    long long d = doy - (153 * mp + 2) / 5 + 1;
    long long m = mp < 10 ? mp + 3 : mp - 9;
    long long y = yoe + era * 400 + (m <= 2);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lldT%02lld:%02lld:%02lld.%03lldZ", y, m, d,
                  rest / 3600000, rest / 60000 % 60, rest / 1000 % 60, rest % 1000);
    return text;
}

}  // namespace qz45svc
