// The review page's filter as a query string gives it, the overview's
// default period, the reviews form, and a review's trail positions as JSON.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <utility>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "month_window.h"
#include "review_filter.h"
#include "review_record.h"
#include "trail_view.h"
#include "utc_time.h"

using namespace qz45trail;

namespace {

UtcTime Utc(const char *text) {
    UtcTime t;
    EXPECT_TRUE(ParseUtc(text, &t)) << text;
    return t;
}

// Local time is an hour east of UTC; only the two forms a form sends read.
bool OneHourEast(const std::string &text, UtcTime *out) {
    UtcTime t;
    if (text.size() == 16 && text[10] == 'T' && ParseUtc(text + ":00Z", &t)) {
        *out = AddSeconds(t, -3600);
        return true;
    }
    if (text.size() == 10 && ParseUtc(text, &t, true)) {
        *out = AddSeconds(t, -3600);
        return true;
    }
    return false;
}

std::string Errors(const EventFilter &f) {
    std::string all;
    for (const std::string &e : f.errors) all += e + "|";
    return all;
}

TEST(ReviewFilter, ReadsEachFieldAndSaysWhatDoesNotRead) {
    struct Case {
        const char *query;
        std::string errors;
        bool hasFrom, hasTo;
        std::string domain, user;
        bool hasDomain, hasCategory;
        long long category, page;
        bool byLine;
        bool storedOff = false;
    };
    const Case cases[] = {
        {"", "", false, false, "", "", false, false, 0, 0, false},
        {"from=2026-01-01T10:00&to=2026-01-02", "", true, true, "", "", false, false, 0, 0, false},
        {"from=yesterday&to=2026-13-01",
         "from: \"yesterday\" is not a time (2026-12-08 or 2026-12-08T10:15)|"
         "to: \"2026-13-01\" is not a time (2026-12-08 or 2026-12-08T10:15)|",
         false, false, "", "", false, false, 0, 0, false},
        {"user=op2", "", false, false, "", "op2", false, false, 0, 0, false},
        {"user=PLANT%5Cop2", "", false, false, "PLANT", "op2", true, false, 0, 0, false},
        {"user=%5Cop2", "", false, false, "", "op2", true, false, 0, 0, false},  // empty domain
        {"user=WERK%5Cm%C3%BCller%5Cx", "", false, false, "WERK", "m\xC3\xBCller\\x", true, false,
         0, 0, false},
        {"category=203", "", false, false, "", "", false, true, 203, 0, false},
        {"category=20x", "category: \"20x\" is not a number|", false, false, "", "", false, false,
         20, 0, false},
        {"category=", "", false, false, "", "", false, false, 0, 0, false},
        {"page=3&sort=line", "", false, false, "", "", false, false, 0, 3, true},
        {"page=-2&sort=time", "", false, false, "", "", false, false, 0, 0, false},
        {"page=next", "", false, false, "", "", false, false, 0, 0, false},
        // A number beyond what a category can be is said, not sent to the database.
        {"category=-9223372036854775808",
         "category: \"-9223372036854775808\" is out of range: a category is a number from 201 "
         "to 401|",
         false, false, "", "", false, false, 0, 0, false},
        {"category=99999999999999999999",
         "category: \"99999999999999999999\" is out of range: a category is a number from 201 "
         "to 401|",
         false, false, "", "", false, false, 0, 0, false},
        {"category=2147483648",
         "category: \"2147483648\" is out of range: a category is a number from 201 to 401|",
         false, false, "", "", false, false, 0, 0, false},
        // A period that ends before it starts, or where it starts.
        {"from=2026-01-02&to=2026-01-01",
         "to: 2026-01-01 is not after from: 2026-01-02 (from includes its time, to does not): "
         "no event is in between|",
         true, true, "", "", false, false, 0, 0, false},
        {"from=2026-01-01T10:00&to=2026-01-01T10:00",
         "to: 2026-01-01T10:00 is not after from: 2026-01-01T10:00 (from includes its time, to "
         "does not): no event is in between|",
         true, true, "", "", false, false, 0, 0, false},
        {"after=yesterday", "after: \"yesterday\" is not a row of this page|", false, false, "",
         "", false, false, 0, 0, false},
        {"before=2026-01-01T08:00:00Z,x,m1", "before: \"2026-01-01T08:00:00Z,x,m1\" is not a row "
         "of this page|", false, false, "", "", false, false, 0, 0, false},
        {"stored=off", "", false, false, "", "", false, false, 0, 0, false, true},
        {"stored=on", "stored: \"on\" is not a choice (off)|", false, false, "", "", false, false,
         0, 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query);
        const EventFilter f = ReadFilter(c.query, OneHourEast);
        EXPECT_EQ(Errors(f), c.errors);
        EXPECT_EQ(f.hasFrom, c.hasFrom);
        EXPECT_EQ(f.hasTo, c.hasTo);
        EXPECT_EQ(f.domain, c.domain);
        EXPECT_EQ(f.user, c.user);
        EXPECT_EQ(f.hasDomain, c.hasDomain);
        EXPECT_EQ(f.hasCategory, c.hasCategory);
        if (c.hasCategory) EXPECT_EQ(f.category, c.category);
        EXPECT_EQ(f.page, c.page);
        EXPECT_EQ(f.byLine, c.byLine);
        EXPECT_EQ(f.storedOff, c.storedOff);
    }
}

TEST(ReviewFilter, FieldsMakeTheConsolesFilter) {
    struct Case {
        const char *query;
        std::string machine, user, descriptor, property;
        long long category;  // -1: none
        bool since, until;
    };
    const Case cases[] = {
        {"", "", "", "", "", -1, false, false},
        {"machine=M1&user=plant%5Cop2&descriptor=fic101&property=sp&category=203", "M1",
         "plant\\op2", "fic101", "sp", 203, false, false},
        {"user=M%C3%9CLLER&from=2026-01-01", "", "M\xC3\x9CLLER", "", "", -1, true, false},
        {"to=2026-01-01&category=x", "", "", "", "", -1, false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.query);
        const RowFilter v = ReadFilter(c.query, OneHourEast).view;
        EXPECT_EQ(v.machine, c.machine);
        EXPECT_EQ(v.user, c.user);
        EXPECT_EQ(v.descriptor, c.descriptor);
        EXPECT_EQ(v.property, c.property);
        EXPECT_EQ(v.category.value_or(-1), c.category);
        EXPECT_EQ(v.since.has_value(), c.since);
        EXPECT_EQ(v.until.has_value(), c.until);
    }
}

TEST(ReviewFilter, SeekKeysReadBackAsWritten) {
    SeekKey key;
    key.given = key.hasTime = true;
    key.time = Utc("2026-01-01T08:00:00.250Z");
    key.machine = "m,1 \xC3\xBC";
    key.line = 1234567890123LL;
    for (const bool hasTime : {true, false}) {
        key.hasTime = hasTime;
        SeekKey read;
        ASSERT_TRUE(ReadSeekKey(SeekKeyText(key), &read)) << SeekKeyText(key);
        EXPECT_TRUE(read.given);
        EXPECT_EQ(read.hasTime, hasTime);
        if (hasTime) EXPECT_EQ(UtcText(read.time), UtcText(key.time));
        EXPECT_EQ(read.machine, key.machine);
        EXPECT_EQ(read.line, key.line);
    }
    SeekKey unread;
    for (const char *text : {"", ",", "2026-01-01T08:00:00Z,1", "soon,1,m1", ",,m1", ",1x,m1",
                             ",99999999999999999999,m1"})
        EXPECT_FALSE(ReadSeekKey(text, &unread)) << text;
    EXPECT_FALSE(unread.given);
}

// UTF-8 of one code point.
std::string Utf8(uint32_t c) {
    std::string s;
    if (c < 0x80) return s += static_cast<char>(c), s;
    if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        return s += static_cast<char>(0x80 | (c & 0x3F)), s;
    }
    return s += static_cast<char>(0x80 | (c & 0x3F)), s;
}

