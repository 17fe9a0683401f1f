#include "review.h"

#include <windows.h>

#include <bcrypt.h>
#define SECURITY_WIN32
#include <security.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "database.h"
#include "event/event_types.h"
#include "exit_codes.h"
#include "http_server.h"
#include "review_style.h"
#include "review_text.h"
#include "trail_chain.h"
#include "win_text.h"

namespace qz45trail {
namespace {

constexpr long long kPageRows = 100;
constexpr long long kPrintRows = 10000;
constexpr long long kCsvRows = 100000;
constexpr char kCookie[] = "qz45review";

// Every page comes from here and asks for nothing from anywhere else.
const std::vector<std::pair<std::string, std::string>> kHeaders = {
    {"Content-Security-Policy",
     "default-src 'self'; style-src 'self'; img-src 'self'; script-src 'self'; form-action 'self'; "
     "frame-ancestors 'none'; base-uri 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

// --- times -------------------------------------------------------------------

long long Minutes(const SYSTEMTIME &s) {
    FILETIME f{};
    SystemTimeToFileTime(&s, &f);
    const long long ticks = (static_cast<long long>(f.dwHighDateTime) << 32) | f.dwLowDateTime;
    return ticks / 600000000LL;
}

// "2026-12-08 10:15:00.250 +01:00": this machine's local time with its offset.
std::string LocalText(const UtcTime &t) {
    const SYSTEMTIME utc = ToSystemTime(t);
    SYSTEMTIME local{};
    if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
    const long long offset = Minutes(local) - Minutes(utc);
    const long long a = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u %c%02lld:%02lld",
                  local.wYear, local.wMonth, local.wDay, local.wHour, local.wMinute, local.wSecond,
                  local.wMilliseconds, offset < 0 ? '-' : '+', a / 60, a % 60);
    return text;
}

UtcTime NowUtc() {
    SYSTEMTIME s;
    GetSystemTime(&s);
    return FromSystemTime(s);
}

UtcTime AddDays(const UtcTime &t, int days) {
    SYSTEMTIME s = ToSystemTime(t);
    FILETIME f{};
    SystemTimeToFileTime(&s, &f);
    ULARGE_INTEGER u;
    u.LowPart = f.dwLowDateTime;
    u.HighPart = f.dwHighDateTime;
    u.QuadPart += static_cast<long long>(days) * 864000000000LL;
    f.dwLowDateTime = u.LowPart;
    f.dwHighDateTime = u.HighPart;
    FileTimeToSystemTime(&f, &s);
    return FromSystemTime(s);
}

// A local time as a form gives it ("2026-12-08", "2026-12-08T10:15" or with
// seconds) in UTC; false when it does not read.
bool LocalToUtc(const std::string &text, UtcTime *out) {
    std::string iso = text;
    if (iso.size() > 10 && iso[10] == ' ') iso[10] = 'T';
    if (iso.size() == 16) iso += ":00";
    if (iso.size() == 19) iso += "Z";
    UtcTime local;
    if (!ParseUtc(iso, &local, true)) return false;
    const SYSTEMTIME l = ToSystemTime(local);
    SYSTEMTIME u{};
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &l, &u)) return false;
    *out = FromSystemTime(u);
    return true;
}

// A time cell: local time, UTC in its tooltip.
std::string TimeCell(const UtcTime &t) {
    return "<td class=\"time\" title=\"" + UtcText(t) + " UTC\">" + Html(LocalText(t)) + "</td>";
}

// --- categories --------------------------------------------------------------

std::string CategoryName(long long number) {
    return number < INT32_MIN || number > INT32_MAX
               ? ""
               : qz45::EventCategoryName(static_cast<int32_t>(number));
}

// The library's event types of a category, by name.
std::string TypesOf(int category) {
    std::string names;
    for (const auto &t : qz45::kEventTypes) {
        if (t.category != category) continue;
        if (names.find(t.name) != std::string::npos) continue;  // 48 and 49 share a name
        names += std::string(names.empty() ? "" : ", ") + t.name;
    }
    return names;
}

// What an auditor looks at first, each a condition on the trail.
struct ExceptionKind {
    const char *id;
    const char *title;
    const char *condition;
    std::vector<int> categories;  // whose types it names
};
const ExceptionKind kExceptions[] = {
    {"refused", "Refused operations", "category = 203", {203}},
    {"security", "Security changes (property ACL)", "category = 301 AND property = 'ACL'", {}},
    {"deletions", "Record deletions", "category = 202", {202}},
    {"switches", "Audit trail and CFR11 mode switched", "category = 208", {208}},
    {"startups", "Start-ups and shutdowns", "category IN (206, 207)", {206, 207}},
};

// --- the filter of a page ------------------------------------------------------

struct Parameter {
    enum Kind { kText, kInteger, kTime } kind;
    std::string text;
    long long number = 0;
    SQL_TIMESTAMP_STRUCT time{};
};

struct Where {
    std::string sql = " WHERE 1 = 1";
    std::vector<Parameter> parameters;

    void Text(const char *condition, const std::string &value) {
        sql += condition;
        parameters.push_back({Parameter::kText, value, 0, {}});
    }
    void Integer(const char *condition, long long value) {
        sql += condition;
        parameters.push_back({Parameter::kInteger, "", value, {}});
    }
    void Time(const char *condition, const UtcTime &value) {
        sql += condition;
        parameters.push_back({Parameter::kTime, "", 0, Timestamp(value)});
    }
    void Bind(OdbcStatement *s, SQLUSMALLINT first = 1) const {
        SQLUSMALLINT n = first;
        for (const Parameter &p : parameters) {
            switch (p.kind) {
            case Parameter::kText: s->BindText(n++, &p.text); break;
            case Parameter::kInteger: s->BindInteger(n++, &p.number); break;
            case Parameter::kTime: s->BindTimestamp(n++, &p.time); break;
            }
        }
    }
};

struct Filter {
    std::map<std::string, std::string> fields;  // as the form gave them
    std::vector<std::string> errors;
    Where where;
    bool hasFrom = false, hasTo = false;
    UtcTime from, to;
    long long page = 0;
    bool byLine = false;

