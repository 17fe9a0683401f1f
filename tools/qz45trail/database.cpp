#include "database.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "exit_codes.h"
#include "sha256.h"
#include "table.h"
#include "trail_chain.h"
#include "trail_lines.h"

namespace qz45trail {
namespace {

constexpr char kTable[] = "audit_trail";
constexpr char kShipments[] = "audit_trail_shipments";

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

bool TableExists(const Database &db, const char *table) {
    OdbcStatement probe(db.connection);
    bool exists = true;
    try {
        probe.ExecDirect(std::string("SELECT 1 FROM ") + table + " WHERE 1 = 0");
    } catch (const OdbcError &) {
        exists = false;
    }
    db.connection.Rollback();
    return exists;
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

namespace {

// The trail table's columns as a block of rows holds them: room for the
// texts of a trail line the service writes, the few longer ones read again.
std::vector<OdbcRowBlock::Column> BlockColumns() {
    std::vector<OdbcRowBlock::Column> columns;
    for (const Column &c : kColumns) {
        switch (c.kind) {
        case ColumnKind::kInteger:
        case ColumnKind::kBigInt: columns.push_back({OdbcType::kInteger, 0}); break;
        case ColumnKind::kTime: columns.push_back({OdbcType::kTimestamp, 0}); break;
        case ColumnKind::kLongText:
        case ColumnKind::kJson: columns.push_back({OdbcType::kText, 2048}); break;
        default: columns.push_back({OdbcType::kText, 256}); break;
        }
    }
    return columns;
}

// Row r of the block; each field as a fresh Field would hold it, the room
// of its text kept.
void ReadRow(OdbcRowBlock *block, std::size_t r, Row *row) {
    for (int i = 0; i < kColumnCount; ++i) {
        Field &f = (*row)[i];
        const SQLUSMALLINT column = static_cast<SQLUSMALLINT>(i + 1);
        switch (kColumns[i].kind) {
        case ColumnKind::kInteger:
        case ColumnKind::kBigInt:
            f.null = !block->Integer(r, column, &f.number);
            if (f.null) f.number = 0;
            break;
        case ColumnKind::kTime: {
            SQL_TIMESTAMP_STRUCT s{};
            f.null = !block->Timestamp(r, column, &s);
            f.time = f.null ? UtcTime{} : FromTimestamp(s);
            break;
        }
        default:
            f.null = !block->Text(r, column, &f.text);
            if (f.null) f.text.clear();
            break;
        }
    }
}

std::string Range(long long from, long long to) {
    return from == to ? "line " + std::to_string(from)
                      : "lines " + std::to_string(from) + "-" + std::to_string(to);
}

// What the shipment log says of one machine: the last line of each shipment
// and that line's SHA-256, and when the last one went in.
struct ShipmentLog {
    std::map<long long, std::string> lastLines;
    std::string lastShipped;  // UTC, "" when nothing is logged
};

ShipmentLog ReadShipmentLog(const Database &db, const std::string &machine) {
    ShipmentLog log;
    OdbcStatement select(db.connection);
    select.Prepare(std::string("SELECT last_line, last_sha256, shipped_at FROM ") + kShipments +
                   " WHERE machine = ? ORDER BY last_line");
    select.BindText(1, &machine);
    select.Execute();
    while (select.Fetch()) {
        long long last = 0;
        std::string sha;
        SQL_TIMESTAMP_STRUCT at{};
        select.GetInteger(1, &last);
        select.GetText(2, &sha);
        log.lastLines[last] = sha;
        log.lastShipped = select.GetTimestamp(3, &at) ? UtcText(FromTimestamp(at)) : "";
    }
    return log;
}

int Verdict(const std::string &machine, const std::string &what, int code) {
    std::printf("%s: %s\n", machine.c_str(), what.c_str());
    return code;
}

// Rows per fetch, and line numbers per query: the driver may hold a query's
// whole result in memory.
constexpr std::size_t kBlockRows = 256;
constexpr long long kRangeLines = 10000;

// The first line number after `after` that machine has in the trail table;
// false when there is none.
bool NextStoredLine(const Database &db, const std::string &machine, long long after,
                    long long *n) {
    OdbcStatement next(db.connection);
    next.Prepare(std::string("SELECT MIN(line_no) FROM ") + kTable +
                 " WHERE machine = ? AND line_no > ?");
    next.BindText(1, &machine);
    next.BindInteger(2, &after);
    next.Execute();
    const bool found = next.Fetch() && next.GetInteger(1, n);
    next.CloseCursor();
    return found;
}

// One machine's stored trail, with its file as a witness when there is one.
int VerifyMachine(const Database &db, const std::string &machine, LineSource *file,
                  long long witnessFrom, const std::string &fileName, long long acceptUnchained) {
    const ShipmentLog log = ReadShipmentLog(db, machine);
    // A range of line numbers per query, read a block of rows per fetch.
    OdbcStatement select(db.connection);
    select.Prepare("SELECT " + ColumnList() + " FROM " + kTable +
                   " WHERE machine = ? AND line_no > ? AND line_no <= ? ORDER BY line_no");
    OdbcRowBlock block(&select, BlockColumns(), kBlockRows);

    Sha256 hasher;
    ChainCheck chain;
    Row stored, derived;
    long long count = 0, replaced = 0, fileEndsAfter = -1;
    std::string lastSubmitted, fileLine;
    // The first range from the lowest number on, so that a row numbered
    // below 1 shows as the first.
    for (long long after = LLONG_MIN, upTo = kRangeLines;; after = count, upTo = count + kRangeLines) {
        select.ClearParameters();
        select.BindText(1, &machine);
        select.BindInteger(2, &after);
        select.BindInteger(3, &upTo);
        select.Execute();
        bool any = false;
        while (block.Fetch()) {
            for (std::size_t r = 0; r < block.Rows(); ++r) {
                any = true;
                ReadRow(&block, r, &stored);
                const long long n = stored[kLineNo].number;
                if (n != count + 1)
                    return Verdict(machine, Range(count + 1, n - 1) + " missing: removed from the database",
                                   kExitBroken);
                const std::string &text = stored[kLineText].text;
                std::string why;
                if (!RowFromLine(machine, n, text, &derived, &why, &hasher))
                    return Verdict(machine, "line " + std::to_string(n) + ": its stored text is not a trail "
                                   "line (" + why + "): changed in the database", kExitBroken);
                if (const char *column = FirstDifference(stored, derived))
                    return Verdict(machine, "line " + std::to_string(n) + ": column " + column +
                                   " does not match the line's text: changed in the database", kExitBroken);
                const auto logged = log.lastLines.find(n);
                if (logged != log.lastLines.end() && logged->second != stored[kLineSha256].text)
                    return Verdict(machine, "line " + std::to_string(n) + " is not the line the shipment "
                                   "log recorded: changed in the database", kExitBroken);
                if (file != nullptr && fileEndsAfter < 0 && n >= witnessFrom) {
                    switch (file->Next(&fileLine)) {
                    case TrailReader::Result::kLine:
                        if (fileLine != text)
                            return Verdict(machine, fileName + " line " + std::to_string(n) +
                                           " differs from the line stored in the database: the file was "
                                           "changed or re-chained after the line was shipped", kExitBroken);
                        break;
                    case TrailReader::Result::kEnd: fileEndsAfter = n - 1; break;
                    case TrailReader::Result::kTooLong:
                        return Verdict(machine, fileName + " line " + std::to_string(n) +
                                       " is longer than any trail line", kExitBroken);
                    case TrailReader::Result::kError:
                        std::fprintf(stderr, "qz45trail: cannot read %s: %s\n", fileName.c_str(),
                                     file->Error().c_str());
                        return kExitFailed;
                    }
                }
                chain.Add(n, text, &hasher);
                count = n;
                replaced += stored[kReplaced].number != 0;
                if (!stored[kSubmitted].null) lastSubmitted = UtcText(stored[kSubmitted].time);
            }
        }
        select.CloseCursor();
        if (any) continue;
        // No line in the range: the end, or a gap up to the next stored line.
        long long next = 0;
        if (!NextStoredLine(db, machine, count, &next)) break;
        return Verdict(machine, Range(count + 1, next - 1) + " missing: removed from the database",
                       kExitBroken);
    }
    db.connection.Rollback();

    if (count == 0 && log.lastLines.empty() && file == nullptr)
        return Verdict(machine, "no lines in the database", kExitBroken);
    if (fileEndsAfter >= 0)
        return Verdict(machine, "the database holds " + Range(fileEndsAfter + 1, count) +
                       ", which " + fileName + " no longer has: its end was cut off after "
                       "shipping", kExitBroken);
    const long long lastLogged = log.lastLines.empty() ? 0 : log.lastLines.rbegin()->first;
    if (lastLogged > count)
        return Verdict(machine, Range(count + 1, lastLogged) + " shipped (in the shipment log) but "
                       "not in the database: deleted from it", kExitBroken);
    const ChainVerdict verdict = chain.Finish();
    if (!verdict.Intact()) return Verdict(machine, verdict.Describe(), kExitBroken);

    std::string summary = verdict.Describe();
    if (count > 0)
        summary += "; last line shipped " +
                   (log.lastShipped.empty() ? std::string("at an unlogged time") : log.lastShipped) +
                   (lastSubmitted.empty() ? "" : ", stored by the service " + lastSubmitted);
    int result = Verdict(machine, summary, kExitOk);
    if (verdict.unchainedPrefix > 0 &&
        static_cast<long long>(verdict.unchainedPrefix) != acceptUnchained)
        result = Verdict(machine, std::to_string(verdict.unchainedPrefix) + " line(s) without chain "
                         "members before the chain: not proved unchanged", kExitUnchained);
    if (replaced > 0)
        Verdict(machine, std::to_string(replaced) + " row(s) show U+2400 for a U+0000 the database "
                "cannot store (replaced = 1); their line_text is exact", kExitOk);
    if (file != nullptr) {
        long long extra = 0;
        for (TrailReader::Result r; (r = file->Next(&fileLine)) != TrailReader::Result::kEnd;) {
            if (r != TrailReader::Result::kLine) {
                std::fprintf(stderr, "qz45trail: cannot read %s to its end\n", fileName.c_str());
                return kExitFailed;
            }
            ++extra;
        }
        if (extra == 0)
            Verdict(machine, "every line of " + fileName + " is in the database", kExitOk);
        else
            Verdict(machine, fileName + " " + Range(count + 1, count + extra) +
                    " not shipped yet", kExitOk);
    }
    return result;
}

}  // namespace

int Graver(int a, int b) {
    static const int kOrder[] = {kExitBroken, kExitUsage, kExitFailed, kExitUnchained,
                                 kExitUnfinished};
    for (const int code : kOrder)
        if (a == code || b == code) return code;
    return a != kExitOk ? a : b;
}

std::string WithoutLineEndConversion(const std::string &connectionString) {
    std::string out, attribute;
    bool braced = false;
    const auto keep = [&out, &attribute] {
        std::string key = attribute.substr(0, attribute.find('='));
        std::string lower;
        for (const char c : key)
            if (!std::isspace(static_cast<unsigned char>(c)))
                lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!lower.empty() && lower != "lfconversion") out += attribute + ";";
        attribute.clear();
    };
    for (const char c : connectionString) {
        if (c == '{') braced = true;
        if (c == '}') braced = false;
        if (c == ';' && !braced) keep();
        else attribute += c;
    }
    keep();
    return out + "LFConversion=0;";
}

Database::Database(const std::string &connectionString)
    : connection(WithoutLineEndConversion(connectionString)) {
    postgres = connection.DbmsName().find("PostgreSQL") != std::string::npos;
}

std::vector<std::string> SchemaStatements(bool postgres, const Roles &roles) {
    std::vector<std::string> s;
    std::string create = std::string("CREATE TABLE ") + kTable + " (";
    for (const Column &c : kColumns)
        create += std::string(c.name) + " " + TypeName(c.kind, postgres) +
                  (c.notNull ? " NOT NULL, " : ", ");
    s.push_back(create + "PRIMARY KEY (machine, line_no))");
    s.push_back("CREATE INDEX audit_trail_time ON audit_trail (event_time)");
    s.push_back("CREATE INDEX audit_trail_user ON audit_trail (user_name, event_time)");
    s.push_back("CREATE INDEX audit_trail_descriptor ON audit_trail (descriptor, event_time)");
    // A record's history: its property too.
    s.push_back("CREATE INDEX audit_trail_history ON audit_trail (descriptor, property, event_time)");
    s.push_back("CREATE INDEX audit_trail_category ON audit_trail (category, event_time)");
    s.push_back(std::string("CREATE TABLE ") + kShipments + " (machine " +
                TypeName(ColumnKind::kText, postgres) + " NOT NULL, first_line BIGINT NOT NULL, "
                "last_line BIGINT NOT NULL, last_sha256 " + TypeName(ColumnKind::kHash, postgres) +
                " NOT NULL, shipped_at " + TypeName(ColumnKind::kTime, postgres) +
                " NOT NULL DEFAULT " +
                (postgres ? "(now() AT TIME ZONE 'UTC')" : "CURRENT_TIMESTAMP") +
                ", PRIMARY KEY (machine, last_line))");
    if (postgres) {
        s.push_back("CREATE TABLE audit_reviews (review_id BIGINT GENERATED ALWAYS AS IDENTITY "
                    "PRIMARY KEY, reviewed_at timestamp(3) NOT NULL, db_user text NOT NULL, "
                    "windows_user text NOT NULL, period_from timestamp(3), period_until "
                    "timestamp(3), machines text NOT NULL, remark text NOT NULL, positions "
                    "jsonb NOT NULL)");
        s.push_back("CREATE OR REPLACE FUNCTION audit_trail_keep() RETURNS trigger LANGUAGE plpgsql "
                    "AS $$ BEGIN RAISE EXCEPTION '% on % refused: the audit trail keeps every row "
                    "it got', TG_OP, TG_TABLE_NAME USING ERRCODE = 'insufficient_privilege'; END $$");
        // Who reviewed, and when, is the server's word, not the client's.
        s.push_back("CREATE OR REPLACE FUNCTION audit_reviews_stamp() RETURNS trigger LANGUAGE "
                    "plpgsql AS $$ BEGIN NEW.db_user := session_user; NEW.reviewed_at := "
                    "now() AT TIME ZONE 'UTC'; RETURN NEW; END $$");
        s.push_back("CREATE TRIGGER audit_reviews_stamp BEFORE INSERT ON audit_reviews FOR EACH ROW "
                    "EXECUTE FUNCTION audit_reviews_stamp()");
        for (const char *table : {kTable, kShipments, "audit_reviews"}) {
            const std::string t = table;
            s.push_back("CREATE TRIGGER " + t + "_keep_rows BEFORE UPDATE OR DELETE ON " + t +
                        " FOR EACH ROW EXECUTE FUNCTION audit_trail_keep()");
            s.push_back("CREATE TRIGGER " + t + "_keep_all BEFORE TRUNCATE ON " + t +
                        " FOR EACH STATEMENT EXECUTE FUNCTION audit_trail_keep()");
        }
    }
    const std::string both = std::string(kTable) + ", " + kShipments;
    const std::string all = both + (postgres ? ", audit_reviews" : "");
    if (!roles.shipper.empty() || !roles.auditor.empty() || !roles.reviewer.empty())
        s.push_back("REVOKE ALL ON " + all + " FROM PUBLIC");
    if (!roles.shipper.empty())
        s.push_back("GRANT SELECT, INSERT ON " + both + " TO " + Identifier(roles.shipper));
    if (!roles.auditor.empty())
        s.push_back("GRANT SELECT ON " + all + " TO " + Identifier(roles.auditor));
    if (!roles.reviewer.empty()) {
        s.push_back("GRANT SELECT ON " + all + " TO " + Identifier(roles.reviewer));
        if (postgres)
            s.push_back("GRANT INSERT ON audit_reviews TO " + Identifier(roles.reviewer));
    }
    return s;
}

void EnsureTables(const Database &db) {
    if (TableExists(db, kTable)) return;
    try {
        OdbcStatement statement(db.connection);
        for (const std::string &sql : SchemaStatements(db.postgres, Roles{}))
            statement.ExecDirect(sql);
        db.connection.Commit();
    } catch (const OdbcError &) {
        // Another shipper may have created them meanwhile.
        db.connection.Rollback();
        if (!TableExists(db, kTable)) throw;
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

namespace {

// The row's values as the parameters from number first on.
void BindRowAt(OdbcStatement *insert, const Row &row, std::size_t first) {
    for (int i = 0; i < kColumnCount; ++i) {
        const Field &f = row[i];
        const SQLUSMALLINT n = static_cast<SQLUSMALLINT>(first + i);
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

std::string LineRange(const std::vector<Row> &rows, std::size_t first, std::size_t end) {
    return Range(rows[first][kLineNo].number, rows[end - 1][kLineNo].number);
}

}  // namespace

void BindRow(OdbcStatement *insert, const Row &row) {
    insert->ClearParameters();
    BindRowAt(insert, row, 1);
}

RowInserter::RowInserter(const Database &db) : db_(db), many_(db.connection), one_(db.connection) {}

void RowInserter::Insert(const std::vector<Row> &rows) {
    for (std::size_t at = 0; at < rows.size(); at += kRowsPerInsert) {
        const std::size_t n = std::min(kRowsPerInsert, rows.size() - at);
        try {
            InsertMany(rows, at, n);
        } catch (const OdbcError &e) {
            if (e.Transient())
                throw OdbcError(LineRange(rows, 0, at + n) + ": " + e.what(), e.State());
            db_.connection.Rollback();
            FindRefused(rows, at + n, e);
        }
    }
}

void RowInserter::InsertMany(const std::vector<Row> &rows, std::size_t first, std::size_t count) {
    if (count != manyRows_) {
        const std::string one = InsertSql(db_);
        const std::string values = one.substr(one.find(" VALUES ") + 8);
        std::string sql = one;
        for (std::size_t i = 1; i < count; ++i) sql += ", " + values;
        manyRows_ = 0;
        many_.Prepare(sql);
        manyRows_ = count;
    }
    many_.ClearParameters();
    for (std::size_t i = 0; i < count; ++i) BindRowAt(&many_, rows[first + i], 1 + i * kColumnCount);
    many_.Execute();
}

void RowInserter::FindRefused(const std::vector<Row> &rows, std::size_t end,
                              const OdbcError &failure) {
    // The rows before `end` that went in with the transaction, again, one
    // INSERT each: the first refused is the line to name.
    std::size_t at = 0;
    try {
        if (!onePrepared_) {
            one_.Prepare(InsertSql(db_));
            onePrepared_ = true;
        }
        for (; at < end; ++at) {
            BindRow(&one_, rows[at]);
            one_.Execute();
        }
    } catch (const OdbcError &e) {
        try {
            db_.connection.Rollback();
        } catch (const OdbcError &) {
            // The connection is gone: nothing of the transaction stays.
        }
        throw OdbcError(LineRange(rows, at, at + 1) + ": " + e.what(), e.State());
    }
    db_.connection.Rollback();
    throw OdbcError(LineRange(rows, 0, end) + ": " + failure.what(), failure.State());
}

void LogShipment(const Database &db, const std::string &machine, long long first, long long last,
                 const std::string &sha) {
    OdbcStatement insert(db.connection);
    insert.Prepare(std::string("INSERT INTO ") + kShipments +
                   " (machine, first_line, last_line, last_sha256) VALUES (?, ?, ?, ?)");
    insert.BindText(1, &machine);
    insert.BindInteger(2, &first);
    insert.BindInteger(3, &last);
    insert.BindText(4, &sha);
    insert.Execute();
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
        return kExitUsage;
    char *end = nullptr;
    const long long category = std::strtoll(filter.type.c_str(), &end, 10);
    if (!filter.type.empty() && *end != '\0') {
        std::fprintf(stderr, "qz45trail: --type %s is not a number\n", filter.type.c_str());
        return kExitUsage;
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
        if (count == 0 || machine != shownMachine) std::printf("== %s\n", Shown(machine).c_str());
        shownMachine = machine;
        PrintTableRow(lineNo, line);
        ++count;
    }
    db.connection.Rollback();
    std::printf("%lld event(s) in the database\n", count);
    return kExitOk;
}

int VerifyStoredTrail(const Database &db, const std::string &machine, long long acceptUnchained) {
    std::vector<std::string> machines;
    {
        OdbcStatement list(db.connection);
        std::string sql = std::string("SELECT machine FROM ") + kTable + " UNION SELECT machine FROM " +
                          kShipments;
        list.Prepare(machine.empty() ? sql : "SELECT machine FROM (" + sql + ") m WHERE machine = ?");
        if (!machine.empty()) list.BindText(1, &machine);
        list.Execute();
        for (std::string m; list.Fetch();) {
            list.GetText(1, &m);
            machines.push_back(m);
        }
        db.connection.Rollback();
    }
    if (machines.empty())
        return Verdict(machine.empty() ? kTable : machine, "no lines in the database", kExitBroken);
    std::sort(machines.begin(), machines.end());
    int result = kExitOk;
    for (const std::string &each : machines)
        result = Graver(result, VerifyMachine(db, each, nullptr, 1, "", acceptUnchained));
    return result;
}

int VerifyStoredAgainstFile(const Database &db, const std::string &machine, LineSource *file,
                            long long witnessFrom, const std::string &fileName,
                            long long acceptUnchained) {
    return VerifyMachine(db, machine, file, witnessFrom, fileName, acceptUnchained);
}

}  // namespace qz45trail