// The database compares foldings: they must be equal exactly when the
// console's SameIgnoringCase takes two texts for the same.
TEST(CaseFolding, FoldsExactlyWhatTheConsoleTakesForTheSame) {
    std::vector<std::string> letters;  // every code point the folding names, and neighbours
    for (uint32_t c = 0x20; c < 0x500; ++c) letters.push_back(Utf8(c));
    for (uint32_t c = 0xFF00; c < 0xFF80; ++c) letters.push_back(Utf8(c));
    std::vector<std::string> folded;
    for (const std::string &l : letters) folded.push_back(FoldCase(l));
    for (std::size_t i = 0; i < letters.size(); ++i)
        for (std::size_t j = 0; j < letters.size(); ++j)
            if (SameIgnoringCase(letters[i], letters[j]) != (folded[i] == folded[j])) {
                ADD_FAILURE() << letters[i] << " and " << letters[j];
                return;
            }
    // Everything else folds to itself, in the whole of the first plane.
    for (uint32_t c = 0x500; c < 0x10000; ++c)
        if ((c < 0xD800 || c > 0xDFFF) && (c < 0xFF00 || c >= 0xFF80))
            ASSERT_EQ(FoldCase(Utf8(c)), Utf8(c)) << c;
    EXPECT_EQ(FoldCase("M\xC3\x9CLLER"), FoldCase("m\xC3\xBCller"));
    EXPECT_EQ(FoldCase("plant\\Op2 \xF0\x9F\x99\x82 \xFF"),
              FoldCase("PLANT\\oP2 \xF0\x9F\x99\x82 \xFF"));
    EXPECT_NE(FoldCase("fic101"), FoldCase("fic102"));
}