    std::string Get(const char *name) const {
        const auto f = fields.find(name);
        return f == fields.end() ? "" : f->second;
    }
    // The filter as a query string, without its page.
    std::string Query() const {
        std::string q;
        for (const auto &f : fields) {
            if (f.first == "page" || f.first == "token" || f.second.empty()) continue;
            q += (q.empty() ? "" : "&") + UrlEncode(f.first) + "=" + UrlEncode(f.second);
        }
        return q;
    }
    std::string Describe() const {
        std::string d;
        for (const char *name : {"from", "to", "machine", "user", "descriptor", "property",
                                 "category", "text"}) {
            const std::string v = Get(name);
            if (!v.empty()) d += std::string(d.empty() ? "" : ", ") + name + " " + v;
        }
        return d.empty() ? "all events" : d;
    }
};

Filter ReadFilter(const std::string &query) {
    Filter f;
    f.fields = ParseForm(query);
    const std::string from = f.Get("from"), to = f.Get("to");
    if (!from.empty() && !(f.hasFrom = LocalToUtc(from, &f.from)))
        f.errors.push_back("from: \"" + from + "\" is not a time (2026-12-08 or 2026-12-08T10:15)");
    if (!to.empty() && !(f.hasTo = LocalToUtc(to, &f.to)))
        f.errors.push_back("to: \"" + to + "\" is not a time (2026-12-08 or 2026-12-08T10:15)");
    if (f.hasFrom) f.where.Time(" AND event_time >= ?", f.from);
    if (f.hasTo) f.where.Time(" AND event_time < ?", f.to);
    if (!f.Get("machine").empty()) f.where.Text(" AND machine = ?", f.Get("machine"));
    const std::string user = f.Get("user");
    const std::size_t slash = user.find('\\');
    if (slash != std::string::npos) {
        f.where.Text(" AND domain_name = ?", user.substr(0, slash));
        f.where.Text(" AND user_name = ?", user.substr(slash + 1));
    } else if (!user.empty()) {
        f.where.Text(" AND user_name = ?", user);
    }
    if (!f.Get("descriptor").empty()) f.where.Text(" AND descriptor = ?", f.Get("descriptor"));
    if (!f.Get("property").empty()) f.where.Text(" AND property = ?", f.Get("property"));
    const std::string category = f.Get("category");
    if (!category.empty()) {
        char *end = nullptr;
        const long long n = std::strtoll(category.c_str(), &end, 10);
        if (*end != '\0') f.errors.push_back("category: \"" + category + "\" is not a number");
        else f.where.Integer(" AND category = ?", n);
    }
    if (!f.Get("text").empty())
        f.where.Text(" AND strpos(lower(message), lower(?)) > 0", f.Get("text"));
    f.page = std::max(0LL, std::strtoll(f.Get("page").c_str(), nullptr, 10));
    f.byLine = f.Get("sort") == "line";
    return f;
}

// --- an event row --------------------------------------------------------------

constexpr char kEventColumns[] =
    "machine, line_no, event_time, event_class, category, domain_name, user_name, descriptor, "
    "property, old_type, old_value, new_type, new_value, message, submitted";

struct Event {
    std::string machine, eventClass, domain, user, descriptor, property, oldType, oldValue,
        newType, newValue, message;
    long long line = 0, category = 0;
    bool hasTime = false, hasCategory = false, hasSubmitted = false;
    UtcTime time, submitted;

    std::string Who() const { return domain + "\\" + user; }
    // Old -> new as the console table shows them: "R8 1.5 -> R8 2.5".
    std::string Values() const {
        const auto one = [](const std::string &type, const std::string &value) {
            if (type.empty()) return std::string();
            if (type == "VT_BSTR") return "\"" + value + "\"";
            return type.substr(type.rfind('_') + 1) + " " + value;
        };
        if (oldType.empty()) return one(newType, newValue);
        return one(oldType, oldValue) + " \xE2\x86\x92 " + one(newType, newValue);
    }
};

void ReadEvent(OdbcStatement *s, Event *e) {
    SQL_TIMESTAMP_STRUCT t{};
    *e = Event{};
    s->GetText(1, &e->machine);
    s->GetInteger(2, &e->line);
    if ((e->hasTime = s->GetTimestamp(3, &t))) e->time = FromTimestamp(t);
    s->GetText(4, &e->eventClass);
    e->hasCategory = s->GetInteger(5, &e->category);
    s->GetText(6, &e->domain);
    s->GetText(7, &e->user);
    s->GetText(8, &e->descriptor);
    s->GetText(9, &e->property);
    s->GetText(10, &e->oldType);
    s->GetText(11, &e->oldValue);
    s->GetText(12, &e->newType);
    s->GetText(13, &e->newValue);
    s->GetText(14, &e->message);
    if ((e->hasSubmitted = s->GetTimestamp(15, &t))) e->submitted = FromTimestamp(t);
}

// A record lives in one machine's database: its history is that machine's.
std::string HistoryLink(const Event &e) {
    return "/history?machine=" + UrlEncode(e.machine) + "&descriptor=" + UrlEncode(e.descriptor) +
           "&property=" + UrlEncode(e.property);
}

// --- the site ------------------------------------------------------------------

class Site {
public:
    Site(const std::string &connection, std::string token)
        : connection_(connection), token_(std::move(token)), windowsUser_(WindowsUser()) {}

    void Connect() { db_ = std::make_unique<Database>(connection_); }

