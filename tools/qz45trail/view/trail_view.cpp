// The view's platform-free parts: the filter's match, terminal widths, values as text.
#include "trail_view.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <vector>

using nlohmann::json;

namespace qz45trail {
namespace {

// One code point of s from at: its value and length; a byte that does not
// start a well-formed sequence is itself, one byte long (bad set).
struct CodePoint {
    uint32_t value;
    std::size_t length;
    bool bad;
};

CodePoint Decode(std::string_view s, std::size_t at) {
    const auto c = static_cast<unsigned char>(s[at]);
    if (c < 0x80) return {c, 1, false};
    std::size_t n = 0;
    uint32_t v = 0, least = 0;
    if (c >= 0xC2 && c <= 0xDF) n = 2, v = c & 0x1F, least = 0x80;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, v = c & 0x0F, least = 0x800;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, v = c & 0x07, least = 0x10000;
    else return {c, 1, true};
    if (at + n > s.size()) return {c, 1, true};
    for (std::size_t i = 1; i < n; ++i) {
        const auto d = static_cast<unsigned char>(s[at + i]);
        if ((d & 0xC0) != 0x80) return {c, 1, true};
        v = (v << 6) | (d & 0x3F);
    }
    if (v < least || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) return {c, 1, true};
    return {v, n, false};
}

// The capital of a lower-case letter, one for one; any other code point as
// it is.
uint32_t Upper(uint32_t c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c < 0xE0) return c;
    if (c <= 0xFE) return c == 0xF7 ? c : c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        // Latin Extended-A: pairs, the capital first; from U+0139 to U+0148
        // and U+0179 to U+017E the capital is the odd one.
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return c % 2 == 0 ? c - 1 : c;
        if (c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F) return c;
        return c % 2 == 1 ? c - 1 : c;
    }
    if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? 0x3A3 : c - 0x20;
    if (c == 0x3AC) return 0x386;
    if (c >= 0x3AD && c <= 0x3AF) return c - 0x25;
    if (c == 0x3CC) return 0x38C;
    if (c == 0x3CD || c == 0x3CE) return c - 0x3F;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    if (c >= 0xFF41 && c <= 0xFF5A) return c - 0x20;
    return c;
}

bool Within(uint32_t c, uint32_t first, uint32_t last) { return c >= first && c <= last; }

std::size_t Width(const CodePoint &p) {
    if (p.bad) return 1;
    const uint32_t c = p.value;
    if (Within(c, 0x300, 0x36F) || Within(c, 0x1AB0, 0x1AFF) || Within(c, 0x1DC0, 0x1DFF) ||
        Within(c, 0x200B, 0x200F) || Within(c, 0x20D0, 0x20FF) || Within(c, 0xFE00, 0xFE0F) ||
        Within(c, 0xFE20, 0xFE2F) || c == 0xFEFF)
        return 0;
    if (Within(c, 0x1100, 0x115F) || Within(c, 0x2E80, 0x303E) || Within(c, 0x3041, 0x33FF) ||
        Within(c, 0x3400, 0x4DBF) || Within(c, 0x4E00, 0x9FFF) || Within(c, 0xA000, 0xA4CF) ||
        Within(c, 0xAC00, 0xD7A3) || Within(c, 0xF900, 0xFAFF) || Within(c, 0xFE30, 0xFE4F) ||
        Within(c, 0xFF00, 0xFF60) || Within(c, 0xFFE0, 0xFFE6) || Within(c, 0x1F300, 0x1F64F) ||
        Within(c, 0x1F900, 0x1F9FF) || Within(c, 0x20000, 0x2FFFD) || Within(c, 0x30000, 0x3FFFD))
        return 2;
    return 1;
}

bool SameText(const std::string &filter, const Field &field) {
    return SameIgnoringCase(filter, field.null ? std::string_view() : field.text);
}

bool Before(const UtcTime &a, const UtcTime &b) {
    const long long x[] = {a.year, a.month, a.day, a.hour, a.minute, a.second, a.nanoseconds};
    const long long y[] = {b.year, b.month, b.day, b.hour, b.minute, b.second, b.nanoseconds};
    for (std::size_t i = 0; i < 7; ++i)
        if (x[i] != y[i]) return x[i] < y[i];
    return false;
}

}  // namespace

