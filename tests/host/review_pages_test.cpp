// The review page's pages from plain values: what the browser finds in them
// (ids, one row per event, paging links), and text from the trail or the
// reader that stays text (escaped in HTML, encoded in links' query strings).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "review_filter.h"
#include "review_pages.h"
#include "review_record.h"
#include "url.h"
#include "utc_time.h"

using namespace qz45trail;

namespace {

const char kMarkup[] = "<script>alert(\"x\")</script> & 'q'";
const char kMarkupShown[] = "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt; &amp; &#39;q&#39;";

UtcTime Utc(const char *text) {
    UtcTime t;
    EXPECT_TRUE(ParseUtc(text, &t)) << text;
    return t;
}

PageContext Context() {
    return {"PLANT\\<b>r&d", [](const UtcTime &t) { return "local " + UtcText(t); }};
}

EventFilter Filter(const char *query) {
    return ReadFilter(query, [](const std::string &, UtcTime *) { return false; });
}

Event MakeEvent(long long line) {
    Event e;
    e.machine = "m1";
    e.line = line;
    e.hasTime = true;
    e.time = Utc("2026-01-01T08:00:00Z");
    e.hasCategory = true;
    e.category = 203;
    e.domain = "PLANT";
    e.user = "op2";
    e.descriptor = "FIC101";
    e.property = "SP";
    e.oldType = "VT_R8";
    e.oldValue = "1";
    e.newType = "VT_R8";
    e.newValue = "2";
    e.message = "raised";
    return e;
}

std::vector<Event> Events(long long n) {
    std::vector<Event> events;
    for (long long i = 1; i <= n; ++i) events.push_back(MakeEvent(i));
    return events;
}

// A record's one page of history.
std::string History(const std::string &machine, const std::string &descriptor,
                    const std::string &property, const std::vector<Event> &events) {
    HistoryQuery q;
    q.machine = machine;
    q.descriptor = descriptor;
    q.property = property;
    EventsPageRows page;
    page.events = events;
    page.total = static_cast<long long>(events.size());
    return HistoryPage(Context(), q, page);
}

std::size_t Count(const std::string &text, const std::string &part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

bool Has(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

TEST(ReviewPages, EventsPageHasWhatTheBrowserLooksFor) {
    const std::string page = EventsPage(Context(), Filter("machine=m1"), {"m1", "m2"}, Events(3));
    for (const char *id : {"id=\"filter\"", "id=\"show\"", "id=\"events\"", "id=\"csv\"",
                           "id=\"print\"", "name=\"user\"", "<option selected value=\"m1\">"})
        EXPECT_TRUE(Has(page, id)) << id;
    EXPECT_EQ(Count(page, "<tr class=\"event\">"), 3u);
    EXPECT_TRUE(Has(page, "<td class=\"time\" title=\"2026-01-01T08:00:00.000Z UTC\">local "
                          "2026-01-01T08:00:00.000Z</td>"));
    EXPECT_TRUE(Has(page, "<td class=\"value\">R8 1 \xE2\x86\x92 R8 2</td>"));
    EXPECT_TRUE(Has(page, "<td class=\"user\">PLANT\\op2</td>"));
    EXPECT_TRUE(Has(page, "<span class=\"who\">PLANT\\&lt;b&gt;r&amp;d &middot; read-only</span>"));
}

TEST(ReviewPages, PagesOfAHundredEventsLinkToTheOnesBeforeAndAfter) {
    struct Case {
        const char *query;
        long long events;  // as the query returned them: one more than a page when there are more
        std::size_t rows;
        const char *newer, *older;  // the links' targets, "" when none
        bool none;
    };
    const Case cases[] = {
        // Each link continues from the row next to it: the last shown (line
        // 100 of m1 at 08:00 UTC) or the first; the first page is the filter.
        {"user=op2", kPageRows + 1, kPageRows, "",
         "/?user=op2&amp;page=2&amp;after=2026-01-01T08%3A00%3A00.000Z%2C100%2Cm1", false},
        {"user=op2&page=3", kPageRows + 1, kPageRows,
         "/?user=op2&amp;page=2&amp;before=2026-01-01T08%3A00%3A00.000Z%2C1%2Cm1",
         "/?user=op2&amp;page=4&amp;after=2026-01-01T08%3A00%3A00.000Z%2C100%2Cm1", false},
        {"page=2", 5, 5, "/?", "", false},
        {"page=1", 5, 5, "", "", false},
        {"text=a%26b", 0, 0, "", "", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query);
        const std::string page = EventsPage(Context(), Filter(c.query), {}, Events(c.events));
        EXPECT_EQ(Count(page, "<tr class=\"event\">"), c.rows);
        EXPECT_EQ(Has(page, "id=\"newer\""), *c.newer != '\0');
        if (*c.newer) EXPECT_TRUE(Has(page, std::string("id=\"newer\" href=\"") + c.newer + "\""));
        EXPECT_EQ(Has(page, "id=\"older\""), *c.older != '\0');
        if (*c.older) EXPECT_TRUE(Has(page, std::string("id=\"older\" href=\"") + c.older + "\""));
        EXPECT_EQ(Has(page, "<span>no events</span>"), c.none);
    }
}

TEST(ReviewPages, PagesSayWhichRowsOfHowManyAboveAndBelowThem) {
    struct Case {
        const char *query;
        long long shown, total;
        bool more;
        const char *says;
    };
    const Case cases[] = {
        {"", kPageRows, 2171, true, "rows 1&ndash;100 of 2,171, page 1 of 22"},
        {"page=2&after=2026-01-01T08:00:00Z,100,m1", kPageRows, 2171, true,
         "rows 101&ndash;200 of 2,171, page 2 of 22"},
        {"page=22&after=2026-01-01T08:00:00Z,100,m1", 71, 2171, false,
         "rows 2,101&ndash;2,171 of 2,171, page 22 of 22"},
        {"", 3, -1, false, "rows 1&ndash;3, page 1"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query);
        EventsPageRows rows;
        rows.events = Events(c.shown);
        rows.total = c.total;
        rows.more = c.more;
        const std::string page = CountedEventsPage(Context(), Filter(c.query), {}, rows);
        EXPECT_EQ(Count(page, std::string("<span class=\"rows\">") + c.says + "</span>"), 2u);
        EXPECT_EQ(Has(page, "id=\"older-top\""), c.more);
        EXPECT_EQ(Has(page, "id=\"older\""), c.more);
        EXPECT_EQ(Has(page, "id=\"newer-top\""), Filter(c.query).page > 1);
        // The links above come before the table, the ones below after it.
        EXPECT_LT(page.find("aria-label=\"pages, above\""), page.find("id=\"events\""));
        EXPECT_GT(page.find("aria-label=\"pages, below\""), page.find("id=\"events\""));
    }
    EXPECT_EQ(Thousands(0) + " " + Thousands(999) + " " + Thousands(1000) + " " +
                  Thousands(1234567),
              "0 999 1,000 1,234,567");
}

TEST(ReviewPages, ValuesAndStoredTimesAsTheConsoleShowsThem) {
    struct Case {
        const char *oldType, *oldValue, *newType, *newValue;
        const char *shown;
    };
    const Case cases[] = {
        {"VT_R4", "0.10000000149011612", "VT_R4", "0.25", "R4 0.1 \xE2\x86\x92 R4 0.25"},
        {"VT_R8", "45.0", "VT_R8", "40", "R8 45 \xE2\x86\x92 R8 40"},
        {"VT_R8", "0.1", "VT_R8", "1e+300", "R8 0.1 \xE2\x86\x92 R8 1e+300"},
        {"VT_I4", "45", "VT_BSTR", "a b", "I4 45 \xE2\x86\x92 &quot;a b&quot;"},
        {"", "", "VT_R8", "not a number", "R8 not a number"},
    };
    for (const Case &c : cases) {
        Event e = MakeEvent(1);
        e.oldType = c.oldType;
        e.oldValue = c.oldValue;
        e.newType = c.newType;
        e.newValue = c.newValue;
        const std::string page = EventsPage(Context(), Filter(""), {}, std::vector<Event>{e});
        EXPECT_TRUE(Has(page, std::string("<td class=\"value\">") + c.shown + "</td>"))
            << c.shown;
    }
    // Stored 300 s after its time is within the console's tolerance; 301 s
    // either way is flagged.
    const std::pair<const char *, const char *> stored[] = {
        {"2026-01-01T08:05:00Z",
         "<td class=\"submitted\" title=\"2026-01-01T08:05:00.000Z UTC, 300 s after its event "
         "time\">local 2026-01-01T08:05:00.000Z</td>"},
        {"2026-01-01T08:05:01Z",
         "<td class=\"submitted off\" title=\"2026-01-01T08:05:01.000Z UTC, 301 s after its event "
         "time (more than 300 s)\">local 2026-01-01T08:05:01.000Z <b class=\"flag\">!</b></td>"},
        {"2026-01-01T07:54:59Z", "301 s before its event time (more than 300 s)"},
    };
    for (const auto &s : stored) {
        Event e = MakeEvent(1);
        e.hasSubmitted = true;
        e.submitted = Utc(s.first);
        EXPECT_TRUE(Has(EventsPage(Context(), Filter(""), {}, std::vector<Event>{e}), s.second))
            << s.first;
    }
    EXPECT_TRUE(Has(EventsPage(Context(), Filter(""), {}, Events(1)),
                    "<td class=\"submitted\"></td>"));
    // A history change says when the value it changed was sampled.
    Event sampled = MakeEvent(1);
    sampled.hasSample = true;
    sampled.sample = Utc("2026-01-01T07:59:00Z");
    EXPECT_TRUE(Has(History("", "FIC101", "SP", {sampled}),
                    "<td class=\"value\">R8 1 \xE2\x86\x92 R8 2<span class=\"sample\" title=\""
                    "2026-01-01T07:59:00.000Z UTC\"> (sample of local 2026-01-01T07:59:00.000Z)"
                    "</span></td>"));
}

TEST(ReviewPages, HistorySpansEveryMachineUnlessOneIsAskedFor) {
    std::vector<Event> events = Events(2);
    events[1].machine = "m2";
    const std::string every = History("", "FIC101", "SP", events);
    EXPECT_TRUE(Has(every, "<p class=\"scope\">On every machine.</p>"));
    EXPECT_TRUE(Has(every, "<td class=\"machine\">m1 1</td>"));
    EXPECT_TRUE(Has(every, "<td class=\"machine\">m2 2</td>"));
    EXPECT_TRUE(Has(every, "<a href=\"/history?machine=m2&amp;descriptor=FIC101&amp;property=SP\">"
                           "only m2</a>"));
    const std::string one = History("m2", "FIC101", "SP", {events[1]});
    EXPECT_TRUE(Has(one, "<a id=\"every-machine\" href=\"/history?descriptor=FIC101&amp;"
                         "property=SP\">"));
    EXPECT_FALSE(Has(one, "only m2"));
}

TEST(ReviewPages, TheHeaderNamesTheZoneOfItsTimes) {
    PageContext context = Context();
    EXPECT_FALSE(Has(NotFoundPage(context), "times in"));
    context.zone = "W. Europe Standard Time, UTC+01:00";
    EXPECT_TRUE(Has(NotFoundPage(context),
                    "<span class=\"zone\">times in W. Europe Standard Time, UTC+01:00</span>"));
}

TEST(ReviewPages, TextFromTheTrailStaysText) {
    Event e = MakeEvent(1);
    e.machine = e.domain = e.user = e.descriptor = e.property = e.message = e.eventClass = kMarkup;
    e.oldType.clear();
    e.newType = "VT_BSTR";
    e.newValue = kMarkup;
    const std::string page =
        EventsPage(Context(), Filter("text=%3Cscript%3E"), {kMarkup}, std::vector<Event>{e});
    EXPECT_FALSE(Has(page, "<script")) << page;
    EXPECT_FALSE(Has(page, "'q'"));
    EXPECT_TRUE(Has(page, std::string("<td class=\"message\">") + kMarkupShown + "</td>"));
    EXPECT_TRUE(Has(page, std::string("<td class=\"machine\">") + kMarkupShown + "</td>"));
    EXPECT_TRUE(Has(page, std::string("<option value=\"") + kMarkupShown + "\">"));
    // The history link's query string is URL-encoded, then the whole of it
    // escaped as an attribute.
    const std::string encoded =
        "%3Cscript%3Ealert%28%22x%22%29%3C%2Fscript%3E%20%26%20%27q%27";
    EXPECT_TRUE(Has(page, "<a href=\"/history?descriptor=" + encoded + "&amp;property=" +
                              encoded + "\">" + kMarkupShown + "</a>"));
    EXPECT_TRUE(Has(page, "href=\"/export.csv?text=%3Cscript%3E\""));
    EXPECT_TRUE(Has(page, "value=\"&lt;script&gt;\""));  // the field as typed, in the form
    // A filter's error quotes what was typed.
    const std::string wrong = EventsPage(Context(), Filter("category=%3Cscript%3E"), {}, {});
    EXPECT_FALSE(Has(wrong, "<script"));
    EXPECT_FALSE(Has(wrong, "id=\"events\""));
    EXPECT_TRUE(Has(wrong, "<p class=\"error\">category: &quot;&lt;script&gt;&quot; is not a "
                           "number</p>"));
}

TEST(ReviewPages, HistoryOfARecordIsPagedOldestFirst) {
    const std::string few = History("m1", "FIC<101>", "SP", Events(2));
    EXPECT_TRUE(Has(few, "<h1>History of FIC&lt;101&gt; SP on m1</h1>"));
    EXPECT_TRUE(Has(few, "id=\"history\""));
    EXPECT_EQ(Count(few, "<tr class=\"event\">"), 2u);
    EXPECT_EQ(Count(few, "rows 1&ndash;2 of 2, page 1 of 1"), 2u) << "above and below";
    EXPECT_FALSE(Has(few, "next page"));
    // The second page of three, as its link asks for it.
    HistoryQuery q = ReadHistoryQuery(ParseForm(
        "descriptor=FIC101&page=2&after=" + UrlEncode("2026-01-01T08:00:00.000Z,3,m1")));
    EventsPageRows page;
    page.events = Events(kHistoryRows);
    page.more = true;
    page.total = 2 * kHistoryRows + 1;
    const std::string second = HistoryPage(Context(), q, page);
    EXPECT_TRUE(Has(second, "<h1>History of FIC101</h1>"));
    EXPECT_EQ(Count(second, "<tr class=\"event\">"), static_cast<std::size_t>(kHistoryRows));
    EXPECT_TRUE(Has(second, "rows 501&ndash;1,000 of 1,001, page 2 of 3"));
    EXPECT_TRUE(Has(second, "<a id=\"newer-top\" href=\"/history?descriptor=FIC101\">"))
        << "the first page is the record's own address";
    EXPECT_TRUE(Has(second, "<a id=\"older\" href=\"/history?descriptor=FIC101&amp;page=3&amp;"
                            "after="));
    // Counted up to kCountedRows: beyond it, "more than", and the last page
    // knows its total.
    q.page = 30;
    page.total = kCountedRows + 1;
    EXPECT_TRUE(Has(HistoryPage(Context(), q, page),
                    "rows 14,501&ndash;15,000 of more than 15,000, page 30<"));
    page.more = false;
    EXPECT_TRUE(Has(HistoryPage(Context(), q, page), "rows 14,501&ndash;15,000 of 15,000, page 30 of 30<"));
    q.page = 2;
    page.more = true;
    EXPECT_TRUE(Has(HistoryPage(Context(), q, page), "rows 501&ndash;1,000 of more than 10,000, page 2<"));
    // A row that does not read is said, and nothing read.
    const HistoryQuery bad = ReadHistoryQuery(ParseForm("descriptor=FIC101&after=x"));
    EXPECT_TRUE(Has(HistoryPage(Context(), bad, {}),
                    "<p class=\"error\">after: &quot;x&quot; is not a row of this page</p>"));
}

// What the page says of a chain names the check it comes from: its lines,
// its gaps, and when it finished.
TEST(ReviewPages, ChainTextSaysWhatTheLastCheckFoundAndWhen) {
    struct Case {
        long long lines, stored, lastLine, firstBad;
        std::vector<LineSpan> missing;
        bool checked, chainChecked;
        const char *problem, *failure, *text;
    };
    const Case cases[] = {
        {9, 9, 9, 0, {}, true, true, "", "", "intact, lines 1\u20139, checked 08:00:00"},
        {1, 1, 1, 0, {}, true, true, "", "", "intact, line 1, checked 08:00:00"},
        {12, 9, 9, 0, {}, true, true, "", "",
         "intact, lines 1\u20139, checked 08:00:00; lines 10\u201312 shipped since, checking"},
        {138, 137, 138, 138, {{138, 138}}, true, true, "line 138 shipped but not in the database",
         "",
         "first bad line 138 (line 138 shipped but not in the database), lines 1\u2013138: 137 "
         "stored, line 138 missing, checked 08:00:00"},
        {9, 6, 9, 3, {{3, 4}, {9, 9}}, true, true, "lines 3-4 missing", "",
         "first bad line 3 (lines 3-4 missing), lines 1\u20139: 6 stored, lines 3\u20134, line 9 "
         "missing, checked 08:00:00"},
        {9, 0, 0, 0, {}, false, true, "", "", "checking: not checked yet"},
        {4, 4, 4, -1, {}, true, true, "2 line(s) without chain members before the chain", "",
         "not proved: 2 line(s) without chain members before the chain, lines 1\u20134, checked "
         "08:00:00"},
        {9, 0, 0, 0, {}, false, true, "", "connection lost",
         "not checked: connection lost (checking again)"},
        {9, 9, 9, 0, {}, true, false, "", "",
         "not checked here (PostgreSQL only): qz45trail verify --odbc"},
    };
    for (const Case &c : cases) {
        MachineStatus st;
        st.lines = c.lines;
        st.stored = c.stored;
        st.lastLine = c.lastLine;
        st.firstBad = c.firstBad < 0 ? 0 : c.firstBad;
        st.unproved = c.firstBad < 0;  // -1: unchained lines not accepted
        st.missing = c.missing;
        for (const LineSpan &s : c.missing) st.missingLines += s.to - s.from + 1;
        st.checked = c.checked;
        st.checkedAt = Utc("2026-01-01T08:00:00Z");
        st.problem = c.problem;
        st.failure = c.failure;
        EXPECT_EQ(ChainText(st, c.chainChecked, Context().timeText), c.text);
    }
}

TEST(ReviewPages, OverviewShowsExceptionsMachinesChartAndUsers) {
    Overview overview;
    for (const ExceptionKind kind : kExceptionKinds) overview.exceptions.push_back({kind, 0, {}});
    overview.exceptions[0].count = 1;
    overview.exceptions[0].latest = Events(1);
    overview.chart = {{Utc("2026-01-01T08:00:00Z"), 203, 2}, {Utc("2026-01-01T08:00:00Z"), 206, 1},
                      {Utc("2026-01-01T09:00:00Z"), 206, 4}};
    overview.users = {{"PLANT", "op2", 7}};
    MachineStatus bad;
    bad.machine = "review-b";
    bad.lines = 9;
    bad.stored = 9;
    bad.checked = true;
    bad.firstBad = 5;
    bad.hasLastShipped = true;
    bad.lastShipped = Utc("2026-01-02T00:00:00Z");
    const std::string page = OverviewPage(
        Context(), Filter("from=x"), {}, overview, {bad}, true);
    EXPECT_FALSE(Has(page, "id=\"exceptions\"")) << "a filter in error shows its form only";

    EventFilter f = Filter("");
    DefaultToLastWeek(&f, Utc("2026-01-08T00:00:00Z"));
    const std::string week = OverviewPage(Context(), f, {}, overview, {bad}, true);
    std::size_t at = 0;
    for (const char *id : {"refused", "security", "deletions", "switches", "startups"}) {
        const std::size_t here = week.find(std::string("<section id=\"") + id + "\">");
        EXPECT_NE(here, std::string::npos) << id;
        EXPECT_GT(here, at) << id;
        at = here;
    }
    EXPECT_TRUE(Has(week, "Refused operations <a href=\"/?from="));
    EXPECT_TRUE(Has(week, "<span class=\"count\">1</span></a>"));
    EXPECT_TRUE(Has(week, "Record deletions <span class=\"count\">0</span>"));
    // A shell script finds a machine's chain by the row's start.
    EXPECT_TRUE(Has(week, "<tr><td>review-b</td><td class=\"num\">9</td><td>local "
                          "2026-01-02T00:00:00.000Z</td><td class=\"bad\">first bad line 5 "));
    EXPECT_TRUE(Has(week, "<svg"));
    EXPECT_TRUE(Has(week, "Events per day and category"));  // seven days
    EXPECT_TRUE(Has(week, "<tr><td>PLANT\\op2</td><td class=\"num\">7</td></tr>"));
}

TEST(ReviewPages, ChartByHourForUpToThreeDays) {
    struct Case {
        const char *from, *to;
        bool hourly;
    };
    const Case cases[] = {
        {"2026-01-01T00:00:00Z", "2026-01-04T00:00:00Z", true},
        {"2026-01-01T00:00:00Z", "2026-01-04T00:00:01Z", false},
        {"", "2026-01-04T00:00:00Z", false},
    };
    for (const Case &c : cases) {
        EventFilter f;
        f.hasFrom = *c.from != '\0';
        if (f.hasFrom) f.from = Utc(c.from);
        f.hasTo = true;
        f.to = Utc(c.to);
        EXPECT_EQ(ChartByHour(f), c.hourly) << c.from << " " << c.to;
    }
}

TEST(ReviewPages, PrintCopyHeadsEveryPageWithWhatAndWhen) {
    MachineStatus m;
    m.machine = "m1";
    m.lines = 9;
    m.stored = 9;
    m.lastLine = 9;
    m.checked = true;
    m.checkedAt = Utc("2026-01-02T23:59:58Z");
    const std::string page = PrintPage(Context(), Filter("user=op2"), {m}, true,
                                       Events(kPrintRows + 1), Utc("2026-01-03T00:00:00Z"));
    EXPECT_TRUE(Has(page, "<table id=\"print\"><thead><tr class=\"print-head\"><th colspan=\"11\">"
                          "Audit trail: user op2 (the first 10000 events). Printed local "
                          "2026-01-03T00:00:00.000Z by PLANT\\&lt;b&gt;r&amp;d. Chains: m1 9 "
                          "lines stored, chain intact, lines 1\u20139, checked 23:59:58.</th></tr><tr><th scope=\"col\">machine</th>"));
    EXPECT_EQ(Count(page, "<tr class=\"event\">"), static_cast<std::size_t>(kPrintRows));
    EXPECT_FALSE(Has(page, "/history?")) << "a printed copy links to no history";
}

TEST(ReviewPages, CsvCopyIsOneRecordPerEvent) {
    Event e = MakeEvent(7);
    e.message = "=HYPERLINK(\"x\")";
    Event bare;
    bare.machine = "m2";
    const std::string csv = CsvBody({e, bare}, [](const UtcTime &) { return std::string("L"); });
    EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(Count(csv, "\r\n"), 3u);
    EXPECT_TRUE(Has(csv, "\r\nm1,7,2026-01-01T08:00:00.000Z,L,203,,PLANT,op2,FIC101,SP,VT_R8,1,"
                         "VT_R8,2,\"'=HYPERLINK(\"\"x\"\")\",\r\n"));
    EXPECT_TRUE(Has(csv, "\r\nm2,0,,,,,,,,,,,,,,\r\n"));
}

TEST(ReviewPages, ReviewsPageCarriesTheTokenAndEscapesWhatWasSaid) {
    StoredReview r;
    r.id = 3;
    r.remark = kMarkup;
    r.machines = "m1";
    r.positions = "{\"m1\": {\"line\": 9}}";
    r.hasFrom = true;
    r.from = Utc("2026-01-01T00:00:00Z");
    const std::string page = ReviewsPage(Context(), {"Say <more>", 0, {}, "0123abcd", {}, {r, r}});
    EXPECT_TRUE(Has(page, "<p class=\"error\">Say &lt;more&gt;</p>"));
    EXPECT_TRUE(Has(page, "<input type=\"hidden\" name=\"token\" value=\"0123abcd\">"));
    EXPECT_TRUE(Has(page, "id=\"record\""));
    EXPECT_EQ(Count(page, "<tr class=\"review\">"), 2u);
    EXPECT_TRUE(Has(page, std::string("<td class=\"remark\">") + kMarkupShown + "</td>"));
    EXPECT_TRUE(Has(page, "<td class=\"period\"><span class=\"t\">local 2026-01-01T00:00:00.000Z</span> &ndash; </td>"));
    EXPECT_TRUE(Has(page, "{&quot;m1&quot;: {&quot;line&quot;: 9}}"));
    EXPECT_FALSE(Has(ReviewsPage(Context(), {"", 0, {}, "t", {}, {}}), "class=\"error\""));
}

TEST(ReviewPages, ExceptionPanelsLinkTheirListsAndNameEveryType) {
    Overview overview;
    for (const ExceptionKind kind : kExceptionKinds) overview.exceptions.push_back({kind, 12, {}});
    for (ExceptionCount &e : overview.exceptions) e.latest = Events(10);
    EventFilter f = Filter("");
    f.machine = "m 1";
    DefaultToLastWeek(&f, Utc("2026-01-08T00:00:00Z"));
    const std::string page = OverviewPage(Context(), f, {}, overview, {}, true);
    const auto section = [&page](const char *id) {
        const std::size_t at = page.find(std::string("<section id=\"") + id + "\">");
        return page.substr(at, page.find("</section>", at) - at);
    };
    const std::string refused = section("refused");
    // Every type the library files under 203, the ones whose names hold
    // another's among them.
    for (const char *type : {"Save Snapshot Denied", "Read Denied", "Write Denied",
                             "Change Security Denied", "DB Read Denied", "DB Admin Denied",
                             "Set Unusable Denied"})
        EXPECT_TRUE(Has(refused, std::string(type) + ",") || Has(refused, std::string(type) + "."))
            << type;
    EXPECT_TRUE(Has(refused, "not its type"));
    EXPECT_EQ(Count(refused, "&amp;category=203\""), 2u) << "the count and the list's link";
    EXPECT_TRUE(Has(refused, "machine=m%201&amp;category=203"));
    EXPECT_TRUE(Has(refused, "The latest 10 of 12."));
    EXPECT_EQ(Count(refused, "<tr class=\"event\">"), 10u);
    EXPECT_TRUE(Has(refused, "<a href=\"/history?descriptor=FIC101&amp;property=SP\">"));
    EXPECT_TRUE(Has(refused, "<td class=\"property\">SP</td><td class=\"value\">R8 1 \xE2\x86\x92 R8 2"));
    EXPECT_TRUE(Has(section("security"), "&amp;category=301&amp;property=ACL\""));
    const std::string startups = section("startups");
    EXPECT_TRUE(Has(startups, "&amp;category=206\">the start-ups"));
    EXPECT_TRUE(Has(startups, "&amp;category=207\">the shutdowns"));
    EXPECT_FALSE(Has(startups, "class=\"all\"")) << "two lists: the count links to neither";
    EXPECT_FALSE(Has(startups, "not its type")) << "each of its categories holds one type";
    EXPECT_FALSE(Has(section("deletions"), "not its type"));
    // Events stored far off their time: any category, a list of their own.
    const std::string off = section("stored-off");
    EXPECT_TRUE(Has(off, "machine=m%201&amp;stored=off\" class=\"all\""));
    EXPECT_FALSE(Has(off, "category=")) << off;
    EXPECT_TRUE(Has(off, "more than 300 s after (backdated)"));
}

TEST(ReviewPages, ChartCountsByTheReadersDayAndSaysItsValues) {
    // Two hours east of UTC: 22:45 UTC is still the 1st, 23:15 is the 2nd.
    const PageContext east{"r", [](const UtcTime &t) { return UtcText(AddSeconds(t, 7200)); }};
    Overview overview;
    overview.chart = {{Utc("2026-01-01T21:45:00Z"), 203, 1},
                      {Utc("2026-01-01T22:15:00Z"), 203, 2},
                      {Utc("2026-01-01T22:15:00Z"), 206, 5},
                      {Utc("2026-01-02T03:00:00Z"), 203, 4}};
    EventFilter f = Filter("");
    DefaultToLastWeek(&f, Utc("2026-01-08T00:00:00Z"));
    const std::string page = OverviewPage(east, f, {}, overview, {}, true);
    EXPECT_TRUE(Has(page, "<title id=\"chart-title\">Events per day of local time and category"));
    EXPECT_TRUE(Has(page, "<th scope=\"col\">203 refused</th><th scope=\"col\">206 "));
    EXPECT_TRUE(Has(page, "<tr><th scope=\"row\">2026-01-01</th><td class=\"num\">1</td>"
                          "<td class=\"num\">0</td></tr><tr><th scope=\"row\">2026-01-02</th>"
                          "<td class=\"num\">6</td><td class=\"num\">5</td></tr>"));
    EXPECT_TRUE(Has(page, "fill=\"url(#series1)\"")) << "each series its own pattern";

    EventFilter day;
    day.hasFrom = day.hasTo = true;
    day.from = Utc("2026-01-01T20:00:00Z");
    day.to = Utc("2026-01-02T04:00:00Z");
    const std::string hours = OverviewPage(east, day, {}, overview, {}, true);
    EXPECT_TRUE(Has(hours, "<th scope=\"row\">2026-01-02T00:00</th><td class=\"num\">2</td>"
                           "<td class=\"num\">5</td>"));
}

TEST(ReviewPages, PrintCopyEndsWithItsRowCountAndGivesThePeriodsZone) {
    const PageContext context{"r", [](const UtcTime &t) { return UtcText(t) + " +00:00"; }};
    EventFilter f = Filter("");
    f.hasFrom = f.hasTo = true;
    f.from = Utc("2026-01-01T00:00:00Z");
    f.to = Utc("2026-01-02T00:00:00Z");
    const std::string page = PrintPage(context, f, {}, true, Events(3), Utc("2026-01-03T00:00:00Z"));
    EXPECT_TRUE(Has(page, "<p id=\"end\">End of copy: 3 rows.</p>"));
    EXPECT_TRUE(Has(page, "Period (local time, with its offset from UTC): 2026-01-01T00:00:00.000Z "
                          "+00:00 to 2026-01-02T00:00:00.000Z +00:00 (not included)."));
    EXPECT_TRUE(Has(PrintPage(context, f, {}, true, Events(kPrintRows + 1), f.to),
                    "End of copy: 10000 rows, more events not printed."));
}

TEST(ReviewPages, ReviewsPageConfirmsWhatWasStoredAndListsPositionsReadably) {
    StoredReview r;
    r.id = 7;
    r.dbUser = "qz45_reviewer";
    r.machines = "m1";
    r.meaning = kReviewMeanings[1];
    r.remark = "batch 4 <checked>";
    r.positions = "{\"m1\": {\"line\": 9, \"hash\": \"0123456789abcdef0123\", \"sha256\": \"x\"}}";
    StoredReview old = r;
    old.id = 6;
    old.meaning = "";
    old.positions = "not json";
    const std::string page = ReviewsPage(Context(), {"", 7, {}, "t", {"m1", "m2"}, {r, old}});
    EXPECT_TRUE(Has(page, "id=\"recorded\" role=\"status\"><p>Review 7 recorded by qz45_reviewer"));
    EXPECT_TRUE(Has(page, "<strong>reviewed, exceptions noted</strong>"));
    EXPECT_TRUE(Has(page, "remark &ldquo;batch 4 &lt;checked&gt;&rdquo;"));
    EXPECT_TRUE(Has(page, "<span class=\"position\">m1 line 9, hash 0123456789ab&hellip;</span>"));
    EXPECT_TRUE(Has(page, "<td class=\"meaning\">(not said)</td>"));
    EXPECT_TRUE(Has(page, "<td class=\"positions\">not json<details>"));
    EXPECT_TRUE(Has(page, "machines (m1, m2)"));
    for (const char *meaning : kReviewMeanings)
        EXPECT_TRUE(Has(page, std::string("value=\"") + meaning + "\">")) << meaning;
    EXPECT_FALSE(Has(ReviewsPage(Context(), {"", 8, {}, "t", {}, {r}}), "id=\"recorded\""))
        << "only the review just recorded is confirmed";
    // A review refused: the form keeps what was given, as text.
    const std::string refused = ReviewsPage(
        Context(), {"No machine m3", 0,
                    {{"from", "2026-01-02T00:00"}, {"machines", "m3"}, {"remark", kMarkup},
                     {"meaning", kReviewMeanings[0]}},
                    "t", {"m1"}, {}});
    EXPECT_TRUE(Has(refused, "name=\"from\" type=\"datetime-local\" value=\"2026-01-02T00:00\""));
    EXPECT_TRUE(Has(refused, "placeholder=\"all\" value=\"m3\""));
    EXPECT_TRUE(Has(refused, std::string("size=\"60\" value=\"") + kMarkupShown + "\""));
    EXPECT_TRUE(Has(refused, std::string("value=\"") + kReviewMeanings[0] + "\" checked>"));
}

TEST(ReviewPages, EveryPageCanSkipToItsContent) {
    const std::string page = NotFoundPage(Context());
    EXPECT_LT(page.find("<a class=\"skip\" href=\"#main\">"), page.find("<header>"));
    EXPECT_TRUE(Has(page, "<main id=\"main\""));
}

}  // namespace
