// The review page's overview of a period: the exceptions first, each
// machine's trail and chain, the events per hour or day and category, the
// events per user.
#include <map>

#include "bar_chart.h"
#include "html.h"
#include "page_parts.h"
#include "review_pages.h"
#include "url.h"
#include "utc_time.h"
#include "watch_status.h"

namespace qz45trail {
namespace {

// A list of the events page that an exception panel links to: a category,
// and a property; or the events stored off their time.
struct ExceptionList {
    int category;          // 0 for any
    const char *property;  // "" for any
    const char *label;     // what the link says, "" for the panel's count alone
    bool storedOff = false;
};

struct ExceptionShown {
    const char *id;
    const char *title;
    std::vector<ExceptionList> lists;  // their categories' types are the panel's
};

ExceptionShown Shown(ExceptionKind kind) {
    switch (kind) {
    case ExceptionKind::kRefused: return {"refused", "Refused operations", {{203, "", ""}}};
    case ExceptionKind::kSecurity:
        return {"security", "Security changes (property ACL)", {{301, "ACL", ""}}};
    case ExceptionKind::kDeletions: return {"deletions", "Record deletions", {{202, "", ""}}};
    case ExceptionKind::kSwitches:
        return {"switches", "Audit trail and CFR11 mode switched", {{208, "", ""}}};
    case ExceptionKind::kStartups:
        return {"startups", "Start-ups and shutdowns",
                {{206, "", "the start-ups"}, {207, "", "the shutdowns"}}};
    case ExceptionKind::kStoredOff:
        return {"stored-off", "Stored off their time", {{0, "", "", true}}};
    }
    return {"", "", {}};
}

// A local time as the filter's form gives it: "2026-12-08T10:15:00".
std::string FormTime(const PageContext &context, const UtcTime &t) {
    std::string text = context.timeText(t).substr(0, 19);
    if (text.size() > 10 && text[10] == ' ') text[10] = 'T';
    return text;
}

// The events page of the overview's period and machine, and one list.
std::string ListLink(const PageContext &context, const EventFilter &f, const ExceptionList &l) {
    const auto field = [&f](const char *name) { return f.Get(name); };
    std::string q;
    const auto add = [&q](const char *name, const std::string &value) {
        if (!value.empty()) q += (q.empty() ? "" : "&") + std::string(name) + "=" + UrlEncode(value);
    };
    add("from", f.hasFrom ? (field("from").empty() ? FormTime(context, f.from) : field("from")) : "");
    add("to", f.hasTo ? (field("to").empty() ? FormTime(context, f.to) : field("to")) : "");
    add("machine", f.machine);
    add("category", l.category != 0 ? std::to_string(l.category) : "");
    add("property", l.property);
    add("stored", l.storedOff ? "off" : "");
    return "/?" + q;
}

std::string TypesText(const ExceptionShown &k) {
    if (k.lists.size() == 1 && k.lists[0].storedOff)
        return "Events of any type whose submission was more than " +
               std::to_string(kStoredTolerance) +
               " s after (backdated) or before their event time, as the console's view marks "
               "with !: each row's \"stored\" column shows by how much.";
    std::string types;
    bool several = false;  // types that one category holds
    for (const ExceptionList &l : k.lists) {
        const std::string of = TypesOf(l.category);
        several = several || of.find(',') != std::string::npos;
        types += (types.empty() ? "" : ", ") + of +
                 (*l.property ? std::string(", each on the property ") + l.property : "");
    }
    std::string text = "Types: " + types + ".";
    // The trail keeps an event's category, never its type.
    if (several)
        text += " The trail stores the category of an event, not its type: which of these a "
                "row is, the trail does not tell (its message may).";
    return text;
}

std::string ExceptionSection(const PageContext &context, const EventFilter &f,
                             const ExceptionCount &e) {
    const ExceptionShown k = Shown(e.kind);
    std::string count = "<span class=\"count\">" + std::to_string(e.count) + "</span>";
    if (e.count > 0 && k.lists.size() == 1)
        count = "<a href=\"" + Html(ListLink(context, f, k.lists[0])) +
                "\" class=\"all\" aria-label=\"all " + std::to_string(e.count) + " " +
                Html(k.title) + "\">" + count + "</a>";
    std::string section = std::string("<section id=\"") + k.id + "\"><h2>" + k.title + " " +
                          count + "</h2><p class=\"types\">" + Html(TypesText(k)) + "</p>";
    if (e.count == 0) return section + "</section>";
    std::string rows;
    for (const Event &x : e.latest) rows += EventRow(context, x, true);
    section += "<table>" + EventHead() + "<tbody>" + rows + "</tbody></table><p class=\"lists\">" +
               (e.count > static_cast<long long>(e.latest.size())
                    ? "The latest " + std::to_string(e.latest.size()) + " of " +
                          std::to_string(e.count) + ". "
                    : std::string());
    for (const ExceptionList &l : k.lists)
        section += std::string("<a href=\"") + Html(ListLink(context, f, l)) + "\">" +
                   (*l.label ? l.label : "all of them") + " in the events list</a> ";
    return section + "</p></section>";
}

std::string MachinesTable(const PageContext &context, const std::vector<MachineStatus> &machines,
                          bool chainChecked) {
    std::string rows;
    for (const MachineStatus &st : machines) {
        const bool bad = st.firstBad != 0 || st.unproved || st.missingLines > 0;
        rows += "<tr><td>" + Html(st.machine) + "</td><td class=\"num\">" +
                std::to_string(st.stored) + "</td><td" + (st.silent ? " class=\"bad\">" : ">") +
                Html(st.hasLastShipped ? context.timeText(st.lastShipped) : "never") +
                (st.silent ? " (silent: nothing shipped since)" : "") + "</td><td class=\"" +
                (bad ? "bad" : "ok") + "\">" + Html(ChainText(st, chainChecked, context.timeText)) +
                "</td></tr>";
    }
    return "<table id=\"machines\"><thead><tr><th>machine</th><th>lines stored</th><th>last line "
           "shipped</th><th>chain</th></tr></thead><tbody>" + rows + "</tbody></table>";
}

// Machines that shipped nothing for longer than the page allows: the page
// cannot see lines not shipped yet.
std::string SilentSection(const PageContext &context, const std::vector<MachineStatus> &machines) {
    std::string rows;
    long long count = 0;
    for (const MachineStatus &st : machines) {
        if (!st.silent) continue;
        ++count;
        rows += "<tr><td>" + Html(st.machine) + "</td><td>" +
                Html(st.hasLastShipped ? "last shipped " + context.timeText(st.lastShipped)
                                       : std::string("never shipped")) +
                "</td></tr>";
    }
    return "<section id=\"silent\"><h2>Silent machines <span class=\"count\">" +
           std::to_string(count) + "</span></h2><p class=\"types\">Nothing shipped for longer "
           "than allowed: their newest lines are not in the database.</p>" +
           (count > 0 ? "<table>" + rows + "</table>" : std::string()) + "</section>";
}

// The chart's values as a table, a row per hour or day with events.
std::string ChartTable(const std::vector<std::string> &series,
                       const std::vector<ChartBucket> &buckets, bool hourly) {
    std::string head = std::string("<th scope=\"col\">") + (hourly ? "hour" : "day") +
                       " (local)</th>";
    for (const std::string &name : series) head += "<th scope=\"col\">" + Html(name) + "</th>";
    std::string rows;
    for (const ChartBucket &b : buckets) {
        rows += "<tr><th scope=\"row\">" + Html(b.label) + "</th>";
        for (const long long n : b.counts) rows += "<td class=\"num\">" + std::to_string(n) + "</td>";
        rows += "</tr>";
    }
    return "<table id=\"chart-values\"><caption>The chart's values: events per " +
           std::string(hourly ? "hour" : "day") + " of local time and category</caption><thead><tr>" +
           head + "</tr></thead><tbody>" + rows + "</tbody></table>";
}

// Events per local hour or day, one series per category in the order they
// come: the quarter hours counted add up to the reader's hours and days.
std::string Chart(const PageContext &context, const std::vector<CategoryCount> &counts,
                  bool hourly) {
    std::vector<std::string> series;
    std::map<long long, std::size_t> seriesOf;
    std::vector<ChartBucket> buckets;
    for (const CategoryCount &c : counts) {
        const std::string label =
            context.timeText(c.start).substr(0, hourly ? 13 : 10) + (hourly ? ":00" : "");
        if (buckets.empty() || label != buckets.back().label) buckets.push_back({label, {}});
        if (!seriesOf.count(c.category)) {
            seriesOf[c.category] = series.size();
            series.push_back(std::to_string(c.category) + " " + CategoryName(c.category));
        }
        ChartBucket &b = buckets.back();
        b.counts.resize(series.size(), 0);
        b.counts[seriesOf[c.category]] += c.count;
    }
    for (ChartBucket &b : buckets) b.counts.resize(series.size(), 0);
    const std::string per = hourly ? "hour" : "day";
    return "<h2>Events per " + per + " and category</h2>" +
           (buckets.empty() ? "<p>No events in this period.</p>"
                            : BarChart(series, buckets,
                                       "Events per " + per + " of local time and category") +
                                  ChartTable(series, buckets, hourly));
}

std::string UsersTable(const std::vector<UserCount> &users) {
    std::string rows;
    for (const UserCount &u : users)
        rows += "<tr><td>" + Html(u.domain + "\\" + u.user) + "</td><td class=\"num\">" +
                std::to_string(u.count) + "</td></tr>";
    return "<h2>Events per user</h2><table id=\"users\"><thead><tr><th scope=\"col\">user</th>"
           "<th scope=\"col\">events</th>"
           "</tr></thead><tbody>" + rows + "</tbody></table>";
}

}  // namespace

std::string ChainText(const MachineStatus &st, bool chainChecked, const TimeText &timeText) {
    if (!chainChecked) return "not checked here (PostgreSQL only): qz45trail verify --odbc";
    if (!st.checked)
        return st.failure.empty() ? "checking: not checked yet"
                                  : "not checked: " + st.failure + " (checking again)";
    std::string text;
    if (st.firstBad != 0)
        text = "first bad line " + std::to_string(st.firstBad) + " (" + st.problem + "), ";
    else if (st.unproved)
        text = "not proved: " + st.problem + ", ";
    else
        text = "intact, ";
    text += LinesText(st) + ", checked " + ClockOf(timeText(st.checkedAt));
    if (st.lines > st.lastLine)
        text += "; line" + std::string(st.lines > st.lastLine + 1 ? "s " : " ") +
                std::to_string(st.lastLine + 1) +
                (st.lines > st.lastLine + 1 ? "\xE2\x80\x93" + std::to_string(st.lines) : "") +
                " shipped since, checking";
    return text;
}

bool ChartByHour(const EventFilter &f) {
    return f.hasFrom && f.hasTo && SecondsBetween(f.from, f.to) <= 3 * 86400;
}

std::string OverviewPage(const PageContext &context, const EventFilter &f,
                         const std::vector<std::string> &machineNames, const Overview &overview,
                         const std::vector<MachineStatus> &machines, bool chainChecked) {
    std::string body = FilterForm(f, "/overview", false, machineNames);
    if (!f.errors.empty()) return Frame(context, "Overview", "/overview", body);
    body += "<p>" + Html(f.hasFrom ? context.timeText(f.from) : "the beginning") + " to " +
            Html(f.hasTo ? context.timeText(f.to) : "now") + "</p>";
    body += "<h2>Exceptions first</h2><div class=\"kinds\" id=\"exceptions\">";
    for (const ExceptionCount &e : overview.exceptions) body += ExceptionSection(context, f, e);
    if (chainChecked) body += SilentSection(context, machines);
    body += "</div><h2>Each machine's trail</h2>" + MachinesTable(context, machines, chainChecked);
    body += Chart(context, overview.chart, ChartByHour(f));
    body += UsersTable(overview.users);
    return Frame(context, "Overview", "/overview", body);
}

}  // namespace qz45trail