    HttpResponse Handle(const HttpRequest &request) {
        const std::string path = TargetPath(request.target);
        const std::map<std::string, std::string> query = ParseForm(TargetQuery(request.target));
        const auto given = query.find("token");
        if (given != query.end() && given->second == token_) {
            // The token goes into a cookie; the address without it is shown.
            HttpResponse r = Page(303, "");
            r.headers.push_back({"Set-Cookie", std::string(kCookie) + "=" + token_ +
                                                   "; Path=/; HttpOnly; SameSite=Strict"});
            std::string rest;
            for (const auto &q : query)
                if (q.first != "token") rest += (rest.empty() ? "?" : "&") + UrlEncode(q.first) +
                                                "=" + UrlEncode(q.second);
            r.headers.push_back({"Location", path + rest});
            return r;
        }
        if (!HasCookie(request.cookie)) {
            HttpResponse r = Page(403, "");
            r.contentType = "text/plain; charset=utf-8";
            r.body = "403 Forbidden: open the address that qz45trail review printed when it "
                     "started.\n";
            return r;
        }
        if (path == "/style.css") {
            HttpResponse r = Page(200, kReviewStyle);
            r.contentType = "text/css; charset=utf-8";
            return r;
        }
        // A connection lost meanwhile (the server restarted) is made again once.
        for (int attempt = 0;; ++attempt) {
            try {
                if (db_ == nullptr) Connect();
                HttpResponse r = Route(path, request);
                db_->connection.Rollback();
                return r;
            } catch (const OdbcError &e) {
                db_.reset();
                if (attempt > 0 || !e.Transient()) {
                    HttpResponse r = Page(503, "");
                    r.body = Frame("The database", "", "<p class=\"error\">" +
                                                           Html(e.what()) + "</p>");
                    return r;
                }
            }
        }
    }

private:
    static std::string WindowsUser() {
        wchar_t name[512] = {};
        ULONG n = 512;
        if (GetUserNameExW(NameSamCompatible, name, &n)) return Utf8(name, n);
        DWORD m = 512;
        if (GetUserNameW(name, &m)) return Utf8(name, wcsnlen(name, 512));
        return "unknown";
    }

    bool HasCookie(const std::string &cookies) const {
        const std::string wanted = std::string(kCookie) + "=" + token_;
        std::size_t at = 0;
        while (at < cookies.size()) {
            while (at < cookies.size() && (cookies[at] == ' ' || cookies[at] == ';')) ++at;
            const std::size_t end = std::min(cookies.find(';', at), cookies.size());
            if (cookies.compare(at, end - at, wanted) == 0) return true;
            at = end;
        }
        return false;
    }

    static HttpResponse Page(int status, std::string body) {
        HttpResponse r;
        r.status = status;
        r.headers = kHeaders;
        r.body = std::move(body);
        return r;
    }

    std::string Frame(const std::string &title, const char *here, const std::string &content) const {
        std::string nav;
        for (const auto &link : {std::pair<const char *, const char *>{"/", "Events"},
                                 {"/overview", "Overview"},
                                 {"/reviews", "Reviews"}}) {
            nav += std::string("<a href=\"") + link.first + "\"" +
                   (std::string(link.first) == here ? " class=\"here\"" : "") + ">" + link.second +
                   "</a>";
        }
        return "<!DOCTYPE html><html lang=\"en\"><head><meta charset=\"utf-8\"><title>" +
               Html(title) + " - audit trail review</title><link rel=\"stylesheet\" "
               "href=\"/style.css\"></head><body><header>" + nav + "<span class=\"who\">" +
               Html(windowsUser_) + " &middot; read-only</span></header><main><h1>" +
               Html(title) + "</h1>" + content + "</main></body></html>";
    }

    HttpResponse Route(const std::string &path, const HttpRequest &request) {
        const std::string query = TargetQuery(request.target);
        if (path == "/" || path == "/events") return Page(200, Events(ReadFilter(query)));
        if (path == "/history") return Page(200, History(ParseForm(query)));
        if (path == "/overview") return Page(200, Overview(ReadFilter(query)));
        if (path == "/export.csv") return Csv(ReadFilter(query));
        if (path == "/print") return Page(200, Print(ReadFilter(query)));
        if (path == "/reviews") {
            if (request.method == "POST") return Record(ParseForm(request.body));
            return Page(200, Reviews(""));
        }
        HttpResponse r = Page(404, Frame("Not here", "", "<p>There is no such page.</p>"));
        return r;
    }

    // --- events ---

    std::vector<std::string> Machines() {
        std::vector<std::string> machines;
        OdbcStatement s(db_->connection);
        s.ExecDirect("SELECT DISTINCT machine FROM audit_trail_shipments ORDER BY machine");
        for (std::string m; s.Fetch();) {
            s.GetText(1, &m);
            machines.push_back(m);
        }
        return machines;
    }

    std::string FilterForm(const Filter &f, const char *action, bool all) {
        const auto input = [&f](const char *name, const char *label, const char *type) {
            return std::string("<label>") + label + "<input name=\"" + name + "\" type=\"" + type +
                   "\" value=\"" + Html(f.Get(name)) + "\"></label>";
        };
        std::string form = std::string("<form class=\"filter\" id=\"filter\" method=\"get\" action=\"") +
                           action + "\">" + input("from", "from (local time)", "datetime-local") +
                           input("to", "to (local time)", "datetime-local");
        std::string machine = "<label>machine<select name=\"machine\"><option value=\"\">all</option>";
        for (const std::string &m : Machines())
            machine += "<option" + std::string(m == f.Get("machine") ? " selected" : "") +
                       " value=\"" + Html(m) + "\">" + Html(m) + "</option>";
        form += machine + "</select></label>";
        if (all) {
            form += input("user", "user", "text") + input("descriptor", "descriptor", "text") +
                    input("property", "property", "text");
            std::string category =
                "<label>category / type<select name=\"category\"><option value=\"\">all</option>";
            for (int32_t c = 201; c <= 401; ++c) {
                const char *name = qz45::EventCategoryName(c);
                if (*name == '\0') continue;
                const std::string n = std::to_string(c);
                category += "<option" + std::string(n == f.Get("category") ? " selected" : "") +
                            " value=\"" + n + "\" title=\"" + Html(TypesOf(c)) + "\">" + n +
                            " " + name + "</option>";
            }
            form += category + "</select></label>" + input("text", "message contains", "text");
            form += std::string("<label>sort<select name=\"sort\"><option value=\"time\">newest "
                                "first</option><option value=\"line\"") +
                    (f.byLine ? " selected" : "") + ">machine, line</option></select></label>";
        }
        form += "<button id=\"show\" type=\"submit\">Show</button></form>";
        for (const std::string &e : f.errors) form += "<p class=\"error\">" + Html(e) + "</p>";
        return form;
    }

