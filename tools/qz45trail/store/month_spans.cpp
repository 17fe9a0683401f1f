// The trail table's months and their event times, from the server's
// catalog and each month's index of event times.
#include "month_spans.h"

#include <map>
#include <string>

#include "archive_queries.h"
#include "database.h"
#include "local_time.h"
#include "tables.h"
#include "utc_time.h"

namespace qz45trail {
namespace {

// The months whose events are known for good, by name, and their lock.
SRWLOCK closedLock = SRWLOCK_INIT;
std::map<std::string, MonthSpan> closed;

class ClosedHeld {
public:
    ClosedHeld() { AcquireSRWLockExclusive(&closedLock); }
    ~ClosedHeld() { ReleaseSRWLockExclusive(&closedLock); }
    ClosedHeld(const ClosedHeld &) = delete;
    ClosedHeld &operator=(const ClosedHeld &) = delete;
};

}  // namespace

std::vector<MonthSpan> ReadMonthSpans(const OdbcConnection &connection) {
    bool others = false;
    const std::vector<TableMonth> table = AttachedMonths(connection, &others);
    if (others) return {};
    std::vector<MonthSpan> months;
    const UtcTime dayAgo = AddSeconds(NowUtc(), -86400);
    for (const TableMonth &t : table) {
        const std::string &name = t.name;
        MonthSpan m;
        m.start = t.start;
        m.end = t.end;
        {
            const ClosedHeld hold;
            const auto known = closed.find(name);
            if (known != closed.end()) {
                months.push_back(known->second);
                continue;
            }
        }
        // Through the table, which readers may read (its months they may
        // not), pruned to the month.
        OdbcStatement span(connection);
        const SQL_TIMESTAMP_STRUCT from = Timestamp(m.start), to = Timestamp(m.end);
        span.Prepare(std::string("SELECT min(event_time), max(event_time) FROM ") + kTrailTable +
                     " WHERE shipped_at >= ? AND shipped_at < ?");
        span.BindTimestamp(1, &from);
        span.BindTimestamp(2, &to);
        span.Execute();
        SQL_TIMESTAMP_STRUCT first{}, last{};
        if (span.Fetch() && span.GetTimestamp(1, &first) && span.GetTimestamp(2, &last)) {
            m.hasEvents = true;
            m.firstEvent = FromTimestamp(first);
            m.lastEvent = FromTimestamp(last);
        }
        if (SecondsBetween(m.end, dayAgo) > 0) {
            const ClosedHeld hold;
            closed[name] = m;
        }
        months.push_back(m);
    }
    return months;
}

}  // namespace qz45trail
