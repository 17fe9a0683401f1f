// Which months of the trail table a query for a range of event times needs
// to read. The table is partitioned by the month in which each row went in,
// not by its event time: the rows of a range of event times are in the
// months whose events overlap it, and the query reads only those, as a
// range of the month column (shipped_at) that PostgreSQL prunes by.
#pragma once

#include <optional>
#include <vector>

#include "trail_row.h"

namespace qz45trail {

// One month's partition: the times its rows went in (from start, to end not
// included), and the first and last event time its rows hold (hasEvents
// false when none has one).
struct MonthSpan {
    UtcTime start, end;
    bool hasEvents = false;
    UtcTime firstEvent, lastEvent;
};

// A range of the month column: from (included) to (not).
struct MonthRange {
    UtcTime from, to;
};

// The months to read for events from since (included) to until (not), as
// ranges of the month column, months next to each other in one: everything
// when `all` (a bound not given on both sides, or no months known), no row
// when `none`.
struct MonthWindow {
    bool all = true, none = false;
    std::vector<MonthRange> ranges;
};
MonthWindow WindowFor(const std::vector<MonthSpan> &months, const std::optional<UtcTime> &since,
                      const std::optional<UtcTime> &until);

}  // namespace qz45trail
