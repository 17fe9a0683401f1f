// The bar chart as inline SVG: bars per bucket and series, a legend, labels.
#include "bar_chart.h"

#include <algorithm>
#include <cstdio>

#include "html.h"

namespace qz45trail {
namespace {

// The colours of the chart's series, one per category.
const char *const kColours[] = {"#4e79a7", "#f28e2b", "#e15759", "#76b7b2", "#59a14f",
                                "#edc948", "#b07aa1", "#ff9da7", "#9c755f", "#bab0ac"};
constexpr std::size_t kColourCount = sizeof kColours / sizeof *kColours;
// The patterns drawn over the colours: plain, diagonal, horizontal,
// vertical, crossed, dotted, the other diagonal.
const char *const kPatterns[] = {"", "<path d=\"M0,6 L6,0\"/>", "<path d=\"M0,3 H6\"/>",
                                 "<path d=\"M3,0 V6\"/>", "<path d=\"M0,0 L6,6 M6,0 L0,6\"/>",
                                 "<circle cx=\"3\" cy=\"3\" r=\"1.2\"/>",
                                 "<path d=\"M0,0 L6,6\"/>"};
constexpr std::size_t kPatternCount = sizeof kPatterns / sizeof *kPatterns;

// A pattern per series: its colour, and its lines over it.
std::string Patterns(std::size_t count) {
    std::string defs = "<defs>";
    char text[256];
    for (std::size_t s = 0; s < count; ++s) {
        std::snprintf(text, sizeof text,
                      "<pattern id=\"series%zu\" patternUnits=\"userSpaceOnUse\" width=\"6\" "
                      "height=\"6\"><rect width=\"6\" height=\"6\" fill=\"%s\"/><g stroke=\"#000\" "
                      "stroke-width=\"1\" fill=\"#000\">",
                      s, kColours[s % kColourCount]);
        defs += text;
        defs += kPatterns[s % kPatternCount];
        defs += "</g></pattern>";
    }
    return defs + "</defs>";
}

}  // namespace

std::string BarChart(const std::vector<std::string> &series, const std::vector<ChartBucket> &buckets,
                     const std::string &title) {
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
                  "height=\"%d\" viewBox=\"0 0 %d %d\" role=\"img\" aria-labelledby=\"chart-title\">",
                  width, totalHeight, width, totalHeight);
    svg += text + ("<title id=\"chart-title\">" + Html(title) + "</title>") +
           Patterns(series.size());
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
                          "<rect x=\"%d\" y=\"%d\" width=\"%d\" height=\"%d\" "
                          "fill=\"url(#series%zu)\" stroke=\"#333\" stroke-width=\".5\"><title>",
                          x0 + static_cast<int>(s) * barWidth, top + height - h, barWidth - 1, h,
                          s);
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
                      "<rect x=\"%d\" y=\"%d\" width=\"12\" height=\"12\" fill=\"url(#series%zu)\" "
                      "stroke=\"#333\" stroke-width=\".5\"/><text x=\"%d\" y=\"%d\" font-size=\"12\">",
                      left, y, s, left + 18, y + 11);
        svg += text + Html(series[s]) + "</text>";
    }
    return svg + "</svg>";
}

}  // namespace qz45trail
