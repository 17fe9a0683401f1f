// The review page's SQL.
#include "review_queries.h"

#include <algorithm>

#include "database.h"
#include "forged_columns.h"
#include "month_spans.h"
#include "tables.h"
#include "transaction.h"

namespace qz45trail {
namespace {

// The SQL conditions on the trail's rows that a filter (or a record's
// history) makes, with the parameters they bind, in order.
class EventConditions {
public:
    // " WHERE 1 = 1 AND ..."
    const std::string &Sql() const { return sql_; }

    void Text(const char *condition, const std::string &value) {
        sql_ += condition;
        parameters_.push_back({Parameter::kText, value, 0, {}});
    }
    void Integer(const char *condition, long long value) {
        sql_ += condition;
        parameters_.push_back({Parameter::kInteger, "", value, {}});
    }
    void Time(const char *condition, const UtcTime &value) {
        sql_ += condition;
        parameters_.push_back({Parameter::kTime, "", 0, Timestamp(value)});
    }
    // The column the same as value but for case, as SameIgnoringCase has
    // it: narrowed down by a pattern first, decided by the folding.
    void SameIgnoringCase(const char *column, const std::string &value) {
        const std::string c = std::string("coalesce(") + column + ", '')";
        sql_ += " AND (" + c + " ILIKE ? AND translate(" + c + ", ?, ?) = ?)";
        const CaseFolding &folding = TheCaseFolding();
        for (const std::string &text :
             {CaseBlindPattern(value), folding.from, folding.to, FoldCase(value)})
            parameters_.push_back({Parameter::kText, text, 0, {}});
    }
    // Text of the statement with no parameter.
    void Raw(const std::string &sql) { sql_ += sql; }
    // Another set's conditions (without its WHERE), with their parameters.
    void Append(const EventConditions &other) {
        sql_ += other.sql_.substr(kWhere.size());
        parameters_.insert(parameters_.end(), other.parameters_.begin(), other.parameters_.end());
    }
    // Starts a statement of its own instead of the conditions' WHERE.
    static EventConditions Statement(const std::string &sql) {
        EventConditions c;
        c.sql_ = sql;
        return c;
    }
    void Bind(OdbcStatement *s) const {
        SQLUSMALLINT n = 1;
        for (const Parameter &p : parameters_) {
            switch (p.kind) {
            case Parameter::kText: s->BindText(n++, &p.text); break;
            case Parameter::kInteger: s->BindInteger(n++, &p.number); break;
            case Parameter::kTime: s->BindTimestamp(n++, &p.time); break;
            }
        }
    }

private:
    struct Parameter {
        enum Kind { kText, kInteger, kTime } kind;
        std::string text;
        long long number = 0;
        SQL_TIMESTAMP_STRUCT time{};
    };
    static inline const std::string kWhere = " WHERE 1 = 1";
    std::string sql_ = kWhere;
    std::vector<Parameter> parameters_;
};

// Every row of an executed statement, each read by read(statement).
template <typename Read>
auto AllRows(OdbcStatement *s, Read read) -> std::vector<decltype(read(s))> {
    std::vector<decltype(read(s))> rows;
    while (s->Fetch()) rows.push_back(read(s));
    return rows;
}

// Stored more than a number of seconds (its one parameter) off its event
// time; a row without either time is not. (date_part's double is cheaper
// to compute than extract's numeric, and gives the same answer here.)
std::string StoredOffCondition() {
    return "abs(date_part('epoch', submitted - event_time)) > ?";
}

// The user part of a filter's user, "DOMAIN\\user" or "user".
std::string UserOf(const RowFilter &v) {
    const std::size_t slash = v.user.find('\\');
    return slash == std::string::npos ? v.user : v.user.substr(slash + 1);
}

// The spellings stored of a machine's and a user's name that a filter
// matches, where they were looked up (see MatchingNames).
struct StoredNames {
    const std::vector<std::string> *machines = nullptr;
    const std::vector<std::string> *users = nullptr;
};

// The rows whose column holds one of the names: none when there are none.
void OneOf(EventConditions *c, const char *column, const std::vector<std::string> &names) {
    if (names.empty()) c->Integer(" AND 1 = ?", 0);
    for (std::size_t i = 0; i < names.size(); ++i)
        c->Text(i == 0 ? (std::string(" AND ") + column + " IN (?").c_str() : ", ?", names[i]);
    if (!names.empty()) c->Raw(")");
}

// The conditions select the rows the console's filter of the same fields
// matches (f.view): texts the same but for case, "DOMAIN\\user" both. A
// machine and a user are matched by their stored spellings where those were
// looked up, else row by row (the empty user name matches a row without one).
EventConditions ConditionsOf(const EventFilter &f, const StoredNames &stored) {
    EventConditions c;
    const RowFilter &v = f.view;
    if (v.since) c.Time(" AND event_time >= ?", *v.since);
    if (v.until) c.Time(" AND event_time < ?", *v.until);
    if (stored.machines) OneOf(&c, "machine", *stored.machines);
    else if (!v.machine.empty()) c.SameIgnoringCase("machine", v.machine);
    const std::size_t slash = v.user.find('\\');
    if (slash != std::string::npos) c.SameIgnoringCase("domain_name", v.user.substr(0, slash));
    if (stored.users) OneOf(&c, "user_name", *stored.users);
    else if (slash != std::string::npos || !v.user.empty()) c.SameIgnoringCase("user_name", UserOf(v));
    if (!v.descriptor.empty()) c.SameIgnoringCase("descriptor", v.descriptor);
    if (!v.property.empty()) c.SameIgnoringCase("property", v.property);
    if (v.category) c.Integer(" AND category = ?", *v.category);
    if (!f.text.empty()) c.Text(" AND lower(message) LIKE lower(?)", ContainsPattern(f.text));
    if (f.storedOff) c.Integer((" AND " + StoredOffCondition()).c_str(), kStoredTolerance);
    return c;
}

// The months that hold events of the filter's period, as ranges of the
// month the rows went in, by which the server reads only those months.
EventConditions MonthConditions(const OdbcConnection &connection, const EventFilter &f) {
    EventConditions c;
    if (!f.view.since && !f.view.until) return c;
    std::vector<MonthSpan> months;
    try {
        months = ReadMonthSpans(connection);
    } catch (const OdbcError &e) {
        if (e.Transient()) throw;  // else not a partitioned table: every row is read
    }
    const MonthWindow w = WindowFor(months, f.view.since, f.view.until);
    if (w.none) {
        c.Integer(" AND 1 = ?", 0);
    } else if (!w.all) {
        for (std::size_t i = 0; i < w.ranges.size(); ++i) {
            c.Time(i == 0 ? " AND (shipped_at >= ?" : " OR shipped_at >= ?", w.ranges[i].from);
            c.Time(i + 1 == w.ranges.size() ? " AND shipped_at < ?)" : " AND shipped_at < ?",
                   w.ranges[i].to);
        }
    }
    return c;
}

// The names stored in a column in the months that match a name: an index
// that leads with the column walked from name to name (one look-up a name,
// however many rows each has), each name then compared in any case. A plant
// has a few machines and tens of users, so the rows are then read by their
// exact names, which the server can plan for (a comparison in any case, it
// cannot know how many rows it keeps).
std::vector<std::string> MatchingNames(const OdbcConnection &connection,
                                       const EventConditions &months, const std::string &column,
                                       const std::string &name) {
    EventConditions q = EventConditions::Statement(
        "WITH RECURSIVE names(n) AS ((SELECT " + column + " FROM " + kTrailTable + " WHERE " +
        column + " IS NOT NULL");
    q.Append(months);
    q.Raw(" ORDER BY " + column + " LIMIT 1) UNION ALL SELECT (SELECT " + column + " FROM " +
          kTrailTable + " WHERE " + column + " > names.n");
    q.Append(months);
    q.Raw(" ORDER BY " + column + " LIMIT 1) FROM names WHERE names.n IS NOT NULL) "
          "SELECT n FROM names WHERE n IS NOT NULL");
    q.SameIgnoringCase("n", name);
    OdbcStatement s(connection);
    s.Prepare(q.Sql());
    q.Bind(&s);
    s.Execute();
    return AllRows(&s, [](OdbcStatement *row) {
        std::string found;
        row->GetText(1, &found);
        return found;
    });
}

// The conditions of a filter, and the months that hold events of its
// period: a query for a range of times reads only those.
EventConditions ConditionsFor(const OdbcConnection &connection, const EventFilter &f) {
    const EventConditions months = MonthConditions(connection, f);
    // Through the line key (machine, line_no) and the user index.
    std::vector<std::string> machines, users;
    StoredNames stored;
    if (!f.view.machine.empty()) {
        machines = MatchingNames(connection, months, "machine", f.view.machine);
        stored.machines = &machines;
    }
    if (!UserOf(f.view).empty()) {
        users = MatchingNames(connection, months, "user_name", UserOf(f.view));
        stored.users = &users;
    }
    EventConditions c = ConditionsOf(f, stored);
    c.Append(months);
    return c;
}

// Rows after (or before) a page's key in the order shown: newest first is
// event time (none first, as the time's index gives it backwards), machine
// and line, all descending; by line is machine and line ascending.
void AddSeek(EventConditions *c, const SeekKey &key, bool byLine, bool before) {
    const std::string op = before != byLine ? " > " : " < ";
    const auto machineAndLine = [&](const char *head, const char *tail) {
        c->Text((head + std::string("(machine, line_no)") + op + "(?, ").c_str(), key.machine);
        c->Integer((std::string("?)") + tail).c_str(), key.line);
    };
    if (byLine) {
        machineAndLine(" AND ", "");
    } else if (key.hasTime) {
        c->Time((" AND ((event_time, machine, line_no)" + op + "(?, ").c_str(), key.time);
        c->Text("?, ", key.machine);
        c->Integer(before ? "?) OR event_time IS NULL)" : "?))", key.line);
    } else if (before) {
        machineAndLine(" AND (event_time IS NULL AND ", ")");
    } else {
        machineAndLine(" AND (event_time IS NOT NULL OR ", ")");
    }
}

constexpr char kEventColumns[] =
    "machine, line_no, event_time, category, domain_name, user_name, descriptor, property, "
    "message, submitted, line_text";

std::string SelectEvents() {
    return std::string("SELECT ") + kEventColumns + " FROM " + kTrailTable;
}

Event ReadEvent(OdbcStatement *s) {
    Event e;
    SQL_TIMESTAMP_STRUCT t{};
    s->GetText(1, &e.machine);
    s->GetInteger(2, &e.line);
    if ((e.hasTime = s->GetTimestamp(3, &t))) e.time = FromTimestamp(t);
    e.hasCategory = s->GetInteger(4, &e.category);
    s->GetText(5, &e.domain);
    s->GetText(6, &e.user);
    s->GetText(7, &e.descriptor);
    s->GetText(8, &e.property);
    s->GetText(9, &e.message);
    if ((e.hasSubmitted = s->GetTimestamp(10, &t))) e.submitted = FromTimestamp(t);
    s->GetText(11, &e.lineText);
    e.hasStoredTime = e.hasTime;
    e.storedTime = e.time;
    // The line's own values, and any column edited in the database not shown
    // as fact.
    TakeLineValues(&e);
    return e;
}

// The events a statement selects with the conditions' parameters.
std::vector<Event> Events(const OdbcConnection &connection, const std::string &sql,
                          const EventConditions &conditions) {
    OdbcStatement s(connection);
    s.Prepare(sql);
    conditions.Bind(&s);
    s.Execute();
    return AllRows(&s, ReadEvent);
}

long long Count(const OdbcConnection &connection, const std::string &sql,
                const EventConditions &conditions) {
    OdbcStatement s(connection);
    s.Prepare(sql);
    conditions.Bind(&s);
    s.Execute();
    long long n = 0;
    if (s.Fetch()) s.GetInteger(1, &n);
    return n;
}

std::string ExceptionCondition(ExceptionKind kind) {
    switch (kind) {
    case ExceptionKind::kRefused: return "category = 203";
    case ExceptionKind::kSecurity: return "category = 301 AND property = 'ACL'";
    case ExceptionKind::kDeletions: return "category = 202";
    case ExceptionKind::kSwitches: return "category = 208";
    case ExceptionKind::kStartups: return "category IN (206, 207)";
    case ExceptionKind::kStoredOff: {
        std::string c = StoredOffCondition();
        return c.replace(c.find('?'), 1, std::to_string(kStoredTolerance));
    }
    }
    return "false";
}

// Where each machine's trail stands: its last line shipped, and its hashes.
std::vector<TrailPosition> TrailPositions(const OdbcConnection &connection) {
    OdbcStatement s(connection);
    s.ExecDirect(std::string("SELECT t.machine, t.line_no, ") + kLineHashSql + ", " +
                 kLineSha256Sql + " FROM " + kTrailTable + " t JOIN (SELECT machine, max(last_line) AS last FROM " +
                 kShipmentsTable + " GROUP BY machine) m ON t.machine = m.machine AND "
                 "t.line_no = m.last ORDER BY t.machine");
    return AllRows(&s, [](OdbcStatement *row) {
        TrailPosition p;
        row->GetText(1, &p.machine);
        row->GetInteger(2, &p.line);
        row->GetText(3, &p.hash);
        row->GetText(4, &p.sha256);
        return p;
    });
}

}  // namespace

std::vector<Event> FilteredEvents(const OdbcConnection &connection, const EventFilter &filter,
                                  long long limit, long long offset) {
    EventConditions conditions = ConditionsFor(connection, filter);
    // A page before a row is read backwards, then turned.
    const bool backwards = filter.before.given && !filter.after.given;
    if (filter.after.given) AddSeek(&conditions, filter.after, filter.byLine, false);
    else if (backwards) AddSeek(&conditions, filter.before, filter.byLine, true);
    const char *const order[2][2] = {
        {" ORDER BY event_time DESC, machine DESC, line_no DESC",
         " ORDER BY event_time, machine, line_no"},
        {" ORDER BY machine, line_no", " ORDER BY machine DESC, line_no DESC"}};
    std::vector<Event> events =
        Events(connection,
               SelectEvents() + conditions.Sql() + order[filter.byLine][backwards] + " LIMIT " +
                   std::to_string(limit) +
                   (offset > 0 ? " OFFSET " + std::to_string(offset) : std::string()),
               conditions);
    if (backwards) std::reverse(events.begin(), events.end());
    return events;
}

long long CountEvents(const OdbcConnection &connection, const EventFilter &filter,
                      long long upTo) {
    const EventConditions conditions = ConditionsFor(connection, filter);
    return Count(connection,
                 std::string("SELECT count(*) FROM (SELECT 1 FROM ") + kTrailTable +
                     conditions.Sql() + " LIMIT " + std::to_string(upTo + 1) + ") counted",
                 conditions);
}

namespace {

EventConditions HistoryConditions(const HistoryQuery &q) {
    EventConditions conditions;
    if (!q.machine.empty()) conditions.Text(" AND machine = ?", q.machine);
    conditions.Text(" AND descriptor = ?", q.descriptor);
    if (!q.property.empty()) conditions.Text(" AND property = ?", q.property);
    return conditions;
}

}  // namespace

std::vector<Event> RecordHistory(const OdbcConnection &connection, const HistoryQuery &q,
                                 long long limit) {
    EventConditions conditions = HistoryConditions(q);
    // Oldest first: the rows after a row are the ones the newest-first order
    // has before it, and a page before a row is read backwards, then turned.
    const bool backwards = q.before.given && !q.after.given;
    if (q.after.given) AddSeek(&conditions, q.after, false, true);
    else if (backwards) AddSeek(&conditions, q.before, false, false);
    std::vector<Event> events =
        Events(connection,
               SelectEvents() + conditions.Sql() +
                   (backwards ? " ORDER BY event_time DESC, machine DESC, line_no DESC"
                              : " ORDER BY event_time, machine, line_no") +
                   " LIMIT " + std::to_string(limit),
               conditions);
    if (backwards) std::reverse(events.begin(), events.end());
    return events;
}

long long CountHistory(const OdbcConnection &connection, const HistoryQuery &q, long long upTo) {
    const EventConditions conditions = HistoryConditions(q);
    return Count(connection,
                 std::string("SELECT count(*) FROM (SELECT 1 FROM ") + kTrailTable +
                     conditions.Sql() + " LIMIT " + std::to_string(upTo + 1) + ") counted",
                 conditions);
}

std::vector<std::string> ShippedMachines(const OdbcConnection &connection) {
    OdbcStatement s(connection);
    s.ExecDirect(std::string("SELECT DISTINCT machine FROM ") + kShipmentsTable +
                 " ORDER BY machine");
    return AllRows(&s, [](OdbcStatement *row) {
        std::string machine;
        row->GetText(1, &machine);
        return machine;
    });
}

namespace {

// The overview's counts of a period, read in one pass over its rows: the
// chart's events by quarter hour of UTC and category (every zone's hours and
// days, some a half or a quarter hour off UTC, are whole quarter hours of
// it, so the page adds them up into the reader's local hours or days), the
// events of each user, and each kind of exception's events.
void ReadCounts(const OdbcConnection &connection, const EventConditions &conditions,
                Overview *overview) {
    // A few thousand groups from a week's rows: hashed in memory, where the
    // server, unable to know they are few, would sort the rows on disk. For
    // this transaction only.
    OdbcStatement(connection).ExecDirect("SET LOCAL work_mem = '32MB'");
    std::string sql =
        "SELECT GROUPING(quarter, category, domain_name, user_name), quarter, category, "
        "domain_name, user_name, count(*)";
    for (const ExceptionKind kind : kExceptionKinds)
        sql += ", count(*) FILTER (WHERE " + ExceptionCondition(kind) + ")";
    sql += std::string(" FROM (SELECT date_trunc('hour', event_time) + floor(date_part('minute', "
                       "event_time) / 15) * interval '15 minutes' AS quarter, category, "
                       "domain_name, user_name, property, submitted, event_time FROM ") +
           kTrailTable + conditions.Sql() +
           ") r GROUP BY GROUPING SETS ((quarter, category), (domain_name, user_name), ()) "
           "ORDER BY 1, 2, 3, 6 DESC, 4, 5";
    OdbcStatement s(connection);
    s.Prepare(sql);
    conditions.Bind(&s);
    s.Execute();
    for (const ExceptionKind kind : kExceptionKinds)
        overview->exceptions.push_back(ExceptionCount{kind, 0, {}});
    while (s.Fetch()) {
        long long grouped = 0, count = 0;
        s.GetInteger(1, &grouped);
        s.GetInteger(6, &count);
        if (grouped == 3) {  // by quarter and category
            SQL_TIMESTAMP_STRUCT t{};
            CategoryCount c;
            if (!s.GetTimestamp(2, &t)) continue;  // no event time: on no chart
            c.start = FromTimestamp(t);
            s.GetInteger(3, &c.category);
            c.count = count;
            overview->chart.push_back(c);
        } else if (grouped == 12) {  // by user
            if (overview->users.size() == 50) continue;  // the most active 50
            UserCount u;
            s.GetText(4, &u.domain);
            s.GetText(5, &u.user);
            u.count = count;
            overview->users.push_back(u);
        } else {  // the whole period
            for (std::size_t i = 0; i < overview->exceptions.size(); ++i)
                s.GetInteger(static_cast<SQLUSMALLINT>(7 + i), &overview->exceptions[i].count);
        }
    }
}

}  // namespace

Overview ReadOverview(const OdbcConnection &connection, const EventFilter &filter) {
    const EventConditions conditions = ConditionsFor(connection, filter);
    Overview overview;
    ReadCounts(connection, conditions, &overview);
    for (ExceptionCount &e : overview.exceptions)
        if (e.count > 0)
            e.latest = Events(connection,
                              SelectEvents() + conditions.Sql() + " AND " +
                                  ExceptionCondition(e.kind) +
                                  " ORDER BY event_time DESC LIMIT 10",
                              conditions);
    return overview;
}

std::vector<MachineStatus> ShipmentLogStatus(const OdbcConnection &connection) {
    OdbcStatement s(connection);
    s.ExecDirect(std::string("SELECT machine, max(last_line), max(shipped_at) FROM ") +
                 kShipmentsTable + " GROUP BY machine ORDER BY machine");
    return AllRows(&s, [](OdbcStatement *row) {
        MachineStatus m;
        SQL_TIMESTAMP_STRUCT t{};
        row->GetText(1, &m.machine);
        row->GetInteger(2, &m.lines);
        if ((m.hasLastShipped = row->GetTimestamp(3, &t))) m.lastShipped = FromTimestamp(t);
        return m;
    });
}

ChainStep CheckChainLines(const OdbcConnection &connection, const std::string &machine,
                          long long after, const std::string &hashBefore, long long through) {
    ChainStep step;
    OdbcStatement check(connection);
    // The last 149 bytes of a line are its chain members, ASCII: its content
    // is what comes before them, and a closing brace.
    check.Prepare(
        std::string("SELECT min(line_no) FROM (SELECT line_no, line_hash, prev_hash, line_text, "
                    "coalesce(lag(line_no) OVER w, ?) AS before_no, "
                    "coalesce(lag(line_hash) OVER w, ?) AS before_hash FROM (SELECT line_no, "
                    "line_text, ") +
        kLineHashSql + " AS line_hash, " + kPrevHashSql + " AS prev_hash FROM " + kTrailTable +
        " WHERE machine = ? AND line_no > ? AND line_no <= ?) r WINDOW w AS (ORDER BY line_no)) t "
        "WHERE line_no <> before_no + 1 OR line_hash IS NULL "
        "OR prev_hash IS DISTINCT FROM before_hash "
        "OR encode(sha256(convert_to(prev_hash, 'UTF8') || substr(convert_to(line_text, "
        "'UTF8'), 1, octet_length(line_text) - 149) || convert_to('}', 'UTF8')), 'hex') "
        "IS DISTINCT FROM line_hash");
    check.BindInteger(1, &after);
    check.BindText(2, &hashBefore);
    check.BindText(3, &machine);
    check.BindInteger(4, &after);
    check.BindInteger(5, &through);
    check.Execute();
    if (check.Fetch() && check.GetInteger(1, &step.firstBad)) return step;
    check.CloseCursor();
    // The step's last line: missing lines at its end are a gap too.
    OdbcStatement last(connection);
    last.Prepare(std::string("SELECT line_no, line_hash FROM ") + kTrailTable +
                 " WHERE machine = ? AND line_no > ? AND line_no <= ? "
                 "ORDER BY line_no DESC LIMIT 1");
    last.BindText(1, &machine);
    last.BindInteger(2, &after);
    last.BindInteger(3, &through);
    last.Execute();
    step.lastLine = after;
    if (last.Fetch()) {
        last.GetInteger(1, &step.lastLine);
        last.GetText(2, &step.lastHash);
    }
    return step;
}

namespace {

// Whether the reviews table has the column of a review's meaning: a database
// set up by an earlier release has not, and keeps the meaning in the remark.
bool HasMeaningColumn(const OdbcConnection &connection) {
    OdbcStatement s(connection);
    s.ExecDirect(std::string("SELECT count(*) FROM information_schema.columns WHERE table_name = '") +
                 kReviewsTable + "' AND column_name = 'meaning' AND table_schema = "
                 "current_schema()");
    long long n = 0;
    if (s.Fetch()) s.GetInteger(1, &n);
    return n > 0;
}

}  // namespace

std::vector<StoredReview> RecentReviews(const OdbcConnection &connection) {
    OdbcStatement s(connection);
    s.ExecDirect(std::string("SELECT review_id, reviewed_at, db_user, windows_user, period_from, "
                             "period_until, machines, remark, positions, ") +
                 (HasMeaningColumn(connection) ? "meaning" : "NULL") + " FROM " + kReviewsTable +
                 " ORDER BY review_id DESC LIMIT 200");
    return AllRows(&s, [](OdbcStatement *row) {
        StoredReview r;
        SQL_TIMESTAMP_STRUCT at{}, from{}, until{};
        row->GetInteger(1, &r.id);
        if ((r.hasAt = row->GetTimestamp(2, &at))) r.at = FromTimestamp(at);
        row->GetText(3, &r.dbUser);
        row->GetText(4, &r.windowsUser);
        if ((r.hasFrom = row->GetTimestamp(5, &from))) r.from = FromTimestamp(from);
        if ((r.hasUntil = row->GetTimestamp(6, &until))) r.until = FromTimestamp(until);
        row->GetText(7, &r.machines);
        row->GetText(8, &r.remark);
        row->GetText(9, &r.positions);
        row->GetText(10, &r.meaning);
        return r;
    });
}

long long RecordReview(const OdbcConnection &connection, const NewReview &review,
                       const std::string &windowsUser) {
    Transaction transaction(connection);
    const std::string positions = PositionsJson(TrailPositions(connection));
    const SQL_TIMESTAMP_STRUCT from = Timestamp(review.from), until = Timestamp(review.until);
    const bool meaningColumn = HasMeaningColumn(connection);
    const std::string remark =
        meaningColumn ? review.remark : review.meaning + ": " + review.remark;
    OdbcStatement insert(connection);
    insert.Prepare(std::string("INSERT INTO ") + kReviewsTable +
                   " (reviewed_at, db_user, windows_user, period_from, period_until, machines, "
                   "remark, positions" + (meaningColumn ? ", meaning" : "") +
                   ") VALUES (now(), '', ?, ?, ?, ?, ?, CAST(? AS jsonb)" +
                   (meaningColumn ? ", ?" : "") + ") RETURNING review_id");
    insert.BindText(1, &windowsUser);
    insert.BindTimestamp(2, review.hasFrom ? &from : nullptr);
    insert.BindTimestamp(3, review.hasUntil ? &until : nullptr);
    insert.BindText(4, &review.machines);
    insert.BindText(5, &remark);
    insert.BindText(6, &positions);
    if (meaningColumn) insert.BindText(7, &review.meaning);
    insert.Execute();
    long long id = 0;
    if (insert.Fetch()) insert.GetInteger(1, &id);
    insert.CloseCursor();
    transaction.Commit();
    return id;
}

}  // namespace qz45trail