TEST(CaseFolding, PatternsNarrowDownWithoutMissingAny) {
    const std::pair<const char *, const char *> cases[] = {
        {"fic101", "fic101"},
        {"M\xC3\x9CLLER", "M_LLER"},
        {"a%b_c\\d", "a\\%b\\_c\\\\d"},
        {"\xCE\xA3\xF0\x9F\x99\x82x", "__x"},
        {"", ""},
    };
    for (const auto &c : cases) EXPECT_EQ(CaseBlindPattern(c.first), c.second) << c.first;
    EXPECT_EQ(ContainsPattern("50%_a\\b"), "%50\\%\\_a\\\\b%");
}

TEST(ReviewFilter, TimesAreTheReadersConvertedToUtc) {
    const EventFilter f = ReadFilter("from=2026-01-01T10:00&to=2026-01-02", OneHourEast);
    EXPECT_EQ(UtcText(f.from), UtcText(Utc("2026-01-01T09:00:00Z")));
    EXPECT_EQ(UtcText(f.to), UtcText(Utc("2026-01-01T23:00:00Z")));
}

TEST(ReviewFilter, QueryKeepsTheFieldsEncodedButNotThePageOrTheToken) {
    const EventFilter f = ReadFilter(
        "token=secret&page=4&machine=&user=PLANT%5Cop2&text=a%26b+%3Cc%3E%3D&sort=line&"
        "after=%2C1%2Cm1&before=%2C2%2Cm1",
        OneHourEast);
    EXPECT_EQ(f.Query(), "sort=line&text=a%26b%20%3Cc%3E%3D&user=PLANT%5Cop2");
    EXPECT_EQ(ReadFilter(f.Query(), OneHourEast).fields,
              ReadFilter("sort=line&user=PLANT%5Cop2&text=a%26b+%3Cc%3E%3D", OneHourEast).fields);
}

