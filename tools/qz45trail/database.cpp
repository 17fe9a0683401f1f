#include "database.h"

#include <process.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <utility>
#include <stdexcept>
#include <vector>

#include "exit_codes.h"
#include "sha256.h"
#include "table.h"
#include "trail_chain.h"
#include "trail_lines.h"
#include "win_handle.h"
#include "win_text.h"

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

// Whether the table is there for this role to read. A table that is there
// but that the role may not read throws, with the driver's words.
bool TableExists(const Database &db, const char *table) {
    OdbcStatement probe(db.connection);
    bool exists = true;
    try {
        probe.ExecDirect(std::string("SELECT 1 FROM ") + table + " WHERE 1 = 0");
    } catch (const OdbcError &e) {
        db.connection.Rollback();
        // 42501: insufficient privilege (the table is there; a table that is
        // not is 42P01, or 42S02 elsewhere).
        if (e.State() == "42501")
            throw OdbcError(std::string("this role may not read the table ") + table + " (" +
                            e.what() + "): the plant set-up (audit_trail_setup.sql) grants "
                            "the shipper role SELECT and INSERT",
                            e.State());
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
    std::map<long long, long long> firstLines;  // of each shipment, by its last line
    std::string lastShipped;  // UTC, "" when nothing is logged
};

// The first of lines 1..count that no shipment in the log covers, and the
// last of the run of such lines that starts there; false when the log
// covers them all.
bool Unlogged(const ShipmentLog &log, long long count, long long *from, long long *to) {
    std::vector<std::pair<long long, long long>> ranges;
    for (const auto &[last, first] : log.firstLines) ranges.push_back({first, last});
    std::sort(ranges.begin(), ranges.end());
    long long covered = 0;  // lines 1..covered are covered
    for (const auto &[first, last] : ranges) {
        if (first > covered + 1) break;
        covered = std::max(covered, last);
    }
    if (covered >= count) return false;
    *from = covered + 1;
    *to = count;
    for (const auto &[first, last] : ranges)
        if (first > covered + 1 && first - 1 < *to) *to = first - 1;
    return true;
}

ShipmentLog ReadShipmentLog(const Database &db, const std::string &machine) {
    ShipmentLog log;
    OdbcStatement select(db.connection);
    select.Prepare(std::string("SELECT last_line, last_sha256, shipped_at, first_line FROM ") +
                   kShipments + " WHERE machine = ? ORDER BY last_line");
    select.BindText(1, &machine);
    select.Execute();
    while (select.Fetch()) {
        long long last = 0;
        std::string sha;
        SQL_TIMESTAMP_STRUCT at{};
        select.GetInteger(1, &last);
        select.GetText(2, &sha);
        log.lastLines[last] = sha;
        long long first = last;
        select.GetInteger(4, &first);
        log.firstLines[last] = first;
        log.lastShipped = select.GetTimestamp(3, &at) ? UtcText(FromTimestamp(at)) : "";
    }
    return log;
}

int Verdict(const std::string &machine, const std::string &what, int code) {
    std::printf("%s: %s\n", machine.c_str(), what.c_str());
    return code;
}

// Rows per fetch, line numbers per query (the driver may hold a query's
// whole result in memory), rows handed over at a time, and the most handed
// over and not yet checked.
constexpr std::size_t kBlockRows = 64;
constexpr long long kRangeLines = 2000;
constexpr std::size_t kBatchRows = 256;
constexpr std::size_t kBatches = 10;

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

long long RangeEnd(long long after) {
    return after > LLONG_MAX - kRangeLines ? LLONG_MAX : after + kRangeLines;
}

// A stored row, and whether its line_json is its line_text as jsonb spells it.
struct StoredRow {
    Row row;
    bool jsonSpelt = false;
};

// One machine's stored rows in the order of their line numbers, read by a
// thread of its own while the caller checks the rows read before: reading
// (the server's work, the driver's, the texts' conversion, line_json spelt)
// costs about as much as checking, and the two go side by side. The reading
// takes next to nothing from the process's heap once its rows have room for
// their texts: two threads that both allocate much wait for each other there.
class StoredRows {
public:
    StoredRows(const Database &db, const std::string &machine)
        : db_(db), machine_(machine), batches_(kBatches) {
        for (Batch &b : batches_) b.rows.resize(kBatchRows);
        thread_ = UniqueHandle(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0,
                                                                       nullptr)));
        if (!thread_.Valid())
            throw OdbcError("cannot start reading the rows: " + ErrorText(GetLastError()), "");
    }

    // Stops the reading, and returns once the connection is the caller's again.
    ~StoredRows() {
        AcquireSRWLockExclusive(&lock_);
        stop_ = true;
        ReleaseSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&changed_);
        WaitForSingleObject(thread_.Get(), INFINITE);
    }

    StoredRows(const StoredRows &) = delete;
    StoredRows &operator=(const StoredRows &) = delete;

    // The next row, null after the last; a failure of the reading throws in
    // its place, once the rows read before it are taken.
    const StoredRow *Next() {
        if (taking_ != nullptr && taken_ < taking_->count) return &taking_->rows[taken_++];
        AcquireSRWLockExclusive(&lock_);
        if (taking_ != nullptr) {
            taking_ = nullptr;
            head_ = (head_ + 1) % kBatches;
            --ready_;
            WakeAllConditionVariable(&changed_);
        }
        while (ready_ == 0 && !done_) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
        if (ready_ > 0) {
            taking_ = &batches_[head_];
            taken_ = 0;
        }
        ReleaseSRWLockExclusive(&lock_);
        if (taking_ == nullptr) {
            if (failed_) throw OdbcError(failure_, failureState_);
            return nullptr;
        }
        return &taking_->rows[taken_++];  // a batch is handed over with a row at least
    }

