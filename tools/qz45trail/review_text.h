// Text of the review page: HTML and URL encoding, forms, CSV cells, and the
// chart, all as plain strings.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qz45trail {

// Text for HTML content and quoted attribute values.
std::string Html(const std::string &text);

// A query string or form body ("a=1&b=x%20y") as names and values.
std::map<std::string, std::string> ParseForm(const std::string &encoded);
std::string UrlEncode(const std::string &text);

// The path of a request target, and its query.
std::string TargetPath(const std::string &target);
std::string TargetQuery(const std::string &target);

// One CSV cell as RFC 4180 has it, quoted when it must be; a text that a
// spreadsheet program would take for a formula (it begins with =, +, -, @,
// a tab or a carriage return) gets a leading apostrophe, which makes it
// inert text.
std::string CsvCell(const std::string &text);

// A bar chart as inline SVG: one group of bars per bucket, one bar per
// series in it, the series named in a legend.
struct ChartBucket {
    std::string label;
    std::vector<long long> counts;  // one per series
};
std::string BarChart(const std::vector<std::string> &series, const std::vector<ChartBucket> &buckets);

}  // namespace qz45trail