    std::string EventsSql(const Filter &f, long long limit, long long offset) const {
        return std::string("SELECT ") + kEventColumns + " FROM audit_trail" + f.where.sql +
               (f.byLine ? " ORDER BY machine, line_no" : " ORDER BY event_time DESC, machine, line_no DESC") +
               " LIMIT " + std::to_string(limit) + " OFFSET " + std::to_string(offset);
    }

    static std::string EventHead() {
        return "<thead><tr><th>machine</th><th>line</th><th>time</th><th>category</th>"
               "<th>event</th><th>user</th><th>descriptor</th><th>property</th>"
               "<th>old &rarr; new</th><th>message</th></tr></thead>";
    }

    static std::string EventRow(const Event &e, bool links) {
        std::string descriptor = Html(e.descriptor);
        if (links && !e.descriptor.empty())
            descriptor = "<a href=\"" + Html(HistoryLink(e)) + "\">" + descriptor + "</a>";
        return "<tr class=\"event\"><td class=\"machine\">" + Html(e.machine) +
               "</td><td class=\"num line\">" + std::to_string(e.line) + "</td>" +
               (e.hasTime ? TimeCell(e.time) : "<td class=\"time\"></td>") +
               "<td class=\"category\">" +
               (e.hasCategory ? std::to_string(e.category) + " " + Html(CategoryName(e.category))
                              : "") +
               "</td><td>" + Html(e.eventClass) + "</td><td class=\"user\">" + Html(e.Who()) +
               "</td><td class=\"descriptor\">" + descriptor + "</td><td class=\"property\">" +
               Html(e.property) + "</td><td class=\"value\">" + Html(e.Values()) +
               "</td><td class=\"message\">" + Html(e.message) + "</td></tr>";
    }

    std::string Events(const Filter &f) {
        std::string body = FilterForm(f, "/", true);
        const std::string q = f.Query();
        body += "<p class=\"actions\">" + Html(f.Describe()) + ":<a id=\"csv\" href=\"/export.csv?" +
                Html(q) + "\">CSV</a><a id=\"print\" href=\"/print?" + Html(q) +
                "\">Print (PDF copy)</a></p>";
        if (!f.errors.empty()) return Frame("Events", "/", body);
        OdbcStatement s(db_->connection);
        s.Prepare(EventsSql(f, kPageRows + 1, f.page * kPageRows));
        f.where.Bind(&s);
        s.Execute();
        std::string rows;
        long long n = 0;
        Event e;
        while (s.Fetch()) {
            if (++n > kPageRows) break;
            ReadEvent(&s, &e);
            rows += EventRow(e, true);
        }
        body += "<table id=\"events\">" + EventHead() + "<tbody>" + rows + "</tbody></table>";
        std::string pages = "<nav class=\"pages\">";
        const std::string base = "/?" + q + (q.empty() ? "" : "&") + "page=";
        if (f.page > 0)
            pages += "<a id=\"newer\" href=\"" + Html(base + std::to_string(f.page - 1)) +
                     "\">&larr; previous page</a>";
        pages += "<span>page " + std::to_string(f.page + 1) + "</span>";
        if (n > kPageRows)
            pages += "<a id=\"older\" href=\"" + Html(base + std::to_string(f.page + 1)) +
                     "\">next page &rarr;</a>";
        if (n == 0) pages += "<span>no events</span>";
        body += pages + "</nav>";
        return Frame("Events", "/", body);
    }

    std::string History(const std::map<std::string, std::string> &q) {
        const auto get = [&q](const char *name) {
            const auto f = q.find(name);
            return f == q.end() ? std::string() : f->second;
        };
        const std::string descriptor = get("descriptor"), property = get("property"),
                          machine = get("machine");
        Where w;
        if (!machine.empty()) w.Text(" AND machine = ?", machine);
        w.Text(" AND descriptor = ?", descriptor);
        if (!property.empty()) w.Text(" AND property = ?", property);
        OdbcStatement s(db_->connection);
        s.Prepare(std::string("SELECT ") + kEventColumns + " FROM audit_trail" + w.sql +
                  " ORDER BY event_time, machine, line_no LIMIT 10001");
        w.Bind(&s);
        s.Execute();
        std::string rows;
        long long n = 0;
        Event e;
        while (s.Fetch() && ++n <= 10000) {
            ReadEvent(&s, &e);
            rows += "<tr class=\"event\">" +
                    (e.hasTime ? TimeCell(e.time) : std::string("<td class=\"time\"></td>")) +
                    "<td class=\"value\">" + Html(e.Values()) + "</td><td class=\"user\">" +
                    Html(e.Who()) + "</td><td class=\"category\">" + std::to_string(e.category) +
                    " " + Html(CategoryName(e.category)) + "</td><td class=\"property\">" +
                    Html(e.property) + "</td><td class=\"message\">" + Html(e.message) +
                    "</td><td class=\"machine\">" + Html(e.machine) + " " +
                    std::to_string(e.line) + "</td></tr>";
        }
        const std::string title = "History of " + descriptor + (property.empty() ? "" : " " + property) +
                                  (machine.empty() ? "" : " on " + machine);
        std::string body = "<p>Every event on this record" +
                           std::string(property.empty() ? "" : " and property") +
                           ", oldest first" + (n > 10000 ? " (the first 10,000)" : "") +
                           ".</p><table id=\"history\"><thead><tr><th>time</th><th>old &rarr; "
                           "new</th><th>who</th><th>category</th><th>property</th><th>why "
                           "(message)</th><th>machine, line</th></tr></thead><tbody>" +
                           rows + "</tbody></table>";
        return Frame(title, "", body);
    }