private:
    struct Batch {
        std::vector<StoredRow> rows;
        std::size_t count = 0;
    };

    static unsigned __stdcall Run(void *self) {
        static_cast<StoredRows *>(self)->Read();
        return 0;
    }

    // A batch to fill, waiting while every one is full; null once stopped.
    Batch *Free() {
        AcquireSRWLockExclusive(&lock_);
        while (ready_ == kBatches && !stop_)
            SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
        Batch *b = stop_ ? nullptr : &batches_[tail_];
        ReleaseSRWLockExclusive(&lock_);
        if (b != nullptr) b->count = 0;
        return b;
    }

    void HandOver() {
        AcquireSRWLockExclusive(&lock_);
        tail_ = (tail_ + 1) % kBatches;
        ++ready_;
        ReleaseSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&changed_);
    }

    void Finish(const std::string &failure, const std::string &state, bool failed) {
        AcquireSRWLockExclusive(&lock_);
        done_ = true;
        failed_ = failed;
        failure_ = failure;
        failureState_ = state;
        ReleaseSRWLockExclusive(&lock_);
        WakeAllConditionVariable(&changed_);
    }

    // The thread's work: a range of line numbers per query, a block of rows
    // per fetch; past a range without rows, on from the next stored line.
    void Read() {
        try {
            OdbcStatement select(db_.connection);
            select.Prepare("SELECT " + ColumnList() + " FROM " + kTable +
                           " WHERE machine = ? AND line_no > ? AND line_no <= ? ORDER BY line_no");
            OdbcRowBlock block(&select, BlockColumns(), kBlockRows);
            JsonbSpeller speller;
            std::string spelt;
            Batch *filling = nullptr;
            // The first range from the lowest number on, so that a row
            // numbered below 1 comes first.
            long long after = LLONG_MIN, upTo = kRangeLines;
            for (;;) {
                select.ClearParameters();
                select.BindText(1, &machine_);
                select.BindInteger(2, &after);
                select.BindInteger(3, &upTo);
                select.Execute();
                bool any = false;
                while (block.Fetch()) {
                    for (std::size_t r = 0; r < block.Rows(); ++r) {
                        if (filling == nullptr && (filling = Free()) == nullptr) return;
                        StoredRow &stored = filling->rows[filling->count++];
                        Row &row = stored.row;
                        ReadRow(&block, r, &row);
                        stored.jsonSpelt = !row[kLineText].null && !row[kLineJson].null &&
                                           speller.Spell(row[kLineText].text, &spelt) &&
                                           spelt == row[kLineJson].text;
                        any = true;
                        after = row[kLineNo].number;
                        if (filling->count == kBatchRows) {
                            HandOver();
                            filling = nullptr;
                        }
                    }
                }
                select.CloseCursor();
                long long next = 0;
                if (!any && (upTo == LLONG_MAX || !NextStoredLine(db_, machine_, upTo, &next)))
                    break;
                if (!any) after = next - 1;
                if (after == LLONG_MAX) break;
                upTo = RangeEnd(after);
            }
            if (filling != nullptr) HandOver();
            Finish("", "", false);
        } catch (const OdbcError &e) {
            Finish(e.what(), e.State(), true);
        } catch (const std::exception &e) {
            Finish(std::string("cannot read the rows: ") + e.what(), "", true);
        }
    }

    const Database &db_;
    const std::string machine_;
    std::vector<Batch> batches_;  // a ring: head_ to be taken, tail_ to be filled
    UniqueHandle thread_;

    SRWLOCK lock_ = SRWLOCK_INIT;  // guards what follows
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    std::size_t head_ = 0, tail_ = 0, ready_ = 0;
    bool stop_ = false, done_ = false, failed_ = false;
    std::string failure_, failureState_;

    Batch *taking_ = nullptr;  // the caller's, at head_
    std::size_t taken_ = 0;
};