TEST(ReviewFilter, DescribesTheFieldsGivenInAFixedOrder) {
    EXPECT_EQ(ReadFilter("page=2", OneHourEast).Describe(), "all events");
    EXPECT_EQ(ReadFilter("text=x&machine=m1&user=op2&from=2026-01-01", OneHourEast).Describe(),
              "from 2026-01-01, machine m1, user op2, text x");
    EXPECT_EQ(ReadFilter("stored=off&machine=m1", OneHourEast).Describe(),
              "machine m1, stored more than 300 s off its time");
}

TEST(ReviewFilter, OverviewDefaultsToTheLastWeekOfTheMachineOnly) {
    const UtcTime now = Utc("2026-01-08T12:00:00Z");
    EventFilter f = ReadFilter("machine=m1&user=PLANT%5Cop2&category=203&text=x&descriptor=d&"
                               "property=p",
                               OneHourEast);
    DefaultToLastWeek(&f, now);
    EXPECT_TRUE(f.hasFrom && f.hasTo);
    EXPECT_EQ(UtcText(f.from), UtcText(Utc("2026-01-01T12:00:00Z")));
    EXPECT_EQ(UtcText(f.to), UtcText(now));
    EXPECT_EQ(f.machine, "m1");
    EXPECT_FALSE(f.hasDomain || f.hasCategory);
    EXPECT_EQ(f.user + f.text + f.descriptor + f.property, "");

    // A period given, or a field in error: as it was.
    for (const char *query : {"to=2026-01-02&user=op2", "from=later&user=op2"}) {
        SCOPED_TRACE(query);
        EventFilter given = ReadFilter(query, OneHourEast);
        DefaultToLastWeek(&given, now);
        EXPECT_FALSE(given.hasFrom);
        EXPECT_EQ(given.user, "op2");
    }
}

TEST(ReviewForm, ReadsThePeriodAndTheRemark) {
    struct Case {
        std::map<std::string, std::string> form;
        std::string error;
        bool hasFrom, hasUntil;
        std::string machines;
    };
    const Case cases[] = {
        {{{"remark", "ok"}}, "", false, false, "all"},
        {{{"remark", "ok"}, {"from", "2026-01-01T10:00"}, {"to", "2026-01-02"}, {"machines", "m1"}},
         "", true, true, "m1"},
        {{{"remark", "ok"}, {"from", "2026-01-01 10:00:00.5"}},
         "The period's times do not read (2026-12-08T10:15).", false, false, ""},
        {{{"remark", "ok"}, {"to", "soon"}}, "The period's times do not read (2026-12-08T10:15).",
         false, false, ""},
        {{{"remark", ""}, {"from", "2026-01-01"}}, "Say something in the remark.", false, false,
         ""},
        {{}, "Say something in the remark.", false, false, ""},
    };
    for (const Case &c : cases) {
        NewReview review;
        std::string error;
        const bool read = ReadReviewForm(c.form, OneHourEast, &review, &error);
        EXPECT_EQ(read, c.error.empty());
        EXPECT_EQ(error, c.error);
        if (!read) continue;
        EXPECT_EQ(review.hasFrom, c.hasFrom);
        EXPECT_EQ(review.hasUntil, c.hasUntil);
        EXPECT_EQ(review.machines, c.machines);
        EXPECT_EQ(review.remark, "ok");
    }
}

