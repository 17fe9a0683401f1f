// qz45trail's text helpers: the one CSV writer (read back as a spreadsheet
// or a program would), HTML and URL encoding, UTC arithmetic, times with
// their offset, line ranges and the chart.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bar_chart.h"
#include "csv.h"
#include "html.h"
#include "line_range.h"
#include "url.h"
#include "utc_time.h"

namespace qz45trail {
namespace {

// One CSV record (RFC 4180, ended by CR LF) as its cells.
std::vector<std::string> ReadRecord(const std::string &record) {
    std::vector<std::string> cells(1);
    bool quoted = false;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const char c = record[i];
        if (quoted && c == '"' && i + 1 < record.size() && record[i + 1] == '"') {
            cells.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            cells.emplace_back();
        } else if (!quoted && c == '\r' && record.compare(i, 2, "\r\n") == 0) {
            break;
        } else {
            cells.back() += c;
        }
    }
    return cells;
}

TEST(CsvTest, EveryCellReadsBackExactlyWithOneLeadingApostropheRemoved) {
    const std::vector<std::string> texts = {
        "", "plain", "J\xC3\xBCrgen", "=1+2", "=HYPERLINK(\"http://x\")", "+41 44", "-", "--",
        "-x", "@SUM(A1)", "\tTAB", "\rCR", "'", "'-1", "''quoted", "a,b", "say \"hi\"",
        "two\r\nlines", "line\nfeed", " =not first", "1-2", "-1.", "-.5", "1e", "0x10",
        // numbers, written as they are
        "-1", "-4.25", "0", "42", "3.14159", "1e-05", "-2.5E+10", "007"};
    std::vector<std::string> written;
    const std::vector<std::string> cells = ReadRecord(CsvRecord(texts));
    ASSERT_EQ(cells.size(), texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) {
        std::string back = cells[i];
        if (!back.empty() && back[0] == '\'') back.erase(0, 1);
        EXPECT_EQ(back, texts[i]) << "cell " << i;
        // Nothing a spreadsheet could run: a cell that is not a number never
        // starts with a formula's character.
        if (!CsvNumber(texts[i]) && !cells[i].empty())
            EXPECT_EQ(std::string("=+-@\t\r").find(cells[i][0]), std::string::npos) << cells[i];
    }
}

TEST(CsvTest, NumbersAreNeverChanged) {
    struct Case {
        const char *text;
        bool number;
    } const cases[] = {
        {"-1", true},  {"-4.25", true}, {"1e-05", true}, {"-0", true},   {"12345678901234567890", true},
        {"+1", false}, {"-", false},    {"1.", false},   {".5", false}, {"1e", false},
        {"1e+", false}, {"- 1", false}, {"1 ", false},  {"", false},   {"-1-1", false},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CsvNumber(c.text), c.number) << c.text;
        if (c.number) EXPECT_EQ(CsvCell(c.text), c.text);
    }
    EXPECT_EQ(CsvCell("-1+1"), "'-1+1");
    EXPECT_EQ(CsvCell("=A1,B1"), "\"'=A1,B1\"");
}

TEST(TextTest, HtmlAndUrlEncodingKeepTextsInert) {
    EXPECT_EQ(Html("<script>alert('x & \"y\"')</script>"),
              "&lt;script&gt;alert(&#39;x &amp; &quot;y&quot;&#39;)&lt;/script&gt;");
    EXPECT_EQ(UrlEncode("plant\\op 2&x=\xC3\xBC"), "plant%5Cop%202%26x%3D%C3%BC");
    const std::string awkward = "a=b&c d+e%\xC3\xBC#?";
    EXPECT_EQ(ParseForm("x=" + UrlEncode(awkward)).at("x"), awkward);
    const auto form = ParseForm("a=1&b=x+y&&c&d=%4&e=%zz&a=2");
    EXPECT_EQ(form.at("a"), "2");
    EXPECT_EQ(form.at("b"), "x y");
    EXPECT_EQ(form.at("c"), "");
    EXPECT_EQ(form.at("d"), "%4");
    EXPECT_EQ(form.at("e"), "%zz");
    EXPECT_EQ(TargetPath("/history?d=1"), "/history");
    EXPECT_EQ(TargetQuery("/history?d=1?x"), "d=1?x");
    EXPECT_EQ(TargetQuery("/"), "");
}

TEST(TextTest, UtcArithmeticAndOffsets) {
    struct Case {
        const char *from;
        long long seconds;
        const char *to;
    } const cases[] = {
        {"2024-02-28T23:59:59.250Z", 1, "2024-02-29T00:00:00.250Z"},
        {"2023-02-28T23:59:59Z", 1, "2023-03-01T00:00:00Z"},
        {"2000-03-01T00:00:00Z", -1, "2000-02-29T23:59:59Z"},
        {"1970-01-01T00:00:00Z", -86400, "1969-12-31T00:00:00Z"},
        {"2026-12-08T10:00:00Z", -7 * 86400, "2026-12-01T10:00:00Z"},
        {"2099-12-31T23:59:59Z", 1, "2100-01-01T00:00:00Z"},
    };
    for (const Case &c : cases) {
        UtcTime from, to;
        ASSERT_TRUE(ParseUtc(c.from, &from));
        ASSERT_TRUE(ParseUtc(c.to, &to));
        EXPECT_EQ(UtcText(AddSeconds(from, c.seconds)), UtcText(to)) << c.from;
        EXPECT_DOUBLE_EQ(SecondsBetween(from, to), static_cast<double>(c.seconds));
    }

    UtcTime utc;
    ASSERT_TRUE(ParseUtc("2026-12-08T09:15:00.250Z", &utc));
    EXPECT_EQ(OffsetTimeText(utc, AddSeconds(utc, 3600), true), "2026-12-08 10:15:00.250 +01:00");
    EXPECT_EQ(OffsetTimeText(utc, AddSeconds(utc, -(3 * 3600 + 1800)), false),
              "2026-12-08 05:45:00 -03:30");
    EXPECT_EQ(OffsetTimeText(utc, AddSeconds(utc, 14 * 3600), false), "2026-12-08 23:15:00 +14:00");
    EXPECT_EQ(OffsetTimeText(utc, utc, false), "2026-12-08 09:15:00 +00:00");
}

TEST(TextTest, LineRangesAndChart) {
    EXPECT_EQ(LineRange(7, 7), "line 7");
    EXPECT_EQ(LineRange(7, 9), "lines 7-9");

    const std::string svg =
        BarChart({"203 <refused>", "301 change"}, {{"2026-12-08", {2, 0}}, {"12-09 & on", {1, 5}}});
    EXPECT_EQ(svg.rfind("<svg", 0), 0u);
    std::size_t bars = 0;
    for (std::size_t at = svg.find("</title></rect>"); at != std::string::npos;
         at = svg.find("</title></rect>", at + 1))
        ++bars;
    EXPECT_EQ(bars, 3u) << "a bar for each count above zero";
    EXPECT_EQ(svg.find("<refused>"), std::string::npos);
    EXPECT_NE(svg.find("12-09 &amp; on, 301 change: 5"), std::string::npos);
}

}  // namespace
}  // namespace qz45trail
