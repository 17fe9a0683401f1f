// A bar chart as inline SVG, a plain string.
#pragma once

#include <string>
#include <vector>

namespace qz45trail {

// One group of bars per bucket, one bar per series in it, the series named
// in a legend; each series has its colour and its pattern, so that they
// differ by more than colour. The title is the chart's accessible name.
struct ChartBucket {
    std::string label;
    std::vector<long long> counts;  // one per series
};
std::string BarChart(const std::vector<std::string> &series, const std::vector<ChartBucket> &buckets,
                     const std::string &title = "bar chart");

}  // namespace qz45trail