// A machine's first chained line: its position and SHA-256 (0 and "" when
// no line is chained). The line's hash member covers the chain up to it.
struct FirstChained {
    long long lineNo = 0;
    std::string sha;
};

// One machine's stored trail, with its file as a witness when there is one.
int VerifyMachine(const Database &db, const std::string &machine, LineSource *file,
                  long long witnessFrom, const std::string &fileName, long long acceptUnchained,
                  FirstChained *first = nullptr) {
    const ShipmentLog log = ReadShipmentLog(db, machine);
    Sha256 hasher;
    ChainCheck chain;
    Row derived;
    long long count = 0, replaced = 0, fileEndsAfter = -1;
    int result = kExitOk;
    std::string fileLine;
    bool submitted = false;  // the last row with a time of submission has it here
    UtcTime lastSubmittedAt;
    {
        StoredRows rows(db, machine);
        while (const StoredRow *row = rows.Next()) {
            const Row &stored = row->row;
            const long long n = stored[kLineNo].number;
            if (n != count + 1)
                return Verdict(machine,
                               Range(count + 1, n - 1) + " missing: removed from the database",
                               kExitBroken);
            const std::string &text = stored[kLineText].text;
            std::string why;
            if (!RowFromLine(machine, n, text, &derived, &why, &hasher))
                return Verdict(machine, "line " + std::to_string(n) + ": its stored text is not a "
                               "trail line (" + why + "): changed in the database", kExitBroken);
            // line_json was compared in the reading thread when the line is
            // its own line_json (it holds no U+0000).
            const bool jsonSame = row->jsonSpelt && derived[kLineJson].text == text;
            if (const char *column = FirstDifference(stored, derived, jsonSame))
                return Verdict(machine, "line " + std::to_string(n) + ": column " + column +
                               " does not match the line's text: changed in the database",
                               kExitBroken);
            const auto logged = log.lastLines.find(n);
            if (logged != log.lastLines.end() && logged->second != stored[kLineSha256].text)
                return Verdict(machine, "line " + std::to_string(n) + " is not the line the "
                               "shipment log recorded: changed in the database", kExitBroken);
            if (file != nullptr && fileEndsAfter < 0 && n >= witnessFrom) {
                switch (file->Next(&fileLine)) {
                case TrailReader::Result::kLine:
                    if (fileLine != text)
                        return Verdict(machine, fileName + " line " + std::to_string(n) +
                                       " differs from the line stored in the database: the file "
                                       "was changed or re-chained after the line was shipped",
                                       kExitBroken);
                    break;
                case TrailReader::Result::kEnd: fileEndsAfter = n - 1; break;
                case TrailReader::Result::kTooLong:
                    return Verdict(machine, fileName + " line " + std::to_string(n) +
                                   " is longer than any trail line", kExitBroken);
                case TrailReader::Result::kBroken:
                    return Verdict(machine, fileName + ": " + file->Error(), kExitBroken);
                case TrailReader::Result::kError:
                    std::fprintf(stderr, "qz45trail: cannot read %s: %s\n", fileName.c_str(),
                                 file->Error().c_str());
                    return kExitFailed;
                }
            }
            chain.Add(n, text, &hasher);
            if (first != nullptr && first->lineNo == 0 && !derived[kLineHash].null)
                *first = FirstChained{n, derived[kLineSha256].text};
            count = n;
            replaced += stored[kReplaced].number != 0;
            if (!stored[kSubmitted].null) {
                submitted = true;
                lastSubmittedAt = stored[kSubmitted].time;
            }
        }
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
    // Every stored line went in with a shipment that the log records in the
    // same transaction: lines that no shipment covers lost their entry, and
    // perhaps the lines after them went with it.
    long long unloggedFrom = 0, unloggedTo = 0;
    const bool unlogged = Unlogged(log, count, &unloggedFrom, &unloggedTo);
    if (unlogged && file == nullptr)
        return Verdict(machine, Range(unloggedFrom, unloggedTo) + " stored, but no shipment in the "
                       "log stored them: the log's entry was deleted, and with it perhaps the lines "
                       "shipped after them", kExitBroken);
    if (unlogged)
        result = Verdict(machine, Range(unloggedFrom, unloggedTo) + " stored, but no shipment in "
                         "the log stored them: the log's entry was deleted, and with it perhaps "
                         "the lines shipped after them", kExitBroken);
    const ChainVerdict verdict = chain.Finish();
    if (!verdict.Intact()) return Graver(result, Verdict(machine, verdict.Describe(), kExitBroken));

    const std::string lastSubmitted = submitted ? UtcText(lastSubmittedAt) : "";
    std::string summary = verdict.Describe();
    if (count > 0)
        summary += "; last line shipped " +
                   (log.lastShipped.empty() ? std::string("at an unlogged time") : log.lastShipped) +
                   (lastSubmitted.empty() ? "" : ", stored by the service " + lastSubmitted);
    result = Graver(result, Verdict(machine, summary, kExitOk));
    if (verdict.unchainedPrefix > 0 &&
        static_cast<long long>(verdict.unchainedPrefix) != acceptUnchained)
        result = Verdict(machine, std::to_string(verdict.unchainedPrefix) + " line(s) without chain "
                         "members before the chain: not proved unchanged", kExitUnchained);
    if (replaced > 0)
        Verdict(machine, std::to_string(replaced) + " row(s) show U+2400 for a U+0000 the database "
                "cannot store (replaced = 1); their line_text is exact", kExitOk);
    if (file != nullptr) {
        // The lines before the files' first were pruned (prune removes only
        // what the database holds) or removed: the database must hold them.
        const bool lost = count + 1 < witnessFrom;
        if (lost)
            result = Graver(result, Verdict(machine, Range(count + 1, witnessFrom - 1) + " lost: in neither the "
                             "database nor " + fileName + ", whose files start at line " +
                             std::to_string(witnessFrom) +
                             (count == 0 ? " (the database holds no line of machine " + machine +
                                               ": is that the machine's name?)"
                                         : " (pruned or removed, but not shipped, or deleted from "
                                           "the database)"),
                             kExitBroken));
        long long extra = 0;
        for (TrailReader::Result r; (r = file->Next(&fileLine)) != TrailReader::Result::kEnd;) {
            if (r != TrailReader::Result::kLine) {
                std::fprintf(stderr, "qz45trail: cannot read %s to its end\n", fileName.c_str());
                return kExitFailed;
            }
            ++extra;
        }
        const long long firstUnshipped = std::max(count + 1, witnessFrom);
        if (extra == 0 && !lost)
            Verdict(machine, "every line of " + fileName + " is in the database", kExitOk);
        else if (extra > 0 && unlogged)
            Verdict(machine, fileName + " " + Range(firstUnshipped, firstUnshipped + extra - 1) +
                    " not in the database: deleted with the shipment's log entry, or not shipped "
                    "yet", kExitBroken);
        else if (extra > 0)
            Verdict(machine, fileName + " " + Range(firstUnshipped, firstUnshipped + extra - 1) +
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
    // A line stored for more than one machine (a trail shipped under two
    // names): the rows at one position, one per machine.
    s.push_back("CREATE INDEX audit_trail_position ON audit_trail (line_no)");
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

bool EnsureTables(const Database &db) {
    if (TableExists(db, kTable)) return false;
    try {
        OdbcStatement statement(db.connection);
        for (const std::string &sql : SchemaStatements(db.postgres, Roles{}))
            statement.ExecDirect(sql);
        db.connection.Commit();
        return true;
    } catch (const OdbcError &e) {
        // Another shipper may have created them meanwhile.
        db.connection.Rollback();
        if (TableExists(db, kTable)) return false;
        if (e.Transient()) throw;
        throw OdbcError(std::string("the table ") + kTable + " is not in the database, and this "
                        "role cannot create it (" + e.what() + "): have the database's "
                        "administrative role run audit_trail_setup.sql (or the output of "
                        "qz45trail schema) first",
                        e.State());
    }
}

std::string StoredElsewhere(const Database &db, const std::string &machine, long long lineNo,
                            const std::string &sha) {
    OdbcStatement select(db.connection);
    select.Prepare(std::string("SELECT MIN(machine) FROM ") + kTable +
                   " WHERE line_no = ? AND line_sha256 = ? AND machine <> ?");
    select.BindInteger(1, &lineNo);
    select.BindText(2, &sha);
    select.BindText(3, &machine);
    select.Execute();
    std::string other;
    if (select.Fetch() && !select.GetText(1, &other)) other.clear();
    select.CloseCursor();
    db.connection.Rollback();
    return other;
}

long long StoredThrough(const Database &db, const std::string &machine) {
    OdbcStatement select(db.connection);
    select.Prepare(std::string("SELECT MAX(line_no) FROM ") + kTable + " WHERE machine = ?");
    select.BindText(1, &machine);
    select.Execute();
    long long last = 0;
    if (!select.Fetch() || !select.GetInteger(1, &last)) last = 0;
    select.CloseCursor();
    return last;
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

RowInserter::~RowInserter() {
    if (thread_.Valid()) WaitForSingleObject(thread_.Get(), INFINITE);
}

void RowInserter::Insert(const std::vector<Row> &rows) {
    Start(rows);
    Finish();
}

void RowInserter::Start(const std::vector<Row> &rows) {
    if (started_ != nullptr) throw std::logic_error("rows started before the last were finished");
    started_ = &rows;
    failed_ = false;
    if (rows.empty()) return;
    thread_ = UniqueHandle(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, Run, this, 0,
                                                                   nullptr)));
    // Without a thread of their own they go in here and now.
    if (!thread_.Valid()) InsertAll();
}

void RowInserter::Finish() {
    if (started_ == nullptr) return;
    if (thread_.Valid()) WaitForSingleObject(thread_.Get(), INFINITE);
    thread_ = UniqueHandle();
    const std::vector<Row> &rows = *started_;
    started_ = nullptr;
    if (!failed_) return;
    if (!odbcFailure_) throw std::runtime_error(failure_);
    const OdbcError e(failure_, failureState_);
    if (e.Transient())
        throw OdbcError(LineRange(rows, 0, failedEnd_) + ": " + e.what(), e.State());
    db_.connection.Rollback();
    FindRefused(rows, failedEnd_, e);
}

unsigned __stdcall RowInserter::Run(void *self) {
    static_cast<RowInserter *>(self)->InsertAll();
    return 0;
}

// The rows started, an INSERT for each kRowsPerInsert of them; how it ended
// is left for Finish.
void RowInserter::InsertAll() {
    const std::vector<Row> &rows = *started_;
    for (std::size_t at = 0; at < rows.size(); at += kRowsPerInsert) {
        const std::size_t n = std::min(kRowsPerInsert, rows.size() - at);
        try {
            InsertMany(rows, at, n);
        } catch (const OdbcError &e) {
            failed_ = odbcFailure_ = true;
            failure_ = e.what();
            failureState_ = e.State();
            failedEnd_ = at + n;
            return;
        } catch (const std::exception &e) {
            failed_ = true;
            odbcFailure_ = false;
            failure_ = e.what();
            return;
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
    for (std::size_t i = 0; i < count; ++i)
        BindRowAt(&many_, rows[first + i], 1 + i * kColumnCount);
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

// The machines that have lines in the trail table, in order. PostgreSQL walks
// its primary key's index from one machine to the next.
std::vector<std::string> StoredMachines(const Database &db) {
    OdbcStatement list(db.connection);
    list.ExecDirect(db.postgres
                        ? std::string("WITH RECURSIVE m(machine) AS (SELECT min(machine) FROM ") +
                              kTable + " UNION ALL SELECT (SELECT min(machine) FROM " + kTable +
                              " WHERE machine > m.machine) FROM m WHERE m.machine IS NOT NULL) "
                              "SELECT machine FROM m WHERE machine IS NOT NULL"
                        : std::string("SELECT DISTINCT machine FROM ") + kTable);
    std::vector<std::string> machines;
    for (std::string m; list.Fetch();) {
        list.GetText(1, &m);
        machines.push_back(m);
    }
    std::sort(machines.begin(), machines.end());
    return machines;
}

// A UTC time moved by whole seconds.
UtcTime AddSeconds(const UtcTime &t, long long seconds) {
    SYSTEMTIME s = ToSystemTime(t);
    s.wMilliseconds = 0;
    FILETIME f{};
    if (!SystemTimeToFileTime(&s, &f)) return t;
    ULARGE_INTEGER u;
    u.LowPart = f.dwLowDateTime;
    u.HighPart = f.dwHighDateTime;
    u.QuadPart += static_cast<ULONGLONG>(seconds * 10000000LL);
    f.dwLowDateTime = u.LowPart;
    f.dwHighDateTime = u.HighPart;
    if (!FileTimeToSystemTime(&f, &s)) return t;
    UtcTime out;
    out.year = s.wYear, out.month = s.wMonth, out.day = s.wDay;
    out.hour = s.wHour, out.minute = s.wMinute, out.second = s.wSecond;
    return out;
}

}  // namespace

int PrintStoredTrail(const Database &db, const ViewOptions &options) {
    TrailView view(options);
    if (!view.Prepare()) return kExitUsage;
    const RowFilter &filter = view.Filter();

    // The server narrows the rows down with what it compares as the view
    // does: the machine (found here, whatever its case), the time to the
    // second around what is asked (the column keeps milliseconds), the event
    // class and the category. The view's filter decides.
    std::vector<std::string> machines;
    for (const std::string &m : StoredMachines(db))
        if (filter.machine.empty() || SameIgnoringCase(filter.machine, m)) machines.push_back(m);
    db.connection.Rollback();
    SQL_TIMESTAMP_STRUCT since{}, until{};
    std::string sql = std::string("SELECT line_no, line_text FROM ") + kTable + " WHERE machine = ?";
    if (filter.since) {
        UtcTime t = *filter.since;
        t.nanoseconds = 0;
        since = Timestamp(t);
        sql += " AND event_time >= ?";
    }
    if (filter.until) {
        UtcTime t = AddSeconds(*filter.until, 1);
        t.nanoseconds = 0;
        until = Timestamp(t);
        sql += " AND event_time < ?";
    }
    if (!filter.eventClass.empty()) sql += " AND event_class = ?";
    if (filter.category) sql += " AND category = ?";
    OdbcStatement select(db.connection);
    select.Prepare(sql + " ORDER BY line_no");

    view.Begin();
    std::string line;
    for (const std::string &machine : machines) {
        select.ClearParameters();
        SQLUSMALLINT n = 0;
        select.BindText(++n, &machine);
        if (filter.since) select.BindTimestamp(++n, &since);
        if (filter.until) select.BindTimestamp(++n, &until);
        if (!filter.eventClass.empty()) select.BindText(++n, &filter.eventClass);
        if (filter.category) select.BindInteger(++n, &*filter.category);
        select.Execute();
        while (select.Fetch()) {
            long long lineNo = 0;
            select.GetInteger(1, &lineNo);
            select.GetText(2, &line);
            view.Line(machine, lineNo, line);
        }
        select.CloseCursor();
    }
    db.connection.Rollback();
    view.End("in the database");
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
    // The first machine seen with each first chained line.
    std::map<std::pair<long long, std::string>, std::string> chains;
    for (const std::string &each : machines) {
        FirstChained first;
        result = Graver(result, VerifyMachine(db, each, nullptr, 1, "", acceptUnchained, &first));
        if (first.lineNo == 0) continue;
        const auto seen = chains.emplace(std::make_pair(first.lineNo, first.sha), each);
        if (!seen.second)
            Verdict(each, "holds the trail of machine " + seen.first->second + " (line " +
                    std::to_string(first.lineNo) + ", its first chained line, is the same line): "
                    "one trail shipped under two machine names", kExitOk);
    }
    return result;
}

int VerifyStoredAgainstFile(const Database &db, const std::string &machine, LineSource *file,
                            long long witnessFrom, const std::string &fileName,
                            long long acceptUnchained) {
    return VerifyMachine(db, machine, file, witnessFrom, fileName, acceptUnchained);
}

}  // namespace qz45trail
