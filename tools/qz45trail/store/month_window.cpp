// The months a range of event times needs.
#include "month_window.h"

#include <algorithm>

#include "utc_time.h"

namespace qz45trail {

MonthWindow WindowFor(const std::vector<MonthSpan> &months, const std::optional<UtcTime> &since,
                      const std::optional<UtcTime> &until) {
    MonthWindow w;
    if ((!since && !until) || months.empty()) return w;
    w.all = false;
    std::vector<MonthSpan> sorted = months;
    std::sort(sorted.begin(), sorted.end(), [](const MonthSpan &a, const MonthSpan &b) {
        return SecondsBetween(a.start, b.start) > 0;
    });
    for (const MonthSpan &m : sorted) {
        // Its events overlap [since, until): the last is not before since,
        // the first is before until.
        if (!m.hasEvents) continue;
        if (since && SecondsBetween(*since, m.lastEvent) < 0) continue;
        if (until && SecondsBetween(m.firstEvent, *until) <= 0) continue;
        if (!w.ranges.empty() && SecondsBetween(w.ranges.back().to, m.start) == 0)
            w.ranges.back().to = m.end;
        else
            w.ranges.push_back({m.start, m.end});
    }
    w.none = w.ranges.empty();
    return w;
}

}  // namespace qz45trail
