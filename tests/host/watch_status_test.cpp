// The review page's background checks as values: the lines a check saw and
// the gaps among them, what a check's findings make of a machine's status,
// silent machines, and the passes a fresh check waits for.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "exit_codes.h"
#include "forged_columns.h"
#include "page_parts.h"
#include "review_pages.h"
#include "watch_status.h"

using namespace qz45trail;

namespace {

UtcTime Utc(const char *text) {
    UtcTime t;
    EXPECT_TRUE(ParseUtc(text, &t)) << text;
    return t;
}

std::string Spans(const std::vector<LineSpan> &spans) {
    std::string text;
    for (const LineSpan &s : spans)
        text += (text.empty() ? "" : ",") + std::to_string(s.from) + "-" + std::to_string(s.to);
    return text;
}

}  // namespace

TEST(WatchStatus, CensusCountsStoredRowsAndTheGapsAmongAndAfterThem) {
    struct Case {
        std::vector<long long> lines;
        long long through, stored, last, missing;
        const char *spans;
    };
    const Case cases[] = {
        {{1, 2, 3}, 3, 3, 3, 0, ""},
        {{1, 2, 3}, 0, 3, 3, 0, ""},
        {{1, 2}, 3, 2, 3, 1, "3-3"},        // the last row deleted
        {{2, 3, 7}, 7, 3, 7, 4, "1-1,4-6"},  // the first and some between
        {{}, 4, 0, 4, 4, "1-4"},
        {{1, 3, 5, 7, 9, 11, 13}, 15, 7, 15, 8, "2-2,4-4,6-6,8-8,10-10"},  // five spans named
    };
    for (const Case &c : cases) {
        LineCensus census;
        for (const long long n : c.lines) census.Add(n);
        census.Through(c.through);
        EXPECT_EQ(census.Stored(), c.stored);
        EXPECT_EQ(census.Last(), c.last);
        EXPECT_EQ(census.MissingLines(), c.missing);
        EXPECT_EQ(Spans(census.Missing()), c.spans);
    }
    // Spans beyond the ones named are counted.
    LineCensus sparse;
    for (long long n = 1; n <= 13; n += 2) sparse.Add(n);
    sparse.Through(15);
    const MachineStatus st = StatusOfCheck("m", sparse, Findings{}, 0, UtcTime{});
    EXPECT_EQ(LinesText(st), "lines 1\u201315: 7 stored, line 2, line 4, line 6, line 8, line 10 "
                             "and 3 more missing");
    // Lines archived: named with their manifest, the table's lines from the
    // next one on.
    LineCensus archived;
    archived.StartAfter(5);
    for (long long n = 6; n <= 9; ++n)
        if (n != 8) archived.Add(n);
    archived.Through(9);
    MachineStatus a = StatusOfCheck("m", archived, Findings{}, 0, UtcTime{});
    a.archivedIn = "manifest m.json";
    EXPECT_EQ(LinesText(a), "lines 1\u20135 archived (manifest m.json), lines 6\u20139: 3 stored, "
                            "line 8 missing");
    LineCensus all;
    all.StartAfter(5);
    a = StatusOfCheck("m", all, Findings{}, 0, UtcTime{});
    EXPECT_EQ(LinesText(a), "lines 1\u20135 archived");
}

TEST(WatchStatus, LineNamedIsTheFirstLineAFindingStartsWith) {
    const std::pair<const char *, long long> cases[] = {
        {"line 5: column message does not match the line's text", 5},
        {"lines 12-14 missing: removed from the database", 12},
        {"line 138 shipped (in the shipment log) but not in the database", 138},
        {"no lines in the database", 0},
        {"2 line(s) without chain members", 0},
        {"line x", 0},
    };
    for (const auto &[text, line] : cases) EXPECT_EQ(LineNamed(text), line) << text;
}

// What verify --odbc's findings make of a status: broken at a line,
// unchained lines not proved, a check that failed, or intact.
TEST(WatchStatus, StatusOfCheckTakesTheFirstVerdict) {
    struct Case {
        Findings found;
        long long badLine;
        bool checked, unproved;
        long long firstBad;
        const char *problem, *failure;
    };
    Findings intact, column, endMissing, unchained, failed;
    intact.Say("m", "9 lines, chain intact");
    column.Add("m", "line 5: column message does not match the line's text", kExitBroken);
    endMissing.Add("m", "line 9 shipped (in the shipment log) but not in the database",
                   kExitBroken);
    unchained.Say("m", "9 lines, chain intact");
    unchained.Add("m", "2 line(s) without chain members before the chain", kExitUnchained);
    failed.Fail("connection lost");
    const Case cases[] = {
        {intact, 0, true, false, 0, "", ""},
        {column, 5, true, false, 5, "line 5: column message does not match the line's text", ""},
        {endMissing, 0, true, false, 9,
         "line 9 shipped (in the shipment log) but not in the database", ""},
        {unchained, 0, true, true, 0, "2 line(s) without chain members before the chain", ""},
        {failed, 0, false, false, 0, "", "connection lost"},
    };
    LineCensus census;
    for (long long n = 1; n <= 8; ++n) census.Add(n);
    census.Through(9);
    for (const Case &c : cases) {
        const MachineStatus st =
            StatusOfCheck("m", census, c.found, c.badLine, Utc("2026-01-01T08:00:00Z"));
        EXPECT_EQ(st.checked, c.checked) << c.problem;
        EXPECT_EQ(st.unproved, c.unproved) << c.problem;
        EXPECT_EQ(st.firstBad, c.firstBad) << c.problem;
        EXPECT_EQ(st.problem, c.problem);
        EXPECT_EQ(st.failure, c.failure);
        EXPECT_EQ(st.stored, 8);
        EXPECT_EQ(LinesText(st), "lines 1\u20139: 8 stored, line 9 missing");
    }
}