bool SameIgnoringCase(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const CodePoint p = Decode(a, i), q = Decode(b, j);
        if (p.bad != q.bad || (p.bad ? p.value != q.value : Upper(p.value) != Upper(q.value)))
            return false;
        i += p.length;
        j += q.length;
    }
    return i == a.size() && j == b.size();
}

bool Matches(const RowFilter &f, const Row &row) {
    if (!f.machine.empty() && !SameText(f.machine, row[kMachine])) return false;
    if (!f.user.empty()) {
        const std::size_t slash = f.user.find('\\');
        if (slash == std::string::npos) {
            if (!SameText(f.user, row[kUserName])) return false;
        } else if (!SameText(f.user.substr(0, slash), row[kDomainName]) ||
                   !SameText(f.user.substr(slash + 1), row[kUserName])) {
            return false;
        }
    }
    if (!f.domain.empty() && !SameText(f.domain, row[kDomainName])) return false;
    if (!f.descriptor.empty() && !SameText(f.descriptor, row[kDescriptor])) return false;
    if (!f.property.empty() && !SameText(f.property, row[kProperty])) return false;
    if (f.since || f.until) {
        if (row[kEventTime].null) return false;
        if (f.since && Before(row[kEventTime].time, *f.since)) return false;
        if (f.until && !Before(row[kEventTime].time, *f.until)) return false;
    }
    if (!f.eventClass.empty() && (row[kEventClass].null || row[kEventClass].text != f.eventClass))
        return false;
    if (f.category && (row[kCategory].null || row[kCategory].number != *f.category)) return false;
    return true;
}

std::size_t TextWidth(std::string_view utf8) {
    std::size_t width = 0;
    for (std::size_t at = 0; at < utf8.size();) {
        const CodePoint p = Decode(utf8, at);
        width += Width(p);
        at += p.length;
    }
    return width;
}

std::string Fitted(const std::string &text, std::size_t width, bool cut, bool keepEnd) {
    const std::size_t has = TextWidth(text);
    if (has <= width || !cut) return text + std::string(has < width ? width - has : 0, ' ');
    if (width == 0) return "";
    struct Glyph {
        std::size_t at, length, width;
    };
    std::vector<Glyph> glyphs;
    for (std::size_t at = 0; at < text.size();) {
        const CodePoint p = Decode(text, at);
        glyphs.push_back({at, p.length, Width(p)});
        at += p.length;
    }
    static const char kMarker[] = "\xE2\x80\xA6";  // U+2026, one column
    std::size_t used = 1, n = 0;
    if (keepEnd) {
        while (n < glyphs.size() && used + glyphs[glyphs.size() - 1 - n].width <= width)
            used += glyphs[glyphs.size() - 1 - n++].width;
        const std::size_t from = n == 0 ? text.size() : glyphs[glyphs.size() - n].at;
        return kMarker + std::string(width - used, ' ') + text.substr(from);
    }
    while (n < glyphs.size() && used + glyphs[n].width <= width) used += glyphs[n++].width;
    const std::size_t to = n == glyphs.size() ? text.size() : glyphs[n].at;
    return text.substr(0, to) + kMarker + std::string(width - used, ' ');
}

std::string ValueText(const json &value) {
    if (!value.is_object()) return "";
    if (value.contains("utc")) return JsonText(value, "utc");
    const auto v = value.find("value");
    if (v == value.end()) return "";
    if (v->is_number_float()) {
        const double d = v->get<double>();
        char text[64];
        std::to_chars_result r;
        if (JsonText(value, "type") == "VT_R4" && std::isfinite(d) && std::fabs(d) <= FLT_MAX)
            r = std::to_chars(text, text + sizeof text, static_cast<float>(d));
        else
            r = std::to_chars(text, text + sizeof text, d);
        if (r.ec == std::errc()) return std::string(text, r.ptr);
    }
    return JsonText(value, "value");
}

}  // namespace qz45trail
