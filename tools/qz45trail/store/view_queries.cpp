// The stored view's queries: the machines, and their lines within bounds.
#include "view_queries.h"

#include <algorithm>

#include "tables.h"
#include "transaction.h"

namespace qz45trail {

// PostgreSQL walks its primary key's index from one machine to the next.
std::vector<std::string> StoredMachines(const Database &db) {
    std::vector<std::string> machines;
    {
        const Transaction read(db.connection);
        OdbcStatement list(db.connection);
        const std::string table = kTrailTable;
        list.ExecDirect(db.postgres
                            ? "WITH RECURSIVE m(machine) AS (SELECT min(machine) FROM " + table +
                                  " UNION ALL SELECT (SELECT min(machine) FROM " + table +
                                  " WHERE machine > m.machine) FROM m WHERE m.machine IS NOT NULL) "
                                  "SELECT machine FROM m WHERE machine IS NOT NULL"
                            : "SELECT DISTINCT machine FROM " + table);
        for (std::string m; list.Fetch();) {
            list.GetText(1, &m);
            machines.push_back(m);
        }
    }
    std::sort(machines.begin(), machines.end());
    return machines;
}

StoredLines::StoredLines(const Database &db, StoredLineBounds bounds)
    : select_(db.connection), bounds_(std::move(bounds)) {
    std::string sql =
        std::string("SELECT line_no, line_text FROM ") + kTrailTable + " WHERE machine = ?";
    if (bounds_.since) sql += " AND event_time >= ?";
    if (bounds_.until) sql += " AND event_time < ?";
    if (bounds_.category) sql += " AND category = ?";
    select_.Prepare(sql + " ORDER BY line_no");
}

void StoredLines::Read(const std::string &machine,
                       const std::function<void(long long, const std::string &)> &line) {
    select_.ClearParameters();
    SQLUSMALLINT n = 0;
    SQL_TIMESTAMP_STRUCT since{}, until{};
    select_.BindText(++n, &machine);
    if (bounds_.since) {
        since = Timestamp(*bounds_.since);
        select_.BindTimestamp(++n, &since);
    }
    if (bounds_.until) {
        until = Timestamp(*bounds_.until);
        select_.BindTimestamp(++n, &until);
    }
    if (bounds_.category) select_.BindInteger(++n, &*bounds_.category);
    select_.Execute();
    std::string text;
    while (select_.Fetch()) {
        long long lineNo = 0;
        select_.GetInteger(1, &lineNo);
        select_.GetText(2, &text);
        line(lineNo, text);
    }
    select_.CloseCursor();
}

}  // namespace qz45trail
