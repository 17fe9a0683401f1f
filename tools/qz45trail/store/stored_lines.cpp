// What the plant database holds of one machine's trail lines: the queries of
// the shipper and of prune.
#include "stored_lines.h"

#include "tables.h"
#include "transaction.h"

namespace qz45trail {

bool HoldsAnyLine(const Database &db, const std::string &machine) {
    const Transaction reading(db.connection);
    OdbcStatement select(db.connection);
    select.Run(std::string("SELECT MIN(line_no) FROM ") + kTrailTable + " WHERE machine = ?",
               machine);
    long long n = 0;
    return select.Fetch() && select.GetInteger(1, &n);
}

std::string StoredElsewhere(const Database &db, const std::string &machine, long long lineNo,
                            const std::string &sha) {
    const Transaction reading(db.connection);
    OdbcStatement select(db.connection);
    // Through each machine's own index: each machine the shipment log
    // knows, at that line.
    select.Run(std::string("SELECT MIN(t.machine) FROM (SELECT DISTINCT machine FROM ") +
                   kShipmentsTable + ") m JOIN " + kTrailTable +
                   " t ON t.machine = m.machine AND t.line_no = ? WHERE " + kLineSha256Sql +
                   " = ? AND t.machine <> ?",
               lineNo, sha, machine);
    std::string other;
    if (select.Fetch() && !select.GetText(1, &other)) other.clear();
    return other;
}

long long CountStoredThrough(const Database &db, const std::string &machine, long long through) {
    const Transaction reading(db.connection);
    OdbcStatement count(db.connection);
    count.Run(std::string("SELECT count(*) FROM ") + kTrailTable +
                  " WHERE machine = ? AND line_no <= ?",
              machine, through);
    long long held = 0;
    if (count.Fetch()) count.GetInteger(1, &held);
    return held;
}

void ForEachStoredSha(const Database &db, const std::string &machine, long long after,
                      const std::function<void(const StoredSha &)> &each) {
    const Transaction reading(db.connection);
    OdbcStatement select(db.connection);
    select.Run(std::string("SELECT line_no, ") + kLineSha256Sql + " FROM " + kTrailTable +
                   " WHERE machine = ? AND line_no > ? ORDER BY line_no",
               machine, after);
    StoredSha stored;
    while (select.Fetch()) {
        select.GetInteger(1, &stored.lineNo);
        select.GetText(2, &stored.sha);
        each(stored);
    }
}

long long FirstLineNotHeld(const Database &db, const std::string &machine, long long firstLine,
                           const std::vector<std::string> &lines) {
    const long long lastLine = firstLine + static_cast<long long>(lines.size()) - 1;
    const Transaction reading(db.connection);
    OdbcStatement select(db.connection);
    select.Run(std::string("SELECT line_no, line_text FROM ") + kTrailTable +
                   " WHERE machine = ? AND line_no BETWEEN ? AND ? ORDER BY line_no",
               machine, firstLine, lastLine);
    long long expected = firstLine;
    std::string text;
    while (select.Fetch()) {
        long long n = 0;
        select.GetInteger(1, &n);
        select.GetText(2, &text);
        if (n != expected || text != lines[static_cast<std::size_t>(n - firstLine)]) break;
        ++expected;
    }
    return expected > lastLine ? 0 : expected;
}

}  // namespace qz45trail
