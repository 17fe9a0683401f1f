#include "review_text.h"

#include <algorithm>
#include <cstdio>

namespace qz45trail {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string UrlDecode(const std::string &text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// The colours of the chart's series, one per category.
const char *const kColours[] = {"#4e79a7", "#f28e2b", "#e15759", "#76b7b2", "#59a14f",
                                "#edc948", "#b07aa1", "#ff9da7", "#9c755f", "#bab0ac"};

}  // namespace

std::string Html(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}

std::map<std::string, std::string> ParseForm(const std::string &encoded) {
    std::map<std::string, std::string> fields;
    std::size_t at = 0;
    while (at <= encoded.size()) {
        std::size_t end = encoded.find('&', at);
        if (end == std::string::npos) end = encoded.size();
        const std::string pair = encoded.substr(at, end - at);
        if (!pair.empty()) {
            const std::size_t eq = pair.find('=');
            const std::string name = UrlDecode(pair.substr(0, eq));
            fields[name] = eq == std::string::npos ? "" : UrlDecode(pair.substr(eq + 1));
        }
        at = end + 1;
    }
    return fields;
}

std::string UrlEncode(const std::string &text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~')
            out.push_back(static_cast<char>(c));
        else
            out += {'%', kDigits[c >> 4], kDigits[c & 15]};
    }
    return out;
}

std::string TargetPath(const std::string &target) { return target.substr(0, target.find('?')); }

std::string TargetQuery(const std::string &target) {
    const std::size_t q = target.find('?');
    return q == std::string::npos ? "" : target.substr(q + 1);
}

std::string CsvCell(const std::string &text) {
    std::string cell = text;
    if (!cell.empty() && (cell[0] == '=' || cell[0] == '+' || cell[0] == '-' || cell[0] == '@' ||
                          cell[0] == '\t' || cell[0] == '\r'))
        cell.insert(0, "'");
    if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
    std::string quoted = "\"";
    for (const char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string BarChart(const std::vector<std::string> &series, const std::vector<ChartBucket> &buckets) {
    long long most = 1;
    for (const ChartBucket &b : buckets)
        for (const long long n : b.counts) most = std::max(most, n);
    const int barWidth = 8, gap = 6, height = 160, top = 10, left = 50, legendRow = 18;
    const int groupWidth = static_cast<int>(series.size()) * barWidth + gap;
    const int width = left + std::max(1, static_cast<int>(buckets.size())) * groupWidth + 10;
    const int legendTop = top + height + 40;
    const int totalHeight = legendTop + static_cast<int>(series.size()) * legendRow + 10;
    char text[512];
    std::string svg;
    std::snprintf(text, sizeof text,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" class=\"chart\" width=\"%d\" "
                  "height=\"%d\" viewBox=\"0 0 %d %d\" role=\"img\">",
                  width, totalHeight, width, totalHeight);
    svg += text;
    std::snprintf(text, sizeof text,
                  "<line x1=\"%d\" y1=\"%d\" x2=\"%d\" y2=\"%d\" stroke=\"#888\"/>"
                  "<text x=\"%d\" y=\"%d\" font-size=\"10\" text-anchor=\"end\">%lld</text>"
                  "<text x=\"%d\" y=\"%d\" font-size=\"10\" text-anchor=\"end\">0</text>",
                  left - 2, top + height, width, top + height, left - 4, top + 8, most, left - 4,
                  top + height);
    svg += text;
    for (std::size_t b = 0; b < buckets.size(); ++b) {
        const int x0 = left + static_cast<int>(b) * groupWidth;
        for (std::size_t s = 0; s < series.size() && s < buckets[b].counts.size(); ++s) {
            const long long n = buckets[b].counts[s];
            if (n == 0) continue;
            const int h = static_cast<int>(std::max<long long>(1, n * height / most));
            std::snprintf(text, sizeof text,
                          "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" fill=\"%s\">"
                          "<title>",
                          x0 + static_cast<int>(s) * barWidth, top + height - h, barWidth - 1, h,
                          kColours[s % (sizeof kColours / sizeof *kColours)]);
            svg += text + Html(buckets[b].label) + ", " + Html(series[s]) + ": " +
                   std::to_string(n) + "</title></rect>";
        }
        // Every bucket's label would crowd: about twelve of them are shown.
        const std::size_t every = std::max<std::size_t>(1, (buckets.size() + 11) / 12);
        if (b % every == 0) {
            std::snprintf(text, sizeof text,
                          "<text x=\"%d\" y=\"%d\" font-size=\"10\">", x0, top + height + 14);
            svg += text + Html(buckets[b].label) + "</text>";
        }
    }
    for (std::size_t s = 0; s < series.size(); ++s) {
        const int y = legendTop + static_cast<int>(s) * legendRow;
        std::snprintf(text, sizeof text,
                      "<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"12\" fill=\"%s\"/>"
                      "<text x=\"%d\" y=\"%d\" font-size=\"12\">",
                      left, y, kColours[s % (sizeof kColours / sizeof *kColours)], left + 18, y + 11);
        svg += text + Html(series[s]) + "</text>";
    }
    return svg + "</svg>";
}

}  // namespace qz45trail