    // --- the exceptions, the picture, the machines ---

    struct MachineStatus {
        long long lines = 0;
        std::string lastShipped;
        long long verifiedThrough = 0;  // lines whose chain checked out
        std::string lastHash = kChainStart;
        long long firstBad = 0;
    };

    // What the shipment log says of each machine: its lines, when it last
    // shipped. Cheap: one row per shipment of 500 lines.
    void ReadMachines() {
        OdbcStatement list(db_->connection);
        list.ExecDirect("SELECT machine, max(last_line), max(shipped_at) FROM audit_trail_shipments "
                        "GROUP BY machine ORDER BY machine");
        for (std::string m; list.Fetch();) {
            list.GetText(1, &m);
            MachineStatus &st = status_[m];
            list.GetInteger(2, &st.lines);
            SQL_TIMESTAMP_STRUCT t{};
            if (list.GetTimestamp(3, &t)) st.lastShipped = LocalText(FromTimestamp(t));
        }
        db_->connection.Rollback();
    }

public:
    // Checks the next lines of one machine's chain in the database itself,
    // between requests: numbers without gaps, each line's hash recomputed
    // from its text, each prev the hash before it. What checked out is not
    // checked again. True while lines are left to check.
    bool CheckStep() {
        try {
            if (db_ == nullptr) Connect();
            if (!db_->postgres) return false;
            if (!checking_) ReadMachines();
            for (auto &entry : status_) {
                MachineStatus &st = entry.second;
                if (st.firstBad != 0 || st.verifiedThrough >= st.lines) continue;
                CheckLines(entry.first, &st);
                db_->connection.Rollback();
                checking_ = true;
                return true;
            }
        } catch (const OdbcError &) {
            db_.reset();  // tried again later
        }
        checking_ = false;
        return false;
    }

private:
    // A step takes some tens of milliseconds: a request that comes meanwhile
    // waits no longer.
    static constexpr long long kCheckStep = 5000;

    void CheckLines(const std::string &machine, MachineStatus *st) {
        const long long through = std::min(st->lines, st->verifiedThrough + kCheckStep);
        OdbcStatement check(db_->connection);
        // The last 149 bytes of a line are its chain members, ASCII: its
        // content is what comes before them, and a closing brace.
        check.Prepare(
            "SELECT min(line_no) FROM (SELECT line_no, line_hash, prev_hash, line_text, "
            "coalesce(lag(line_no) OVER w, ?) AS before_no, "
            "coalesce(lag(line_hash) OVER w, ?) AS before_hash FROM audit_trail "
            "WHERE machine = ? AND line_no > ? AND line_no <= ? WINDOW w AS (ORDER BY line_no)) t "
            "WHERE line_no <> before_no + 1 OR line_hash IS NULL "
            "OR prev_hash IS DISTINCT FROM before_hash "
            "OR encode(sha256(convert_to(prev_hash, 'UTF8') || substr(convert_to(line_text, "
            "'UTF8'), 1, octet_length(line_text) - 149) || convert_to('}', 'UTF8')), 'hex') "
            "IS DISTINCT FROM line_hash");
        check.BindInteger(1, &st->verifiedThrough);
        check.BindText(2, &st->lastHash);
        check.BindText(3, &machine);
        check.BindInteger(4, &st->verifiedThrough);
        check.BindInteger(5, &through);
        check.Execute();
        long long bad = 0;
        if (check.Fetch() && check.GetInteger(1, &bad)) {
            st->firstBad = bad;
            return;
        }
        check.CloseCursor();
        // The step's last line: missing lines at its end are a gap too.
        OdbcStatement last(db_->connection);
        last.Prepare("SELECT line_no, line_hash FROM audit_trail WHERE machine = ? AND line_no > ? "
                     "AND line_no <= ? ORDER BY line_no DESC LIMIT 1");
        last.BindText(1, &machine);
        last.BindInteger(2, &st->verifiedThrough);
        last.BindInteger(3, &through);
        last.Execute();
        long long line = st->verifiedThrough;
        std::string hash;
        if (last.Fetch()) {
            last.GetInteger(1, &line);
            last.GetText(2, &hash);
        }
        if (line < through) {
            st->firstBad = line + 1;  // logged as shipped, not there
            return;
        }
        st->lastHash = hash;
        st->verifiedThrough = through;
    }

    std::string ChainText(const MachineStatus &st) const {
        if (!db_->postgres) return "not checked here (PostgreSQL only): qz45trail verify --odbc";
        if (st.firstBad != 0)
            return "first bad line " + std::to_string(st.firstBad) + " (qz45trail verify --odbc "
                   "tells what is wrong with it)";
        if (st.verifiedThrough < st.lines)
            return "intact through line " + std::to_string(st.verifiedThrough) + " of " +
                   std::to_string(st.lines) + ", checking";
        return "intact";
    }

