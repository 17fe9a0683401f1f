// The plant database's tables: the statements that make them, and making
// them when they are missing.
#include "schema.h"

#include <algorithm>
#include <string>
#include <vector>

#include "tables.h"
#include "transaction.h"

namespace qz45trail {
namespace {

// Column types: PostgreSQL's own; the SQL standard's elsewhere.
const char *TypeName(ColumnKind kind, bool postgres) {
    switch (kind) {
    case ColumnKind::kText: return postgres ? "text" : "VARCHAR(1024)";
    case ColumnKind::kLongText: return postgres ? "text" : "CLOB";
    case ColumnKind::kInteger: return "INTEGER";
    case ColumnKind::kBigInt: return "BIGINT";
    case ColumnKind::kTime: return postgres ? "timestamp(3)" : "TIMESTAMP";
    case ColumnKind::kHash: return postgres ? "text" : "VARCHAR(128)";
    }
    return "";
}

}  // namespace

std::string ColumnList() {
    std::string list;
    for (const Column &c : kColumns)
        if (c.stored) list += std::string(list.empty() ? "" : ", ") + c.name;
    return list;
}

std::size_t StoredColumnCount() {
    std::size_t n = 0;
    for (const Column &c : kColumns) n += c.stored;
    return n;
}

namespace {

// Whether the table is there for this role to read. A table that is there
// but that the role may not read throws, with the driver's words.
bool TableExists(const Database &db, const char *table) {
    const Transaction probing(db.connection);
    OdbcStatement probe(db.connection);
    try {
        probe.ExecDirect(std::string("SELECT 1 FROM ") + table + " WHERE 1 = 0");
    } catch (const OdbcError &e) {
        // 42501: insufficient privilege (the table is there; a table that is
        // not is 42P01, or 42S02 elsewhere).
        if (e.State() == "42501")
            throw OdbcError(std::string("this role may not read the table ") + table + " (" +
                            e.what() + "): the plant set-up (audit_trail_setup.sql) grants "
                            "the shipper role SELECT and INSERT",
                            e.State());
        return false;
    }
    return true;
}

// A role name as an SQL identifier.
std::string Identifier(const std::string &name) {
    std::string quoted = "\"";
    for (const char c : name) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

}  // namespace

namespace {

// The trail table and its indexes, each weighed against the queries that
// need it: the time (every page's period), a record's history (its rows
// sorted by time once found), the exceptions (the rare categories, and the
// security changes). On PostgreSQL the table is partitioned by the month in
// which each row went in (shipped_at): a machine's lines go in in their
// order, so a month holds an unbroken run of each machine's lines, which
// can be archived as a trail of its own. Each month's partition holds a
// machine's line once (UNIQUE (machine, line_no)), and is made ahead of
// time by audit_trail_months, which the shipper calls.
void TrailTable(bool postgres, std::vector<std::string> *s) {
    const std::string trail = kTrailTable;
    std::string create = "CREATE TABLE " + trail + " (";
    for (const Column &c : kColumns)
        if (c.stored)
            create += std::string(c.name) + " " + TypeName(c.kind, postgres) +
                      (c.notNull ? " NOT NULL, " : ", ");
    create += std::string("shipped_at ") + TypeName(ColumnKind::kTime, postgres) +
              " NOT NULL DEFAULT " +
              (postgres ? "(clock_timestamp() AT TIME ZONE 'UTC')" : "CURRENT_TIMESTAMP");
    s->push_back(create + (postgres ? ") PARTITION BY RANGE (shipped_at)"
                                    : ", PRIMARY KEY (machine, line_no))"));
    const auto index = [&](const char *name, const char *columns, const char *where) {
        s->push_back("CREATE INDEX " + trail + "_" + name + " ON " + trail + " (" + columns + ")" +
                     where);
    };
    index("time", "event_time", "");
    index("history", "descriptor, property", "");
    index("exceptions", "category", " WHERE category NOT IN (301, 401) OR property = 'ACL'");
    // A plant has few users for many rows: the index keeps each name once
    // per page of rows (deduplicated), and the user filter walks it for the
    // names stored, then reads the rows of those that match.
    index("user", "user_name", "");
}

// PostgreSQL's own: the function that makes a month's partition, with its
// line key and the trigger that refuses TRUNCATE on it (the table's own
// does not fire for a partition truncated by name), and the one that makes
// this month's and the next ones'. Both run as the tables' owner.
void MonthFunctions(std::vector<std::string> *s) {
    const std::string trail = kTrailTable;
    s->push_back(
        "CREATE OR REPLACE FUNCTION " + trail + "_month(month date) RETURNS boolean LANGUAGE "
        "plpgsql SECURITY DEFINER SET search_path FROM CURRENT AS $$ DECLARE part text := '" +
        trail + "_' || to_char(month, 'YYYY_MM'); BEGIN PERFORM pg_advisory_xact_lock("
        "hashtext('" + trail + "_month')); IF to_regclass(part) IS NOT NULL THEN RETURN false; "
        "END IF; EXECUTE format('CREATE TABLE %I PARTITION OF " + trail + " FOR VALUES FROM "
        "(%L) TO (%L)', part, date_trunc('month', month::timestamp), date_trunc('month', "
        "month::timestamp) + interval '1 month'); EXECUTE format('ALTER TABLE %I ADD CONSTRAINT %I UNIQUE "
        "(machine, line_no)', part, part || '_line'); EXECUTE format('CREATE TRIGGER %I "
        "BEFORE TRUNCATE ON %I FOR EACH STATEMENT EXECUTE FUNCTION " + trail + "_keep()', "
        "part || '_keep_all', part); RETURN true; END $$");
    s->push_back("CREATE OR REPLACE FUNCTION " + trail + "_months(ahead integer DEFAULT 2) "
                 "RETURNS integer LANGUAGE sql SECURITY DEFINER SET search_path FROM CURRENT "
                 "AS $$ SELECT count(*)::integer FROM generate_series(0, greatest(ahead, 0)) n "
                 "WHERE " + trail + "_month((date_trunc('month', now() AT TIME ZONE 'UTC') + "
                 "n * interval '1 month')::date) $$");
    s->push_back("REVOKE ALL ON FUNCTION " + trail + "_month(date), " + trail +
                 "_months(integer) FROM PUBLIC");
}

// "Message contains" by trigrams, where PostgreSQL's pg_trgm is there: a
// database without it finds the same rows, reading each. Each row goes into
// the index as it comes (fastupdate off): the index stays about half the
// size it grows to through a list of pending rows.
void MessageIndex(std::vector<std::string> *s) {
    s->push_back("CREATE EXTENSION IF NOT EXISTS pg_trgm");
    s->push_back(std::string("CREATE INDEX ") + kTrailTable + "_message ON " + kTrailTable +
                 " USING gin (lower(message) gin_trgm_ops) WITH (fastupdate = off)");
}

std::string ShipmentsTable(bool postgres) {
    return std::string("CREATE TABLE ") + kShipmentsTable + " (machine " +
           TypeName(ColumnKind::kText, postgres) + " NOT NULL, first_line BIGINT NOT NULL, "
           "last_line BIGINT NOT NULL, last_sha256 " + TypeName(ColumnKind::kHash, postgres) +
           " NOT NULL, shipped_at " + TypeName(ColumnKind::kTime, postgres) + " NOT NULL DEFAULT " +
           (postgres ? "(now() AT TIME ZONE 'UTC')" : "CURRENT_TIMESTAMP") +
           ", PRIMARY KEY (machine, last_line))";
}

// PostgreSQL's own: the table of reviews (its meaning what the reviewer
// found; a table without it, an earlier release's, keeps it in the remark),
// whose rows get the database user and the time from the server, and the triggers that keep every row of
// every table as it went in.
void ReviewsAndTriggers(std::vector<std::string> *s) {
    const std::string reviews = kReviewsTable;
    const std::string keep = std::string(kTrailTable) + "_keep";
    const std::string stamp = reviews + "_stamp";
    s->push_back("CREATE TABLE " + reviews + " (review_id BIGINT GENERATED ALWAYS AS IDENTITY "
                 "PRIMARY KEY, reviewed_at timestamp(3) NOT NULL, db_user text NOT NULL, "
                 "windows_user text NOT NULL, period_from timestamp(3), period_until "
                 "timestamp(3), machines text NOT NULL, remark text NOT NULL, positions "
                 "jsonb NOT NULL, meaning text)");
    // Who reviewed, and when, is the server's word, not the client's.
    s->push_back("CREATE OR REPLACE FUNCTION " + stamp + "() RETURNS trigger LANGUAGE "
                 "plpgsql AS $$ BEGIN NEW.db_user := session_user; NEW.reviewed_at := "
                 "now() AT TIME ZONE 'UTC'; RETURN NEW; END $$");
    s->push_back("CREATE TRIGGER " + stamp + " BEFORE INSERT ON " + reviews + " FOR EACH ROW "
                 "EXECUTE FUNCTION " + stamp + "()");
    // The record of months archived (taken out of the trail table, their
    // lines in files), dropped, and restored, stamped likewise.
    const std::string archives = kArchivesTable;
    s->push_back("CREATE TABLE " + archives + " (archive_id BIGINT GENERATED ALWAYS AS IDENTITY "
                 "PRIMARY KEY, month date NOT NULL, action text NOT NULL, archived_at "
                 "timestamp(3) NOT NULL, db_user text NOT NULL, windows_user text NOT NULL, "
                 "folder text NOT NULL, manifest text NOT NULL, manifest_sha256 text NOT NULL, "
                 "machines jsonb NOT NULL)");
    s->push_back("CREATE OR REPLACE FUNCTION " + archives + "_stamp() RETURNS trigger LANGUAGE "
                 "plpgsql AS $$ BEGIN NEW.db_user := session_user; NEW.archived_at := "
                 "now() AT TIME ZONE 'UTC'; RETURN NEW; END $$");
    s->push_back("CREATE TRIGGER " + archives + "_stamp BEFORE INSERT ON " + archives +
                 " FOR EACH ROW EXECUTE FUNCTION " + archives + "_stamp()");
    for (const char *table : {kTrailTable, kShipmentsTable, kReviewsTable, kArchivesTable}) {
        const std::string t = table;
        s->push_back("CREATE TRIGGER " + t + "_keep_rows BEFORE UPDATE OR DELETE ON " + t +
                     " FOR EACH ROW EXECUTE FUNCTION " + keep + "()");
        s->push_back("CREATE TRIGGER " + t + "_keep_all BEFORE TRUNCATE ON " + t +
                     " FOR EACH STATEMENT EXECUTE FUNCTION " + keep + "()");
    }
}

void Grants(bool postgres, const Roles &roles, std::vector<std::string> *s) {
    const std::string both = std::string(kTrailTable) + ", " + kShipmentsTable;
    const std::string all =
        both + (postgres ? std::string(", ") + kReviewsTable + ", " + kArchivesTable : "");
    if (!roles.shipper.empty() || !roles.auditor.empty() || !roles.reviewer.empty())
        s->push_back("REVOKE ALL ON " + all + " FROM PUBLIC");
    if (!roles.shipper.empty()) {
        s->push_back("GRANT SELECT, INSERT ON " + both + " TO " + Identifier(roles.shipper));
        if (postgres) {
            s->push_back(std::string("GRANT EXECUTE ON FUNCTION ") + kTrailTable +
                         "_months(integer) TO " + Identifier(roles.shipper));
            // Its verify goes on from where an archive ends.
            s->push_back(std::string("GRANT SELECT ON ") + kArchivesTable + " TO " +
                         Identifier(roles.shipper));
        }
    }
    if (!roles.auditor.empty())
        s->push_back("GRANT SELECT ON " + all + " TO " + Identifier(roles.auditor));
    if (!roles.reviewer.empty()) {
        s->push_back("GRANT SELECT ON " + all + " TO " + Identifier(roles.reviewer));
        if (postgres)
            s->push_back(std::string("GRANT INSERT ON ") + kReviewsTable + " TO " +
                         Identifier(roles.reviewer));
    }
}

}  // namespace

// The function the triggers call: it refuses whatever changes a row.
std::string KeepFunction() {
    return std::string("CREATE OR REPLACE FUNCTION ") + kTrailTable + "_keep() RETURNS trigger "
           "LANGUAGE plpgsql AS $$ BEGIN RAISE EXCEPTION '% on % refused: the audit trail keeps "
           "every row it got', TG_OP, TG_TABLE_NAME USING ERRCODE = 'insufficient_privilege'; "
           "END $$";
}

std::vector<std::string> SchemaStatements(bool postgres, const Roles &roles) {
    std::vector<std::string> s;
    if (postgres) s.push_back(KeepFunction());
    TrailTable(postgres, &s);
    if (postgres) MessageIndex(&s);
    s.push_back(ShipmentsTable(postgres));
    if (postgres) ReviewsAndTriggers(&s);
    if (postgres) {
        MonthFunctions(&s);
        s.push_back(std::string("SELECT ") + kTrailTable + "_months()");
    }
    Grants(postgres, roles, &s);
    return s;
}

namespace {

// The message's index, when the extension is there and this role may make
// it; else nothing: the tables work without it.
void TryMessageIndex(const Database &db) {
    std::vector<std::string> statements;
    MessageIndex(&statements);
    try {
        Transaction indexing(db.connection);
        OdbcStatement statement(db.connection);
        for (const std::string &sql : statements) statement.ExecDirect(sql);
        indexing.Commit();
    } catch (const OdbcError &e) {
        if (e.Transient()) throw;
    }
}

}  // namespace

namespace {

// A trail table of the earlier release (a row per line with every column,
// not partitioned) takes no rows from this one: it says so.
void CheckLayout(const Database &db) {
    const Transaction probing(db.connection);
    OdbcStatement probe(db.connection);
    try {
        probe.ExecDirect(std::string("SELECT shipped_at FROM ") + kTrailTable + " WHERE 1 = 0");
    } catch (const OdbcError &e) {
        if (e.Transient()) throw;
        throw OdbcError(std::string("the table ") + kTrailTable + " is of an earlier release (" +
                            e.what() + "): have the database's administrative role run "
                            "audit_trail_upgrade.sql, which keeps every row, first",
                        e.State());
    }
}

}  // namespace

void MakeMonths(const Database &db) {
    if (!db.postgres) return;
    try {
        Transaction making(db.connection);
        OdbcStatement statement(db.connection);
        statement.ExecDirect(std::string("SELECT ") + kTrailTable + "_months()");
        statement.CloseCursor();
        making.Commit();
    } catch (const OdbcError &e) {
        // Without the function, or the right to call it, the months there
        // are used: a row for a month that is missing is refused by name.
        if (e.Transient()) throw;
    }
}

bool EnsureTables(const Database &db) {
    if (TableExists(db, kTrailTable)) {
        CheckLayout(db);
        return false;
    }
    try {
        Transaction creating(db.connection);
        std::vector<std::string> optional;
        if (db.postgres) MessageIndex(&optional);
        for (const std::string &sql : SchemaStatements(db.postgres, Roles{}))
            if (std::find(optional.begin(), optional.end(), sql) == optional.end()) {
                OdbcStatement statement(db.connection);
                statement.ExecDirect(sql);
            }
        creating.Commit();
        if (db.postgres) TryMessageIndex(db);
        return true;
    } catch (const OdbcError &e) {
        // Rolled back. Another shipper may have created them meanwhile.
        if (TableExists(db, kTrailTable)) return false;
        if (e.Transient()) throw;
        throw OdbcError(std::string("the table ") + kTrailTable +
                            " is not in the database, and this role cannot create it (" +
                            e.what() +
                            "): have the database's administrative role run "
                            "audit_trail_setup.sql (or the output of qz45trail schema) first",
                        e.State());
    }
}

}  // namespace qz45trail
