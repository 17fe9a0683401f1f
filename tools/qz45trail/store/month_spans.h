// The trail table's months, and the event times each holds.
#pragma once

#include <vector>

#include "month_window.h"
#include "odbc.h"

namespace qz45trail {

// Each month of the trail table (PostgreSQL's partitions, named by their
// month), with its first and last event time; none when the table is not
// partitioned so, or a partition is named otherwise (every month is read
// then). A month that ended more than a day ago takes no more rows: its
// events are read once in the process's life.
std::vector<MonthSpan> ReadMonthSpans(const OdbcConnection &connection);

}  // namespace qz45trail