    std::string MachinesTable() {
        ReadMachines();
        std::string rows;
        for (const auto &entry : status_) {
            const MachineStatus &st = entry.second;
            rows += "<tr><td>" + Html(entry.first) + "</td><td class=\"num\">" +
                    std::to_string(st.lines) + "</td><td>" + Html(st.lastShipped) +
                    "</td><td class=\"" + (st.firstBad != 0 ? "bad" : "ok") + "\">" +
                    Html(ChainText(st)) + "</td></tr>";
        }
        return "<table id=\"machines\"><thead><tr><th>machine</th><th>lines</th><th>last line "
               "shipped</th><th>chain</th></tr></thead><tbody>" + rows + "</tbody></table>";
    }

    std::string Overview(Filter f) {
        // The period: the last seven days unless given.
        if (!f.hasFrom && !f.hasTo && f.errors.empty()) {
            f.hasTo = true;
            f.to = NowUtc();
            f.hasFrom = true;
            f.from = AddDays(f.to, -7);
            f.where = Where{};
            f.where.Time(" AND event_time >= ?", f.from);
            f.where.Time(" AND event_time < ?", f.to);
            if (!f.Get("machine").empty()) f.where.Text(" AND machine = ?", f.Get("machine"));
        }
        std::string body = FilterForm(f, "/overview", false);
        if (!f.errors.empty()) return Frame("Overview", "/overview", body);
        body += "<p>" + Html(f.hasFrom ? LocalText(f.from) : "the beginning") + " to " +
                Html(f.hasTo ? LocalText(f.to) : "now") + "</p>";

        body += "<h2>Exceptions first</h2><div class=\"kinds\" id=\"exceptions\">";
        for (const ExceptionKind &k : kExceptions) {
            OdbcStatement count(db_->connection);
            count.Prepare("SELECT count(*) FROM audit_trail" + f.where.sql + " AND " + k.condition);
            f.where.Bind(&count);
            count.Execute();
            long long n = 0;
            if (count.Fetch()) count.GetInteger(1, &n);
            count.CloseCursor();
            std::string types;
            for (const int c : k.categories) types += (types.empty() ? "" : ", ") + TypesOf(c);
            if (types.empty()) types = "Change DB Security, Change Record Security, and other changes of ACL";
            body += std::string("<section id=\"") + k.id + "\"><h2>" + k.title +
                    " <span class=\"count\">" + std::to_string(n) + "</span></h2><p class=\"types\">" +
                    Html(types) + "</p>";
            if (n > 0) {
                OdbcStatement s(db_->connection);
                s.Prepare(std::string("SELECT ") + kEventColumns + " FROM audit_trail" + f.where.sql +
                          " AND " + k.condition + " ORDER BY event_time DESC LIMIT 10");
                f.where.Bind(&s);
                s.Execute();
                std::string rows;
                Event e;
                while (s.Fetch()) {
                    ReadEvent(&s, &e);
                    rows += "<tr>" + (e.hasTime ? TimeCell(e.time) : std::string("<td></td>")) +
                            "<td class=\"user\">" + Html(e.Who()) + "</td><td class=\"descriptor\">" +
                            Html(e.descriptor) + "</td><td class=\"message\">" + Html(e.message) +
                            "</td></tr>";
                }
                body += "<table>" + rows + "</table>";
            }
            body += "</section>";
        }
        body += "</div><h2>Each machine's trail</h2>" + MachinesTable();

        // Events per hour (up to three days) or per day, by category.
        const bool hourly = f.hasFrom && f.hasTo && Minutes(ToSystemTime(f.to)) -
                                                            Minutes(ToSystemTime(f.from)) <= 3 * 24 * 60;
        OdbcStatement chart(db_->connection);
        chart.Prepare(std::string("SELECT date_trunc('") + (hourly ? "hour" : "day") +
                      "', event_time) AS t, category, count(*) FROM audit_trail" + f.where.sql +
                      " GROUP BY 1, 2 ORDER BY 1, 2");
        f.where.Bind(&chart);
        chart.Execute();
        std::vector<std::string> series;
        std::map<long long, std::size_t> seriesOf;
        std::vector<ChartBucket> buckets;
        std::string previous;
        while (chart.Fetch()) {
            SQL_TIMESTAMP_STRUCT t{};
            long long category = 0, n = 0;
            chart.GetTimestamp(1, &t);
            chart.GetInteger(2, &category);
            chart.GetInteger(3, &n);
            const std::string label = LocalText(FromTimestamp(t)).substr(0, hourly ? 13 : 10);
            if (buckets.empty() || label != previous) buckets.push_back({label, {}});
            previous = label;
            if (!seriesOf.count(category)) {
                seriesOf[category] = series.size();
                series.push_back(std::to_string(category) + " " + CategoryName(category));
            }
            ChartBucket &b = buckets.back();
            b.counts.resize(series.size(), 0);
            b.counts[seriesOf[category]] += n;
        }
        chart.CloseCursor();
        for (ChartBucket &b : buckets) b.counts.resize(series.size(), 0);
        body += std::string("<h2>Events per ") + (hourly ? "hour" : "day") + " and category</h2>" +
                (buckets.empty() ? "<p>No events in this period.</p>" : BarChart(series, buckets));

        OdbcStatement users(db_->connection);
        users.Prepare("SELECT domain_name, user_name, count(*) FROM audit_trail" + f.where.sql +
                      " GROUP BY domain_name, user_name ORDER BY 3 DESC, 1, 2 LIMIT 50");
        f.where.Bind(&users);
        users.Execute();
        std::string rows;
        while (users.Fetch()) {
            std::string domain, user;
            long long n = 0;
            users.GetText(1, &domain);
            users.GetText(2, &user);
            users.GetInteger(3, &n);
            rows += "<tr><td>" + Html(domain + "\\" + user) + "</td><td class=\"num\">" +
                    std::to_string(n) + "</td></tr>";
        }
        body += "<h2>Events per user</h2><table id=\"users\"><thead><tr><th>user</th><th>events</th>"
                "</tr></thead><tbody>" + rows + "</tbody></table>";
        return Frame("Overview", "/overview", body);
    }

