#include "database.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "table.h"
#include "verify.h"

namespace qz45trail {
namespace {

constexpr char kTable[] = "audit_trail";

// Column types: PostgreSQL's own; the SQL standard's elsewhere.
const char *TypeName(ColumnKind kind, bool postgres) {
    switch (kind) {
    case ColumnKind::kText: return postgres ? "text" : "VARCHAR(1024)";
    case ColumnKind::kLongText: return postgres ? "text" : "CLOB";
    case ColumnKind::kInteger: return "INTEGER";
    case ColumnKind::kBigInt: return "BIGINT";
    case ColumnKind::kTime: return postgres ? "timestamp(3)" : "TIMESTAMP";
    case ColumnKind::kHash: return postgres ? "text" : "VARCHAR(128)";
    case ColumnKind::kJson: return postgres ? "jsonb" : "CLOB";
    }
    return "";
}

std::string ColumnList() {
    std::string list;
    for (const Column &c : kColumns) list += std::string(list.empty() ? "" : ", ") + c.name;
    return list;
}

bool TableExists(const Database &db) {
    OdbcStatement probe(db.connection);
    bool exists = true;
    try {
        probe.ExecDirect(std::string("SELECT line_no FROM ") + kTable + " WHERE 1 = 0");
    } catch (const OdbcError &) {
        exists = false;
    }
    db.connection.Rollback();
    return exists;
}

SQL_TIMESTAMP_STRUCT Timestamp(const UtcTime &t) {
    SQL_TIMESTAMP_STRUCT s{};
    s.year = static_cast<SQLSMALLINT>(t.year);
    s.month = static_cast<SQLUSMALLINT>(t.month);
    s.day = static_cast<SQLUSMALLINT>(t.day);
    s.hour = static_cast<SQLUSMALLINT>(t.hour);
    s.minute = static_cast<SQLUSMALLINT>(t.minute);
    s.second = static_cast<SQLUSMALLINT>(t.second);
    s.fraction = static_cast<SQLUINTEGER>(t.nanoseconds);
    return s;
}

UtcTime FromTimestamp(const SQL_TIMESTAMP_STRUCT &s) {
    UtcTime t;
    t.year = s.year;
    t.month = s.month;
    t.day = s.day;
    t.hour = s.hour;
    t.minute = s.minute;
    t.second = s.second;
    t.nanoseconds = static_cast<long>(s.fraction);
    return t;
}

void ReadRow(OdbcStatement *select, Row *row) {
    for (int i = 0; i < kColumnCount; ++i) {
        Field &f = (*row)[i];
        f = Field{};
        const SQLUSMALLINT column = static_cast<SQLUSMALLINT>(i + 1);
        switch (kColumns[i].kind) {
        case ColumnKind::kInteger:
        case ColumnKind::kBigInt: f.null = !select->GetInteger(column, &f.number); break;
        case ColumnKind::kTime: {
            SQL_TIMESTAMP_STRUCT s{};
            f.null = !select->GetTimestamp(column, &s);
            if (!f.null) f.time = FromTimestamp(s);
            break;
        }
        default: f.null = !select->GetText(column, &f.text); break;
        }
    }
}

// Verdict on one machine's stored rows, which select yields by line.
int VerifyMachine(OdbcStatement *select, const std::string &machine) {
    std::vector<NumberedLine> lines;
    Row stored, derived;
    while (select->Fetch()) {
        ReadRow(select, &stored);
        const long long n = stored[kLineNo].number;
        const long long expected = static_cast<long long>(lines.size()) + 1;
        if (n != expected) {
            std::printf("%s: line %lld is missing: removed from the database\n", machine.c_str(),
                        expected);
            return 1;
        }
        std::string why;
        if (!RowFromLine(machine, n, stored[kLineText].text, &derived, &why)) {
            std::printf("%s: line %lld: its stored text is not a trail line (%s): changed in the "
                        "database\n", machine.c_str(), n, why.c_str());
            return 1;
        }
        if (const char *column = FirstDifference(stored, derived)) {
            std::printf("%s: line %lld: column %s does not match the line's text: changed in the "
                        "database\n", machine.c_str(), n, column);
            return 1;
        }
        lines.push_back({n, std::move(stored[kLineText].text)});
    }
    return CheckChain(lines, machine, true);
}

}  // namespace

Database::Database(const std::string &connectionString) : connection(connectionString) {
    postgres = connection.DbmsName().find("PostgreSQL") != std::string::npos;
}

void EnsureTable(const Database &db) {
    if (TableExists(db)) return;
    std::string create = std::string("CREATE TABLE ") + kTable + " (";
    for (const Column &c : kColumns) {
        create += std::string(c.name) + " " + TypeName(c.kind, db.postgres) +
                  (c.notNull ? " NOT NULL, " : ", ");
    }
    create += "PRIMARY KEY (machine, line_no))";
    static const char *const kIndexes[] = {
        "audit_trail_time ON audit_trail (event_time)",
        "audit_trail_user ON audit_trail (user_name, event_time)",
        "audit_trail_descriptor ON audit_trail (descriptor, event_time)",
        "audit_trail_category ON audit_trail (category, event_time)",
    };
    try {
        OdbcStatement statement(db.connection);
        statement.ExecDirect(create);
        for (const char *index : kIndexes) statement.ExecDirect(std::string("CREATE INDEX ") + index);
        db.connection.Commit();
    } catch (const OdbcError &) {
        // Another shipper may have created it meanwhile.
        db.connection.Rollback();
        if (!TableExists(db)) throw;
    }
}

std::string InsertSql(const Database &db) {
    std::string values;
    for (const Column &c : kColumns) {
        if (!values.empty()) values += ", ";
        values += c.kind == ColumnKind::kJson && db.postgres ? "CAST(? AS jsonb)" : "?";
    }
    return std::string("INSERT INTO ") + kTable + " (" + ColumnList() + ") VALUES (" + values + ")";
}

void BindRow(OdbcStatement *insert, const Row &row) {
    insert->ClearParameters();
    for (int i = 0; i < kColumnCount; ++i) {
        const Field &f = row[i];
        const SQLUSMALLINT n = static_cast<SQLUSMALLINT>(i + 1);
        switch (kColumns[i].kind) {
        case ColumnKind::kInteger:
        case ColumnKind::kBigInt: insert->BindInteger(n, f.null ? nullptr : &f.number); break;
        case ColumnKind::kTime: {
            const SQL_TIMESTAMP_STRUCT t = Timestamp(f.time);
            insert->BindTimestamp(n, f.null ? nullptr : &t);
            break;
        }
        default: insert->BindText(n, f.null ? nullptr : &f.text); break;
        }
    }
}

namespace {

// A --since or --until time ("" when not given); false, said, when it does
// not read.
bool FilterTime(const char *option, const std::string &text, SQL_TIMESTAMP_STRUCT *out) {
    UtcTime t;
    if (!text.empty() && !ParseUtc(text, &t, true)) {
        std::fprintf(stderr, "qz45trail: %s %s is not a UTC time (2000-01-01 or "
                             "2000-01-01T12:00:00Z)\n", option, text.c_str());
        return false;
    }
    *out = Timestamp(t);
    return true;
}

}  // namespace

int PrintStoredTrail(const Database &db, const TrailFilter &filter) {
    SQL_TIMESTAMP_STRUCT since, until;
    if (!FilterTime("--since", filter.since, &since) || !FilterTime("--until", filter.until, &until))
        return 2;
    char *end = nullptr;
    const long long category = std::strtoll(filter.type.c_str(), &end, 10);
    if (!filter.type.empty() && *end != '\0') {
        std::fprintf(stderr, "qz45trail: --type %s is not a number\n", filter.type.c_str());
        return 2;
    }

    // Each filter given adds its condition and binds its value.
    OdbcStatement select(db.connection);
    std::string sql = std::string("SELECT machine, line_no, line_text FROM ") + kTable + " WHERE 1 = 1";
    SQLUSMALLINT n = 0;
    const auto where = [&](const std::string &given, const char *condition) {
        if (!given.empty()) sql += condition;
        return !given.empty();
    };
    if (where(filter.machine, " AND machine = ?")) select.BindText(++n, &filter.machine);
    if (where(filter.since, " AND event_time >= ?")) select.BindTimestamp(++n, &since);
    if (where(filter.until, " AND event_time < ?")) select.BindTimestamp(++n, &until);
    if (where(filter.user, " AND user_name = ?")) select.BindText(++n, &filter.user);
    if (where(filter.descriptor, " AND descriptor = ?")) select.BindText(++n, &filter.descriptor);
    if (where(filter.type, " AND category = ?")) select.BindInteger(++n, &category);
    select.Prepare(sql + " ORDER BY machine, line_no");
    select.Execute();

    PrintTableHeader();
    long long count = 0;
    std::string machine, shownMachine, line;
    while (select.Fetch()) {
        long long lineNo = 0;
        select.GetText(1, &machine);
        select.GetInteger(2, &lineNo);
        select.GetText(3, &line);
        if (count == 0 || machine != shownMachine) std::printf("== %s\n", machine.c_str());
        shownMachine = machine;
        PrintTableRow(lineNo, line);
        ++count;
    }
    db.connection.Rollback();
    std::printf("%lld event(s) in the database\n", count);
    return 0;
}

int VerifyStoredTrail(const Database &db, const std::string &machine) {
    std::vector<std::string> machines;
    {
        OdbcStatement list(db.connection);
        std::string sql = std::string("SELECT DISTINCT machine FROM ") + kTable;
        if (!machine.empty()) {
            sql += " WHERE machine = ?";
            list.BindText(1, &machine);
        }
        list.Prepare(sql + " ORDER BY machine");
        list.Execute();
        for (std::string m; list.Fetch();) {
            list.GetText(1, &m);
            machines.push_back(m);
        }
    }
    if (machines.empty()) {
        std::printf("%s: no lines in the database\n", machine.empty() ? "audit_trail" : machine.c_str());
        return 1;
    }
    int result = 0;
    OdbcStatement select(db.connection);
    select.Prepare("SELECT " + ColumnList() + " FROM " + kTable + " WHERE machine = ? ORDER BY line_no");
    for (const std::string &each : machines) {
        select.ClearParameters();
        select.BindText(1, &each);
        select.Execute();
        const int verdict = VerifyMachine(&select, each);
        select.CloseCursor();
        if (verdict > result) result = verdict;
    }
    db.connection.Rollback();
    return result;
}

}  // namespace qz45trail
