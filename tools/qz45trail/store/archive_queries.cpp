// The archive's SQL: the months of the trail table, their lines, DETACH and
// ATTACH, and the insert-only record of archives.
#include "archive_queries.h"

#include <cstdio>
#include <map>

#include "tables.h"

namespace qz45trail {
namespace {

// "2026-01-01 00:00:00", as the server reads a timestamp.
std::string SqlTime(const UtcTime &t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

// The month's partition as an SQL name, and its bounds.
std::string Quoted(const std::string &name) { return "\"" + name + "\""; }
std::string Bounds(const TableMonth &m) {
    return "FOR VALUES FROM ('" + SqlTime(m.start) + "') TO ('" + SqlTime(m.end) + "')";
}

}  // namespace

bool MonthNamed(const std::string &month, TableMonth *m) {
    int year = 0, mon = 0;
    char extra = 0;
    if (month.size() != 7 || std::sscanf(month.c_str(), "%4d-%2d%c", &year, &mon, &extra) != 2 ||
        year < 1900 || mon < 1 || mon > 12)
        return false;
    *m = TableMonth{};
    char name[64];
    std::snprintf(name, sizeof name, "%s_%04d_%02d", kTrailTable, year, mon);
    m->name = name;
    m->month = month;
    m->start.year = year;
    m->start.month = mon;
    m->start.day = 1;
    m->end = m->start;
    if (++m->end.month > 12) {
        m->end.month = 1;
        ++m->end.year;
    }
    return true;
}

std::vector<TableMonth> AttachedMonths(const OdbcConnection &connection, bool *others) {
    if (others != nullptr) *others = false;
    OdbcStatement list(connection);
    list.ExecDirect(std::string("SELECT c.relname FROM pg_inherits i JOIN pg_class c ON c.oid = "
                                "i.inhrelid WHERE i.inhparent = to_regclass('") +
                    kTrailTable + "') ORDER BY 1");
    std::vector<TableMonth> months;
    const std::string head = std::string(kTrailTable) + "_";
    for (std::string name; list.Fetch();) {
        list.GetText(1, &name);
        TableMonth m;
        if (name.size() == head.size() + 7 && name.compare(0, head.size(), head) == 0) {
            std::string month = name.substr(head.size());
            month[4] = '-';
            if (MonthNamed(month, &m) && m.name == name) {
                months.push_back(m);
                continue;
            }
        }
        if (others != nullptr) *others = true;
    }
    return months;
}

bool DetachedMonth(const Database &db, const std::string &month, TableMonth *found) {
    if (!MonthNamed(month, found)) return false;
    OdbcStatement s(db.connection);
    s.Run("SELECT to_regclass(?) IS NOT NULL AND NOT EXISTS (SELECT 1 FROM pg_inherits WHERE "
          "inhrelid = to_regclass(?))",
          found->name, found->name);
    std::string there;
    return s.Fetch() && s.GetText(1, &there) && (there == "1" || there == "t" || there == "true");
}

std::vector<MachineRun> MachineRuns(const Database &db, const TableMonth &m) {
    OdbcStatement s(db.connection);
    s.Run(std::string("SELECT machine, min(line_no), max(line_no), count(*) FROM ") +
              kTrailTable + " WHERE shipped_at >= CAST(? AS timestamp) AND shipped_at < "
              "CAST(? AS timestamp) GROUP BY machine ORDER BY machine",
          SqlTime(m.start), SqlTime(m.end));
    std::vector<MachineRun> runs;
    while (s.Fetch()) {
        MachineRun r;
        s.GetText(1, &r.machine);
        s.GetInteger(2, &r.first);
        s.GetInteger(3, &r.last);
        s.GetInteger(4, &r.count);
        runs.push_back(r);
    }
    return runs;
}

long long FirstLineAfter(const Database &db, const std::string &machine, const TableMonth &m) {
    OdbcStatement s(db.connection);
    s.Run(std::string("SELECT min(line_no) FROM ") + kTrailTable +
              " WHERE machine = ? AND shipped_at >= CAST(? AS timestamp)",
          machine, SqlTime(m.end));
    long long first = 0;
    if (!s.Fetch() || !s.GetInteger(1, &first)) first = 0;
    return first;
}

void ForEachMonthLine(const Database &db, const TableMonth &m, bool detached,
                      const std::string &machine,
                      const std::function<void(long long, const std::string &,
                                               const std::string &)> &line) {
    OdbcStatement s(db.connection);
    s.Run("SELECT line_no, to_char(submitted, 'YYYY-MM-DD\"T\"HH24:MI:SS.MS\"Z\"'), line_text "
          "FROM " + (detached ? Quoted(m.name) : std::string(kTrailTable)) +
              " WHERE machine = ? AND shipped_at >= CAST(? AS timestamp) AND shipped_at < "
              "CAST(? AS timestamp) ORDER BY line_no",
          machine, SqlTime(m.start), SqlTime(m.end));
    std::string submitted, text;
    while (s.Fetch()) {
        long long n = 0;
        s.GetInteger(1, &n);
        if (!s.GetText(2, &submitted)) submitted.clear();
        s.GetText(3, &text);
        line(n, submitted, text);
    }
}

void DetachMonth(const Database &db, const TableMonth &m) {
    OdbcStatement s(db.connection);
    s.ExecDirect(std::string("ALTER TABLE ") + kTrailTable + " DETACH PARTITION " +
                 Quoted(m.name));
}

void AttachMonth(const Database &db, const TableMonth &m) {
    OdbcStatement s(db.connection);
    s.ExecDirect(std::string("ALTER TABLE ") + kTrailTable + " ATTACH PARTITION " +
                 Quoted(m.name) + " " + Bounds(m));
}

void DropMonth(const Database &db, const TableMonth &m) {
    OdbcStatement s(db.connection);
    s.ExecDirect("DROP TABLE " + Quoted(m.name));
}

void RecordArchive(const Database &db, const TableMonth &m, const std::string &action,
                   const std::string &folder, const std::string &manifestSha256,
                   const std::string &machinesJson, const std::string &windowsUser) {
    OdbcStatement s(db.connection);
    s.Run(std::string("INSERT INTO ") + kArchivesTable +
              " (month, action, folder, manifest, manifest_sha256, machines, windows_user) "
              "VALUES (CAST(? AS date), ?, ?, ?, ?, CAST(? AS jsonb), ?)",
          SqlTime(m.start).substr(0, 10), action, folder, "manifest-" + m.month + ".json",
          manifestSha256, machinesJson, windowsUser);
}

std::vector<ArchivedEnd> ArchivedEnds(const Database &db) {
    std::vector<ArchivedEnd> ends;
    if (!db.postgres) return ends;
    {
        OdbcStatement there(db.connection);
        there.Run("SELECT count(*) FROM pg_class WHERE oid = to_regclass(?) AND "
                  "has_table_privilege(oid, 'SELECT')",
                  std::string(kArchivesTable));
        long long n = 0;
        if (!there.Fetch() || !there.GetInteger(1, &n) || n == 0) return ends;
    }
    // Each month's latest record, unless it was restored.
    OdbcStatement s(db.connection);
    s.ExecDirect(std::string("SELECT r.machine, r.last, r.hash, a.folder || '\\' || a.manifest "
                             "FROM (SELECT DISTINCT ON (month) * FROM ") +
                 kArchivesTable + " ORDER BY month, archive_id DESC) a CROSS JOIN LATERAL "
                 "jsonb_to_recordset(a.machines) AS r(machine text, last bigint, hash text) "
                 "WHERE a.action <> 'restored' ORDER BY r.machine, r.last");
    std::map<std::string, ArchivedEnd> last;
    while (s.Fetch()) {
        ArchivedEnd e;
        s.GetText(1, &e.machine);
        s.GetInteger(2, &e.last);
        s.GetText(3, &e.hash);
        s.GetText(4, &e.manifest);
        last[e.machine] = e;  // the highest last line comes last
    }
    for (auto &[machine, e] : last) ends.push_back(e);
    return ends;
}

}  // namespace qz45trail