TEST(ReviewForm, ChecksThePeriodTheMachinesAndTheMeaningBeforeStoring) {
    const UtcTime now = Utc("2026-01-10T12:00:00Z");
    const std::vector<std::string> known = {"m1", "m2"};
    struct Case {
        const char *from, *until;  // "" for none
        const char *machines, *meaning;
        const char *error;  // "" when stored
    };
    const char *none = kReviewMeanings[0], *noted = kReviewMeanings[1];
    const Case cases[] = {
        {"2026-01-01T00:00:00Z", "2026-01-08T00:00:00Z", "m1", none, ""},
        {"", "", "all", noted, ""},
        {"2026-01-01T00:00:00Z", "", "m1, m2", none, ""},
        {"", "2026-01-10T12:00:00Z", "m2 m1", none, ""},  // up to now itself
        {"2026-01-08T00:00:00Z", "2026-01-01T00:00:00Z", "m1", none,
         "The period ends before it starts: give its start first."},
        {"2026-01-08T00:00:00Z", "2026-01-08T00:00:00Z", "m1", none,
         "The period ends before it starts: give its start first."},
        {"2026-01-01T00:00:00Z", "2026-01-10T12:00:01Z", "m1", none,
         "The period is in the future: a review covers what has happened."},
        {"2026-01-11T00:00:00Z", "", "m1", none,
         "The period is in the future: a review covers what has happened."},
        {"", "", "m1, m3", none, "No machine m3 has shipped to this database."},
        {"", "", "M1", none, "No machine M1 has shipped to this database."},
        {"", "", " , ", none, "Name the machines reviewed, or leave the field empty for all."},
        {"", "", "m1", "", "Say what the review found: no exceptions, or exceptions noted."},
        {"", "", "m1", "reviewed", "Say what the review found: no exceptions, or exceptions noted."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.from) + " " + c.until + " " + c.machines + " " + c.meaning);
        NewReview review;
        review.hasFrom = *c.from != '\0';
        if (review.hasFrom) review.from = Utc(c.from);
        review.hasUntil = *c.until != '\0';
        if (review.hasUntil) review.until = Utc(c.until);
        review.machines = c.machines;
        review.meaning = c.meaning;
        review.remark = "ok";
        std::string error;
        EXPECT_EQ(CheckReview(review, known, now, &error), *c.error == '\0');
        EXPECT_EQ(error, c.error);
    }
}

TEST(ReviewForm, ReadsTheMeaningAsGiven) {
    NewReview review;
    std::string error;
    ASSERT_TRUE(ReadReviewForm({{"remark", "ok"}, {"meaning", kReviewMeanings[1]}}, OneHourEast,
                               &review, &error));
    EXPECT_EQ(review.meaning, kReviewMeanings[1]);
}

TEST(ReviewPositions, EveryMachineNameAndHashComesBackAsGiven) {
    EXPECT_EQ(nlohmann::json::parse(PositionsJson({})), nlohmann::json::object());
    const std::vector<TrailPosition> positions = {
        {"plain", 9, "ab12", "cd34"},
        {"quote\" back\\slash", 1, "", ""},
        {"ctl\x01\ttab\nline", 2, "h\"", "s\\"},
        {"m\xC3\xBCller <b>&", 1234567890123LL, "x", "y"},
    };
    const nlohmann::json json = nlohmann::json::parse(PositionsJson(positions));
    ASSERT_EQ(json.size(), positions.size());
    for (const TrailPosition &p : positions) {
        SCOPED_TRACE(p.machine);
        ASSERT_TRUE(json.contains(p.machine));
        EXPECT_EQ(json[p.machine], (nlohmann::json{{"line", p.line}, {"hash", p.hash},
                                                   {"sha256", p.sha256}}));
    }
}

TEST(ReviewPositions, StoredJsonReadsBackOrSaysItDoesNot) {
    const std::vector<TrailPosition> positions = {{"m1", 9, "ab12", "cd34"}, {"n\"2", 1, "", ""}};  // by name
    bool read = false;
    const std::vector<TrailPosition> back = PositionsOf(PositionsJson(positions), &read);
    ASSERT_TRUE(read);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].machine, "m1");
    EXPECT_EQ(back[0].line, 9);
    EXPECT_EQ(back[0].hash, "ab12");
    EXPECT_EQ(back[1].machine, "n\"2");
    for (const char *text : {"", "[]", "{\"m1\": 9}", "{\"m1\": {\"hash\": \"x\"}}",
                             "{\"m1\": {\"line\": \"9\"}}", "not json"}) {
        SCOPED_TRACE(text);
        EXPECT_TRUE(PositionsOf(text, &read).empty());
        EXPECT_FALSE(read);
    }
    EXPECT_TRUE(PositionsOf("{}", &read).empty());
    EXPECT_TRUE(read);
}

}  // namespace

