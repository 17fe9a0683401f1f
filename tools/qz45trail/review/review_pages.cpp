// The review page's pages of events (a filter's, a record's history, the
// printable copy, the CSV copy), its reviews, and the frame around them all.
#include "review_pages.h"

#include <algorithm>
#include <utility>

#include "csv.h"
#include "html.h"
#include "page_parts.h"
#include "review_record.h"
#include "url.h"

namespace qz45trail {

std::string Frame(const PageContext &context, const std::string &title, const char *here,
                  const std::string &content) {
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
           "href=\"/style.css\"></head><body><a class=\"skip\" href=\"#main\">Skip to the "
           "content</a><header><nav aria-label=\"pages\">" + nav + "</nav><span class=\"who\">" +
           Html(context.reader) + " &middot; read-only</span>" +
           (context.zone.empty()
                ? ""
                : "<span class=\"zone\">times in " + Html(context.zone) + "</span>") +
           "</header><main id=\"main\" tabindex=\"-1\"><h1>" + Html(title) + "</h1>" + content +
           "</main></body></html>";
}

std::string NotFoundPage(const PageContext &context) {
    return Frame(context, "Not here", "", "<p>There is no such page.</p>");
}

std::string DatabaseErrorPage(const PageContext &context, const std::string &message) {
    return Frame(context, "The database", "", "<p class=\"error\">" + Html(message) + "</p>");
}

std::string Thousands(long long n) {
    std::string digits = std::to_string(n < 0 ? -n : n), text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return (n < 0 ? "-" : "") + text;
}

namespace {

SeekKey KeyOf(const Event &e) {
    SeekKey key;
    key.given = true;
    // Pages follow the stored order (an event read back from the database
    // says what its time column holds; one made elsewhere has only its time).
    key.hasTime = e.hasStoredTime || e.hasTime;
    key.time = e.hasStoredTime ? e.storedTime : e.time;
    key.machine = e.machine;
    key.line = e.line;
    return key;
}

// Links to the pages of `path` and its query `q` before and after this one
// (`given`, from 1), each from the row next to it; `bottom` tells the ones
// below the rows (their ids unsuffixed) from the ones above.
std::string PageLinks(const std::string &path, const std::string &q, long long given,
                      long long perPage, const EventsPageRows &rows, bool bottom) {
    const std::string base = path + "?" + q + (q.empty() ? "" : "&");
    const long long page = std::max(1LL, given);
    const std::string suffix = bottom ? "" : "-top";
    const long long pageCount = std::max(1LL, (rows.total + perPage - 1) / perPage);
    std::string pages = std::string("<nav class=\"pages\" aria-label=\"pages") +
                        (bottom ? ", below" : ", above") + "\">";
    if (page > 1 && !rows.events.empty()) {
        const std::string back =
            page == 2 ? path + "?" + q
                      : base + "page=" + std::to_string(page - 1) +
                            "&before=" + UrlEncode(SeekKeyText(KeyOf(rows.events.front())));
        pages += "<a id=\"newer" + suffix + "\" href=\"" + Html(back) +
                 "\">&larr; previous page</a>";
    }
    if (rows.events.empty()) {
        pages += "<span>no events</span>";
    } else {
        const long long first = (page - 1) * perPage + 1;
        const long long last = first + static_cast<long long>(rows.events.size()) - 1;
        // Counted up to kCountedRows; beyond, the last page knows its total.
        std::string of;
        if (rows.total >= 0 && rows.total <= kCountedRows)
            of = " of " + Thousands(rows.total) + ", page " + std::to_string(page) + " of " +
                 std::to_string(pageCount);
        else if (rows.total >= 0 && !rows.more)
            of = " of " + Thousands(last) + ", page " + std::to_string(page) + " of " +
                 std::to_string(page);
        else if (rows.total >= 0)
            of = " of more than " + Thousands(std::max(kCountedRows, last)) + ", page " +
                 std::to_string(page);
        else
            of = ", page " + std::to_string(page);
        pages += "<span class=\"rows\">rows " + Thousands(first) + "&ndash;" + Thousands(last) +
                 of + "</span>";
    }
    if (rows.more)
        pages += "<a id=\"older" + suffix + "\" href=\"" +
                 Html(base + "page=" + std::to_string(page + 1) +
                      "&after=" + UrlEncode(SeekKeyText(KeyOf(rows.events.back())))) +
                 "\">next page &rarr;</a>";
    return pages + "</nav>";
}

}  // namespace

std::string EventsPage(const PageContext &context, const EventFilter &f,
                       const std::vector<std::string> &machines, const std::vector<Event> &events) {
    EventsPageRows rows;
    const std::size_t shown = std::min<std::size_t>(events.size(), kPageRows);
    rows.events.assign(events.begin(), events.begin() + static_cast<std::ptrdiff_t>(shown));
    rows.more = events.size() > shown;
    return CountedEventsPage(context, f, machines, rows);
}

std::string CountedEventsPage(const PageContext &context, const EventFilter &f,
                              const std::vector<std::string> &machines,
                              const EventsPageRows &page) {
    std::string body = FilterForm(f, "/", true, machines);
    const std::string q = f.Query();
    body += "<p class=\"actions\">" + Html(f.Describe()) + ":<a id=\"csv\" href=\"/export.csv?" +
            Html(q) + "\">CSV</a><a id=\"print\" href=\"/print?" + Html(q) +
            "\">Print (PDF copy)</a></p>";
    if (!f.errors.empty()) return Frame(context, "Events", "/", body);
    std::string rows;
    for (const Event &e : page.events) rows += EventRow(context, e, true);
    body += PageLinks("/", q, f.page, kPageRows, page, false);
    body += "<table id=\"events\">" + EventHead() + "<tbody>" + rows + "</tbody></table>";
    body += PageLinks("/", q, f.page, kPageRows, page, true);
    return Frame(context, "Events", "/", body);
}

namespace {

std::string HistoryRow(const PageContext &context, const Event &e, const std::string &only) {
    return "<tr class=\"event\">" +
           (e.hasTime ? TimeCell(context, e.time) : std::string("<td class=\"time\"></td>")) +
           ValueCell(context, e) + "<td class=\"user\">" + Html(Who(e)) +
           "</td><td class=\"category\">" + std::to_string(e.category) + " " +
           Html(CategoryName(e.category)) + "</td><td class=\"property\">" + Html(e.property) +
           "</td><td class=\"message\">" + Html(e.message) + "</td><td class=\"machine\">" +
           Html(e.machine) + " " + std::to_string(e.line) + "</td>" + SubmittedCell(context, e) +
           "<td class=\"only\">" + only + "</td></tr>";
}

}  // namespace

std::string HistoryPage(const PageContext &context, const HistoryQuery &q,
                        const EventsPageRows &page) {
    const std::string title = "History of " + q.descriptor +
                              (q.property.empty() ? "" : " " + q.property) +
                              (q.machine.empty() ? "" : " on " + q.machine);
    if (!q.errors.empty()) {
        std::string errors;
        for (const std::string &e : q.errors) errors += "<p class=\"error\">" + Html(e) + "</p>";
        return Frame(context, title, "", errors);
    }
    const std::string record = "descriptor=" + UrlEncode(q.descriptor) +
                               (q.property.empty() ? "" : "&property=" + UrlEncode(q.property));
    std::string rows;
    for (const Event &e : page.events) {
        const std::string only =
            q.machine.empty()
                ? "<a href=\"" + Html("/history?machine=" + UrlEncode(e.machine) + "&" + record) +
                      "\">only " + Html(e.machine) + "</a>"
                : "";
        rows += HistoryRow(context, e, only);
    }
    const std::string scope =
        q.machine.empty() ? "<p class=\"scope\">On every machine.</p>"
                          : "<p class=\"scope\">On " + Html(q.machine) +
                                " only: <a id=\"every-machine\" href=\"" +
                                Html("/history?" + record) + "\">on every machine</a>.</p>";
    const std::string body =
        "<p>Every event on this record" + std::string(q.property.empty() ? "" : " and property") +
        ", oldest first.</p>" + scope +
        PageLinks("/history", q.Query(), q.page, kHistoryRows, page, false) +
        "<table id=\"history\"><thead><tr><th scope=\"col\">time</th><th scope=\"col\">old "
        "&rarr; new</th><th scope=\"col\">who</th><th scope=\"col\">category</th><th "
        "scope=\"col\">property</th><th scope=\"col\">why (message)</th><th scope=\"col\">"
        "machine, line</th><th scope=\"col\">stored</th><th scope=\"col\">machine only</th>"
        "</tr></thead><tbody>" +
        rows + "</tbody></table>" +
        PageLinks("/history", q.Query(), q.page, kHistoryRows, page, true);
    return Frame(context, title, "", body);
}

namespace {

// The period of a filter as printed: its ends with their zone.
std::string PrintedPeriod(const PageContext &context, const EventFilter &f) {
    if (!f.hasFrom && !f.hasTo) return "";
    return " Period (local time, with its offset from UTC): " +
           (f.hasFrom ? context.timeText(f.from) : std::string("the beginning")) + " to " +
           (f.hasTo ? context.timeText(f.to) + " (not included)" : std::string("now")) + ".";
}

}  // namespace

std::string PrintPage(const PageContext &context, const EventFilter &f,
                      const std::vector<MachineStatus> &machines, bool chainChecked,
                      const std::vector<Event> &events, const UtcTime &printedAt) {
    std::string chain;
    for (const MachineStatus &m : machines)
        chain += (chain.empty() ? "" : "; ") + m.machine + " " + std::to_string(m.stored) +
                 " lines stored, chain " + ChainText(m, chainChecked, context.timeText) +
                 (m.silent ? ", silent" : "");
    std::string rows;
    const std::size_t shown = std::min<std::size_t>(events.size(), kPrintRows);
    for (std::size_t i = 0; i < shown; ++i) rows += EventRow(context, events[i], false);
    // The head repeats on every printed page.
    const std::string head =
        "<tr class=\"print-head\"><th colspan=\"11\">Audit trail: " + Html(f.Describe()) +
        (events.size() > shown ? " (the first " + std::to_string(kPrintRows) + " events)" : "") +
        ". Printed " + Html(context.timeText(printedAt)) + " by " + Html(context.reader) +
        ". Chains: " + Html(chain.empty() ? "no machine" : chain) + "." +
        Html(PrintedPeriod(context, f)) + "</th></tr>";
    std::string table = EventHead();
    table.insert(std::string("<thead>").size(), head);
    // Where the browser numbers pages (style.css), every page says "page N
    // of M"; the end says how many rows there are in any case.
    const std::string body = "<p class=\"actions\">Print this page with the browser (Ctrl+P) for "
                             "a PDF copy.</p><table id=\"print\">" + table + "<tbody>" + rows +
                             "</tbody></table><p id=\"end\">End of copy: " +
                             std::to_string(shown) + (shown == 1 ? " row" : " rows") +
                             (events.size() > shown ? ", more events not printed" : "") + ".</p>";
    return Frame(context, "Audit trail copy", "", body);
}

std::string CsvBody(const std::vector<Event> &events, const TimeText &timeText) {
    std::string csv = "\xEF\xBB\xBF";  // UTF-8, said so for spreadsheet programs
    csv += "machine,line,event_time_utc,event_time_local,category,event_class,domain,user,"
           "descriptor,property,old_type,old_value,new_type,new_value,message,submitted_utc\r\n";
    for (const Event &e : events) {
        csv += CsvRecord({e.machine, std::to_string(e.line), e.hasTime ? UtcText(e.time) : "",
                          e.hasTime ? timeText(e.time) : "",
                          e.hasCategory ? std::to_string(e.category) : "", e.eventClass, e.domain,
                          e.user, e.descriptor, e.property, e.oldType, e.oldValue, e.newType,
                          e.newValue, e.message, e.hasSubmitted ? UtcText(e.submitted) : ""});
    }
    return csv;
}

namespace {

// Where the trails stood: "review-a line 9, hash 3f2a9c01d4e5…" per machine;
// a text that is not such JSON as it is.
std::string PositionsText(const std::string &json) {
    bool read = false;
    const std::vector<TrailPosition> positions = PositionsOf(json, &read);
    if (!read) return Html(json);
    if (positions.empty()) return "no machine had shipped";
    std::string text;
    for (const TrailPosition &p : positions)
        text += "<span class=\"position\">" + Html(p.machine) + " line " +
                std::to_string(p.line) + ", hash " + Html(p.hash.substr(0, 12)) +
                (p.hash.size() > 12 ? "&hellip;" : "") + "</span>";
    return text;
}

std::string PeriodText(const PageContext &context, const StoredReview &r) {
    // A time is not split at its dashes.
    const auto time = [&context](const UtcTime &t) {
        return "<span class=\"t\">" + Html(context.timeText(t)) + "</span>";
    };
    return (r.hasFrom ? time(r.from) : "") + " &ndash; " + (r.hasUntil ? time(r.until) : "");
}

std::string MeaningText(const StoredReview &r) {
    return r.meaning.empty() ? "(not said)" : Html(r.meaning);
}

std::string ReviewRow(const PageContext &context, const StoredReview &r) {
    return "<tr class=\"review\"><td class=\"num\">" + std::to_string(r.id) + "</td><td>" +
           (r.hasAt ? Html(context.timeText(r.at)) : "") + "</td><td class=\"who\">" +
           Html(r.dbUser) + " / " + Html(r.windowsUser) + "</td><td class=\"period\">" +
           PeriodText(context, r) + "</td><td class=\"machines\">" + Html(r.machines) +
           "</td><td class=\"meaning\">" + MeaningText(r) + "</td><td class=\"remark\">" +
           Html(r.remark) + "</td><td class=\"positions\">" + PositionsText(r.positions) +
           "<details><summary>as stored</summary><code class=\"value\">" + Html(r.positions) +
           "</code></details></td></tr>";
}

// What the database stored of the review just recorded, said back.
std::string Confirmation(const PageContext &context, const ReviewsView &view) {
    for (const StoredReview &r : view.reviews) {
        if (r.id != view.recorded) continue;
        return "<div class=\"confirm\" id=\"recorded\" role=\"status\"><p>Review " +
               std::to_string(r.id) + " recorded" +
               (r.hasAt ? " at " + Html(context.timeText(r.at)) : "") + " by " + Html(r.dbUser) +
               " / " + Html(r.windowsUser) + ": <strong>" + MeaningText(r) +
               "</strong>.</p><p>Period " + PeriodText(context, r) + "; machines " +
               Html(r.machines) + "; remark &ldquo;" + Html(r.remark) +
               "&rdquo;.</p><p>Trail positions: " + PositionsText(r.positions) + "</p></div>";
    }
    return "";
}

std::string ReviewForm(const ReviewsView &view) {
    const auto given = [&view](const char *name) { return Html(FormField(view.given, name)); };
    std::string meanings;
    for (const char *meaning : kReviewMeanings)
        meanings += std::string("<label class=\"choice\"><input type=\"radio\" name=\"meaning\" "
                                "required value=\"") + meaning + "\"" +
                    (FormField(view.given, "meaning") == meaning ? " checked" : "") + ">" +
                    meaning + "</label>";
    std::string known;
    for (const std::string &m : view.machines) known += (known.empty() ? "" : ", ") + m;
    return "<form class=\"filter\" id=\"review\" method=\"post\" action=\"/reviews\">"
           "<input type=\"hidden\" name=\"token\" value=\"" + Html(view.token) + "\">"
           "<label>period from (local time)<input name=\"from\" type=\"datetime-local\" value=\"" +
           given("from") + "\"></label><label>to<input name=\"to\" type=\"datetime-local\" "
           "value=\"" + given("to") + "\"></label><label>machines (" +
           Html(known.empty() ? "none shipped yet" : known) + ")<input name=\"machines\" "
           "type=\"text\" placeholder=\"all\" value=\"" + given("machines") + "\"></label>"
           "<fieldset><legend>the review found</legend>" + meanings + "</fieldset>"
           "<label>remark<input name=\"remark\" type=\"text\" size=\"60\" value=\"" +
           given("remark") + "\"></label>"
           "<button id=\"record\" type=\"submit\">Record the review</button></form>";
}

}  // namespace

std::string ReviewsPage(const PageContext &context, const ReviewsView &view) {
    std::string rows;
    for (const StoredReview &r : view.reviews) rows += ReviewRow(context, r);
    const std::string body =
        (view.said.empty() ? "" : "<p class=\"error\">" + Html(view.said) + "</p>") +
        Confirmation(context, view) +
        "<p>Record that you reviewed a period. The database stores who (its user and your "
        "Windows user), when, what you found, and where each machine's trail stood (its last "
        "line and that line's hash). A review cannot be changed once recorded.</p>" +
        ReviewForm(view) +
        "<table id=\"reviews\"><thead><tr><th scope=\"col\">#</th><th scope=\"col\">recorded"
        "</th><th scope=\"col\">by (database / Windows)</th><th scope=\"col\">period</th>"
        "<th scope=\"col\">machines</th><th scope=\"col\">found</th><th scope=\"col\">remark"
        "</th><th scope=\"col\">trail positions</th></tr></thead><tbody>" + rows +
        "</tbody></table>";
    return Frame(context, "Reviews", "/reviews", body);
}

}  // namespace qz45trail