    // --- copies: CSV and print ---

    HttpResponse Csv(const Filter &f) {
        if (!f.errors.empty()) {
            HttpResponse r = Page(400, "");
            r.contentType = "text/plain; charset=utf-8";
            for (const std::string &e : f.errors) r.body += e + "\n";
            return r;
        }
        OdbcStatement s(db_->connection);
        s.Prepare(EventsSql(f, kCsvRows + 1, 0));
        f.where.Bind(&s);
        s.Execute();
        std::string csv = "\xEF\xBB\xBF";  // UTF-8, said so for spreadsheet programs
        csv += "machine,line,event_time_utc,event_time_local,category,event_class,domain,user,"
               "descriptor,property,old_type,old_value,new_type,new_value,message,submitted_utc\r\n";
        long long n = 0;
        Event e;
        while (s.Fetch()) {
            if (++n > kCsvRows) {
                HttpResponse r = Page(413, "");
                r.contentType = "text/plain; charset=utf-8";
                r.body = "More than " + std::to_string(kCsvRows) +
                         " events: narrow the filter (a shorter period, a machine, a user).\n";
                return r;
            }
            ReadEvent(&s, &e);
            const std::string cells[] = {
                e.machine, std::to_string(e.line), e.hasTime ? UtcText(e.time) : "",
                e.hasTime ? LocalText(e.time) : "", e.hasCategory ? std::to_string(e.category) : "",
                e.eventClass, e.domain, e.user, e.descriptor, e.property, e.oldType, e.oldValue,
                e.newType, e.newValue, e.message, e.hasSubmitted ? UtcText(e.submitted) : ""};
            for (std::size_t i = 0; i < sizeof cells / sizeof *cells; ++i)
                csv += (i ? "," : "") + CsvCell(cells[i]);
            csv += "\r\n";
        }
        HttpResponse r = Page(200, std::move(csv));
        r.contentType = "text/csv; charset=utf-8";
        r.headers.push_back({"Content-Disposition", "attachment; filename=\"audit-trail.csv\""});
        return r;
    }

    std::string Print(const Filter &f) {
        if (!f.errors.empty()) return Events(f);
        ReadMachines();
        std::string chain;
        for (const auto &entry : status_)
            chain += (chain.empty() ? "" : "; ") + entry.first + " " +
                     std::to_string(entry.second.lines) + " lines, chain " + ChainText(entry.second);
        OdbcStatement s(db_->connection);
        s.Prepare(EventsSql(f, kPrintRows + 1, 0));
        f.where.Bind(&s);
        s.Execute();
        std::string rows;
        long long n = 0;
        Event e;
        while (s.Fetch() && ++n <= kPrintRows) {
            ReadEvent(&s, &e);
            rows += EventRow(e, false);
        }
        // The head repeats on every printed page: what was selected, when it
        // was printed, and the state of each machine's chain.
        const std::string head =
            "<tr class=\"print-head\"><th colspan=\"10\">Audit trail: " + Html(f.Describe()) +
            (n > kPrintRows ? " (the first " + std::to_string(kPrintRows) + " events)" : "") +
            ". Printed " + Html(LocalText(NowUtc())) + " by " + Html(windowsUser_) +
            ". Chains: " + Html(chain.empty() ? "no machine" : chain) + ".</th></tr>";
        std::string table = EventHead();
        table.insert(std::string("<thead>").size(), head);
        const std::string body = "<p class=\"actions\">Print this page with the browser (Ctrl+P) for "
                                 "a PDF copy.</p><table id=\"print\">" + table + "<tbody>" + rows +
                                 "</tbody></table>";
        return Frame("Audit trail copy", "", body);
    }

    // --- reviews ---

    std::string Reviews(const std::string &said) {
        OdbcStatement s(db_->connection);
        s.ExecDirect("SELECT review_id, reviewed_at, db_user, windows_user, period_from, "
                     "period_until, machines, remark, positions FROM audit_reviews "
                     "ORDER BY review_id DESC LIMIT 200");
        std::string rows;
        while (s.Fetch()) {
            long long id = 0;
            std::string dbUser, winUser, machines, remark, positions;
            SQL_TIMESTAMP_STRUCT at{}, from{}, until{};
            s.GetInteger(1, &id);
            const bool hasAt = s.GetTimestamp(2, &at);
            s.GetText(3, &dbUser);
            s.GetText(4, &winUser);
            const bool hasFrom = s.GetTimestamp(5, &from), hasUntil = s.GetTimestamp(6, &until);
            s.GetText(7, &machines);
            s.GetText(8, &remark);
            s.GetText(9, &positions);
            rows += "<tr class=\"review\"><td class=\"num\">" + std::to_string(id) + "</td><td>" +
                    (hasAt ? Html(LocalText(FromTimestamp(at))) : "") + "</td><td class=\"who\">" +
                    Html(dbUser) + " / " + Html(winUser) + "</td><td class=\"period\">" +
                    (hasFrom ? Html(LocalText(FromTimestamp(from))) : "") + " &ndash; " +
                    (hasUntil ? Html(LocalText(FromTimestamp(until))) : "") +
                    "</td><td class=\"machines\">" + Html(machines) + "</td><td class=\"remark\">" +
                    Html(remark) + "</td><td class=\"value\">" + Html(positions) + "</td></tr>";
        }
        const std::string form =
            "<form class=\"filter\" id=\"review\" method=\"post\" action=\"/reviews\">"
            "<input type=\"hidden\" name=\"token\" value=\"" + token_ + "\">"
            "<label>period from (local time)<input name=\"from\" type=\"datetime-local\"></label>"
            "<label>to<input name=\"to\" type=\"datetime-local\"></label>"
            "<label>machines<input name=\"machines\" type=\"text\" placeholder=\"all\"></label>"
            "<label>remark<input name=\"remark\" type=\"text\" size=\"60\"></label>"
            "<button id=\"record\" type=\"submit\">Record the review</button></form>";
        const std::string body = (said.empty() ? "" : "<p class=\"error\">" + Html(said) + "</p>") +
                                 "<p>Record that you reviewed a period. The database stores who "
                                 "(its user and your Windows user), when, and where each machine's "
                                 "trail stood (its last line and that line's hash).</p>" + form +
                                 "<table id=\"reviews\"><thead><tr><th>#</th><th>recorded</th>"
                                 "<th>by (database / Windows)</th><th>period</th><th>machines</th>"
                                 "<th>remark</th><th>trail positions</th></tr></thead><tbody>" +
                                 rows + "</tbody></table>";
        return Frame("Reviews", "/reviews", body);
    }