TEST(WatchStatus, SilentMachinesAndClockTimes) {
    MachineStatus st;
    const UtcTime now = Utc("2026-01-02T08:00:00Z");
    EXPECT_TRUE(IsSilent(st, now, 24)) << "never shipped";
    st.hasLastShipped = true;
    st.lastShipped = Utc("2026-01-01T08:00:00Z");
    EXPECT_FALSE(IsSilent(st, now, 24));
    EXPECT_TRUE(IsSilent(st, Utc("2026-01-02T08:00:01Z"), 24));
    EXPECT_TRUE(IsSilent(st, now, 23));

    EXPECT_EQ(ClockOf("2026-12-08 10:15:00.250 +01:00"), "10:15:00");
    EXPECT_EQ(ClockOf("2026-12-08T10:15:00Z"), "10:15:00");
    EXPECT_EQ(ClockOf("no time"), "no time");
}

TEST(WatchStatus, AFreshCheckWaitsForAPassStartedAfterIt) {
    PassCount p;
    p.Start();  // pass 1 under way
    const long long wanted = p.Fresh();
    EXPECT_EQ(wanted, 2);
    p.End(true);
    EXPECT_FALSE(p.Finished(wanted)) << "pass 1 began before the check was asked for";
    p.Start();
    p.End(false);
    EXPECT_TRUE(p.Failed(wanted));
    p.Start();
    p.End(true);
    EXPECT_TRUE(p.Finished(wanted));
    EXPECT_FALSE(p.Failed(wanted)) << "a later pass finished";
}

TEST(WatchStatus, ReviewAndOverviewSayTheCheckAndTheSilentMachines) {
    const auto timeText = [](const UtcTime &t) { return "L " + UtcText(t); };
    EXPECT_EQ(ChainsChecked({}, timeText), "");
    MachineStatus a;
    a.machine = "m1";
    a.checked = true;
    a.stored = a.lastLine = a.lines = 9;
    a.checkedAt = Utc("2026-01-01T08:00:05Z");
    EXPECT_EQ(ChainsChecked({a}, timeText),
              "\n\nChains checked afresh: m1 intact, lines 1\u20139, checked 08:00:05 (L "
              "2026-01-01T08:00:05.000Z)");

    MachineStatus quiet = a;
    quiet.machine = "m2";
    quiet.silent = true;
    Overview overview;
    EventFilter f;
    const PageContext context{"r", timeText};
    const std::string page = OverviewPage(context, f, {}, overview, {a, quiet}, true);
    EXPECT_NE(page.find("Silent machines <span class=\"count\">1</span>"), std::string::npos);
    EXPECT_NE(page.find("<tr><td>m2</td><td class=\"num\">9</td><td class=\"bad\">never (silent"),
              std::string::npos);
}

// A row whose columns disagree with its line is shown with the line's values
// and the columns named; a row that agrees is left as it is.
TEST(WatchStatus, ForgedColumnsAreShownFromTheLine) {
    const std::string line =
        "{\"time\":\"2026-01-01T08:00:00Z\",\"event\":\"Change Value\",\"category\":301,"
        "\"properties\":{\"Descriptor\":\"FIC101\",\"Message\":\"raised\"}}";
    Row row;
    std::string why;
    ASSERT_TRUE(RowFromLine("m", 1, line, &row, &why)) << why;
    Event stored;
    stored.machine = "m";
    stored.line = 1;
    stored.lineText = line;
    stored.eventClass = row[kEventClass].text;
    stored.descriptor = row[kDescriptor].text;
    stored.message = row[kMessage].text;
    stored.hasCategory = !row[kCategory].null;
    stored.category = row[kCategory].number;
    stored.hasTime = !row[kEventTime].null;
    stored.time = row[kEventTime].time;
    struct Case {
        void (*edit)(Event *);
        const char *forged, *message;
    };
    const Case cases[] = {
        {[](Event *) {}, "", "raised"},
        {[](Event *e) { e->message = "lowered"; }, "message", "raised"},
        {[](Event *e) {
             e->message = "x";
             e->hasCategory = true;
             e->category = 203;
         },
         "message,category", "raised"},
        {[](Event *e) { e->lineText = "not a line"; }, "line_text", "raised"},
    };
    for (const Case &c : cases) {
        Event e = stored;
        c.edit(&e);
        if (e.lineText == "not a line") e.message = "raised";
        TakeLineValues(&e);
        std::string names;
        for (const std::string &n : e.forged) names += (names.empty() ? "" : ",") + n;
        EXPECT_EQ(names, c.forged);
        EXPECT_EQ(e.message, c.message);
    }
    Event shown = stored;
    shown.message = "lowered";
    TakeLineValues(&shown);
    const PageContext context{"r", [](const UtcTime &t) { return UtcText(t); }};
    const std::string html = EventRow(context, shown, false);
    EXPECT_NE(html.find("<tr class=\"event forged\">"), std::string::npos);
    EXPECT_NE(html.find("<strong class=\"forged\">forged column: message</strong>"),
              std::string::npos);
    EXPECT_EQ(html.find("lowered"), std::string::npos) << "the edited value is not shown";
}