// A period's events are in the months (of the rows going in) whose events
// overlap it: those are read, as one range of months, and no other.
TEST(MonthWindow, ReadsTheMonthsWhoseEventsOverlapThePeriod) {
    const auto month = [](const char *start, const char *end, const char *first,
                          const char *last) {
        MonthSpan m;
        m.start = Utc(start);
        m.end = Utc(end);
        m.hasEvents = *first != '\0';
        if (m.hasEvents) {
            m.firstEvent = Utc(first);
            m.lastEvent = Utc(last);
        }
        return m;
    };
    const std::vector<MonthSpan> months = {
        month("2026-01-01T00:00:00Z", "2026-02-01T00:00:00Z", "2026-01-01T08:00:00Z",
              "2026-01-31T23:59:59Z"),
        // A line of January went in in February (shipped late).
        month("2026-02-01T00:00:00Z", "2026-03-01T00:00:00Z", "2026-01-31T23:00:00Z",
              "2026-02-28T10:00:00Z"),
        month("2026-03-01T00:00:00Z", "2026-04-01T00:00:00Z", "2026-03-01T00:00:01Z",
              "2026-03-20T00:00:00Z"),
        month("2026-04-01T00:00:00Z", "2026-05-01T00:00:00Z", "", ""),  // made ahead, empty
    };
    const std::optional<UtcTime> none;
    const auto ranges = [](const MonthWindow &w) {
        std::string text;
        for (const MonthRange &r : w.ranges)
            text += (text.empty() ? "" : " ") + UtcText(r.from).substr(0, 7) + ".." +
                    UtcText(r.to).substr(0, 7);
        return text;
    };
    struct Case {
        std::optional<UtcTime> since, until;
        bool all, nothing;
        const char *ranges;
        bool lateLine = false;  // with May, which holds a January line besides its own
    } cases[] = {
        {none, none, true, false, ""},
        {Utc("2026-03-05T00:00:00Z"), none, false, false, "2026-03..2026-04"},
        {Utc("2026-01-31T23:30:00Z"), Utc("2026-02-01T00:00:00Z"), false, false,
         "2026-01..2026-03"},
        {none, Utc("2026-01-02T00:00:00Z"), false, false, "2026-01..2026-02"},
        // The last event exactly at the period's start is in it; the first
        // exactly at its end is not.
        {Utc("2026-03-20T00:00:00Z"), none, false, false, "2026-03..2026-04"},
        {Utc("2026-02-28T12:00:00Z"), Utc("2026-03-01T00:00:01Z"), false, true, ""},
        {Utc("2027-01-01T00:00:00Z"), none, false, true, ""},
        // A January event that went in in May: January and May, not between.
        {Utc("2026-01-05T00:00:00Z"), Utc("2026-01-06T00:00:00Z"), false, false,
         "2026-01..2026-02 2026-05..2026-06", true},
    };
    std::vector<MonthSpan> withMay = months;
    withMay.push_back(month("2026-05-01T00:00:00Z", "2026-06-01T00:00:00Z",
                            "2026-01-05T10:00:00Z", "2026-05-03T00:00:00Z"));
    for (const Case &c : cases) {
        const MonthWindow w = WindowFor(c.lateLine ? withMay : months, c.since, c.until);
        SCOPED_TRACE(c.ranges);
        EXPECT_EQ(w.all, c.all);
        EXPECT_EQ(w.none, c.nothing);
        EXPECT_EQ(ranges(w), c.ranges);
    }
    EXPECT_TRUE(WindowFor({}, Utc("2026-01-01T00:00:00Z"), none).all) << "no months known";
}