    HttpResponse Record(const std::map<std::string, std::string> &form) {
        const auto get = [&form](const char *name) {
            const auto f = form.find(name);
            return f == form.end() ? std::string() : f->second;
        };
        if (get("token") != token_) {
            HttpResponse r = Page(403, "");
            r.contentType = "text/plain; charset=utf-8";
            r.body = "403 Forbidden: the form did not come from this page.\n";
            return r;
        }
        UtcTime from, until;
        const bool hasFrom = !get("from").empty(), hasUntil = !get("to").empty();
        if ((hasFrom && !LocalToUtc(get("from"), &from)) || (hasUntil && !LocalToUtc(get("to"), &until)))
            return Page(400, Reviews("The period's times do not read (2026-12-08T10:15)."));
        if (get("remark").empty()) return Page(400, Reviews("Say something in the remark."));

        // Where each machine's trail stands now, in the same transaction.
        std::string positions = "{";
        {
            OdbcStatement s(db_->connection);
            s.ExecDirect("SELECT t.machine, t.line_no, t.line_hash, t.line_sha256 FROM audit_trail t "
                         "JOIN (SELECT machine, max(last_line) AS last FROM audit_trail_shipments "
                         "GROUP BY machine) m ON t.machine = m.machine AND t.line_no = m.last "
                         "ORDER BY t.machine");
            while (s.Fetch()) {
                std::string machine, hash, sha;
                long long line = 0;
                s.GetText(1, &machine);
                s.GetInteger(2, &line);
                s.GetText(3, &hash);
                s.GetText(4, &sha);
                positions += std::string(positions.size() > 1 ? "," : "") + "\"" +
                             JsonEscape(machine) + "\":{\"line\":" + std::to_string(line) +
                             ",\"hash\":\"" + JsonEscape(hash) + "\",\"sha256\":\"" +
                             JsonEscape(sha) + "\"}";
            }
        }
        positions += "}";
        const std::string machines = get("machines").empty() ? "all" : get("machines");
        const std::string remark = get("remark");
        const SQL_TIMESTAMP_STRUCT f = Timestamp(from), u = Timestamp(until);
        OdbcStatement insert(db_->connection);
        insert.Prepare("INSERT INTO audit_reviews (reviewed_at, db_user, windows_user, period_from, "
                       "period_until, machines, remark, positions) VALUES (now(), '', ?, ?, ?, ?, "
                       "?, CAST(? AS jsonb))");
        insert.BindText(1, &windowsUser_);
        insert.BindTimestamp(2, hasFrom ? &f : nullptr);
        insert.BindTimestamp(3, hasUntil ? &u : nullptr);
        insert.BindText(4, &machines);
        insert.BindText(5, &remark);
        insert.BindText(6, &positions);
        insert.Execute();
        db_->connection.Commit();
        HttpResponse r = Page(303, "");
        r.headers.push_back({"Location", "/reviews"});
        return r;
    }

    static std::string JsonEscape(const std::string &text) {
        std::string out;
        for (const char c : text) {
            if (c == '"' || c == '\\') out += '\\';
            if (static_cast<unsigned char>(c) < 0x20) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\u%04x", c);
                out += hex;
            } else {
                out.push_back(c);
            }
        }
        return out;
    }

    const std::string connection_;
    const std::string token_;
    const std::string windowsUser_;
    std::unique_ptr<Database> db_;
    std::map<std::string, MachineStatus> status_;
    bool checking_ = false;  // a round of steps is under way
};

// 128 random bits from the system, as hex.
bool MakeToken(std::string *token) {
    unsigned char bytes[16];
    if (BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) < 0)
        return false;
    static const char kDigits[] = "0123456789abcdef";
    token->clear();
    for (const unsigned char b : bytes) {
        token->push_back(kDigits[b >> 4]);
        token->push_back(kDigits[b & 15]);
    }
    return true;
}

}  // namespace

int Review(const ReviewOptions &o) {
    std::string token;
    if (!MakeToken(&token)) {
        std::fprintf(stderr, "qz45trail: the system gave no random numbers for the page's token\n");
        return kExitFailed;
    }
    Site site(o.connection, token);
    try {
        site.Connect();
    } catch (const OdbcError &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return kExitFailed;
    }
    const bool loopback = o.address == "127.0.0.1" || o.address == "::1";
    return Serve(o.address, o.port,
                 [&site](const HttpRequest &r) { return site.Handle(r); },
                 [&](const std::string &address, unsigned short port) {
                     if (!loopback)
                         std::printf("NOTE: listening on %s, not on this machine's loopback only: "
                                     "anyone who can reach it and has the address below can read "
                                     "the trail\n", address.c_str());
                     const std::string host =
                         address.find(':') != std::string::npos ? "[" + address + "]" : address;
                     std::printf("review page: http://%s:%u/?token=%s\n(Ctrl-C stops it)\n",
                                 host.c_str(), port, token.c_str());
                     std::fflush(stdout);
                 },
                 [&site] { return site.CheckStep(); });
}

}  // namespace qz45trail
