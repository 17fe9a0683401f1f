// The check of a machine's stored rows, fed rows built in memory: what the
// database may hold after a superuser's edits, and what a trail file as a
// witness says of it.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "findings.h"
#include "stored_rows_check.h"
#include "trail_chain.h"
#include "trail_lines.h"
#include "trail_row.h"

using namespace qz45trail;

namespace {

// Lines of a trail in memory, from a position on.
class MemoryLines : public LineSource {
public:
    MemoryLines(const std::vector<std::string> &lines, std::size_t from)
        : lines_(lines), at_(from) {}
    LineResult Next(std::string *line) override {
        if (at_ >= lines_.size()) return LineResult::kEnd;
        *line = lines_[at_++];
        return LineResult::kLine;
    }
    std::string Error() const override { return ""; }

private:
    std::vector<std::string> lines_;
    std::size_t at_;
};

// Trail lines with descriptors d1, d2, ...: the first `unchained` of them
// without chain members, the rest chained from the trail's start.
std::vector<std::string> Trail(int n, int unchained = 0, const std::string &descriptor3 = "d3") {
    std::vector<std::string> lines;
    std::string prev = kChainStart;
    for (int i = 1; i <= n; ++i) {
        const std::string content = "{\"event\":\"E\",\"properties\":{\"Descriptor\":\"" +
                                    (i == 3 ? descriptor3 : "d" + std::to_string(i)) + "\"}}";
        if (i <= unchained) {
            lines.push_back(content);
            continue;
        }
        std::string line;
        EXPECT_TRUE(ChainLine(prev, content, &line));
        ChainedLine parts;
        EXPECT_TRUE(SplitChainedLine(line, &parts));
        prev = parts.hash;
        lines.push_back(line);
    }
    return lines;
}

Row RowOf(long long n, const std::string &line) {
    Row row;
    std::string why;
    EXPECT_TRUE(RowFromLine("m", n, line, &row, &why)) << why;
    return row;
}

// What a case starts from: lines 1-5 stored, one shipment that stored them,
// and (with a witness) the trail file holding lines 1-5.
struct Stored {
    std::vector<std::string> file;
    std::vector<Row> rows;
    std::vector<Shipment> log;
    bool witness = false;
    long long witnessFrom = 1;
    long long accept = -1;
    long long archived = 0;  // lines 1..archived out of the table, ending in archivedHash
    std::string archivedHash;

    Stored() { Reset(Trail(5)); }
    // Another trail, stored and shipped whole.
    void Reset(std::vector<std::string> lines) {
        file = std::move(lines);
        rows.clear();
        for (std::size_t i = 0; i < file.size(); ++i)
            rows.push_back(RowOf(static_cast<long long>(i + 1), file[i]));
        log = {{1, static_cast<long long>(file.size()), rows.back()[kLineSha256].text,
                "2026-12-09T10:00:00.000Z"}};
    }
    // Lines 1..n archived: their rows gone, the check told where they end
    // (with line `hashOf`'s hash).
    void Archive(long long n, long long hashOf) {
        ChainedLine parts;
        EXPECT_TRUE(SplitChainedLine(file[hashOf - 1], &parts));
        rows.erase(rows.begin(), rows.begin() + n);
        archived = n;
        archivedHash = parts.hash;
    }
    // Rows 1..last kept, and one shipment of lines 1..logged logged.
    void Keep(long long last, long long logged) {
        rows.resize(static_cast<std::size_t>(last));
        log = {{1, logged, rows[logged - 1][kLineSha256].text, ""}};
    }
    // Row n (1-based) made from other content chained where line n was,
    // all its columns with it; with keepHash, line n's hash member kept.
    void Edit(long long n, const std::string &content, bool keepHash) {
        ChainedLine parts;
        EXPECT_TRUE(SplitChainedLine(file[n - 1], &parts));
        std::string line;
        EXPECT_TRUE(ChainLine(parts.prev, content, &line));
        if (keepHash) line.replace(line.size() - 66, 64, parts.hash);
        rows[n - 1] = RowOf(n, line);
    }
};

Findings Check(const Stored &s, FirstChained *first = nullptr) {
    StoredRowsCheck check("m", s.log, s.accept);
    MemoryLines file(s.file, static_cast<std::size_t>(s.witnessFrom - 1));
    if (s.witness) check.UseWitness(&file, s.witnessFrom, "trail.jsonl");
    if (s.archived > 0) check.StartAfter(s.archived, s.archivedHash, "manifest m.json");
    for (const Row &row : s.rows)
        if (!check.Add(row)) break;
    Findings found = check.Finish();
    if (first != nullptr) *first = check.First();
    return found;
}

std::string AllSaid(const Findings &found) {
    std::string all;
    for (const Finding &f : found.list) all += f.Said() + "\n";
    return all;
}

}  // namespace

TEST(StoredRowsCheck, Verdicts) {
    const std::string edited =
        "{\"event\":\"E\",\"properties\":{\"Descriptor\":\"forged\"}}";
    const struct {
        const char *what;
        std::function<void(Stored &)> edit;
        int exit;
        const char *says;  // in one of the findings, "m: " before it
    } cases[] = {
        {"all as shipped", [](Stored &) {}, kExitOk,
         "m: 5 lines, chain intact; last line shipped 2026-12-09T10:00:00.000Z\n"},
        {"a gap", [](Stored &s) { s.rows.erase(s.rows.begin() + 2); }, kExitBroken,
         "m: line 3 missing: removed from the database\n"},
        // Archived lines: the rows go on from the archive's last line.
        {"lines 1-2 archived", [](Stored &s) { s.Archive(2, 2); }, kExitOk,
         "m: lines 1-2 archived (manifest m.json), chained on to: 3 lines, chain intact; last "
         "line shipped 2026-12-09T10:00:00.000Z\n"},
        {"archived, and the next row gone", [](Stored &s) {
             s.Archive(2, 2);
             s.rows.erase(s.rows.begin());
         },
         kExitBroken, "m: line 3 missing: removed from the database\n"},
        {"archived, ending in another hash", [](Stored &s) { s.Archive(2, 1); }, kExitBroken,
         "m: line 3 "},
        {"two rows gone at the start",
         [](Stored &s) { s.rows.erase(s.rows.begin(), s.rows.begin() + 2); }, kExitBroken,
         "m: lines 1-2 missing: removed from the database\n"},
        {"a changed column", [](Stored &s) { s.rows[1][kDescriptor].text = "D"; }, kExitBroken,
         "m: line 2: column descriptor does not match the line's text: changed in the database\n"},
        {"a line text that is no trail line", [](Stored &s) { s.rows[1][kLineText].text = "{"; },
         kExitBroken, "m: line 2: its stored text is not a trail line (not a JSON object)"},
        {"a changed line text, its columns with it",
         [&edited](Stored &s) { s.Edit(4, edited, true); }, kExitBroken, "m: line 4 was changed: its content does not match its hash\n"},
        {"the log's last line re-chained", [&edited](Stored &s) { s.Edit(5, edited, false); },
         kExitBroken,
         "m: line 5 is not the line the shipment log recorded: changed in the database\n"},
        {"lines logged, then deleted", [](Stored &s) { s.rows.resize(3); }, kExitBroken,
         "m: lines 4-5 shipped (in the shipment log) but not in the database: deleted from it\n"},
        {"nothing stored, nothing logged",
         [](Stored &s) {
             s.rows.clear();
             s.log.clear();
         },
         kExitBroken, "m: no lines in the database\n"},
        {"lines stored but unlogged",
         [](Stored &s) { s.Keep(5, 2); }, kExitBroken,
         "m: lines 3-5 stored, but no shipment in the log stored them"},
        {"a shipment's entry gone between two",
         [](Stored &s) {
             s.log = {{1, 2, s.rows[1][kLineSha256].text, ""},
                      {5, 5, s.rows[4][kLineSha256].text, ""}};
         },
         kExitBroken, "m: lines 3-4 stored, but no shipment in the log stored them"},
        {"lines without chain members, not accepted",
         [](Stored &s) {
             s.Reset(Trail(5, 2));
             s.log[0].shippedAt = "";
         },
         kExitUnchained,
         "m: 2 line(s) without chain members before the chain: not proved unchanged\n"},
        {"lines without chain members, accepted",
         [](Stored &s) {
             s.Reset(Trail(5, 2));
             s.accept = 2;
         },
         kExitOk, "m: 5 lines, chain intact; last line shipped 2026-12-09T10:00:00.000Z\n"},
        {"a row with U+0000 shown", [](Stored &s) { s.Reset(Trail(5, 0, "d\\u0000")); }, kExitOk,
         "m: 1 row(s) show U+2400 for a U+0000 the database cannot store (replaced = 1); their "
         "line_text is exact\n"},
        {"a row marked as showing U+0000 without one",
         [](Stored &s) { s.rows[0][kReplaced].number = 1; }, kExitBroken,
         "m: line 1: column replaced does not match"},
        {"the file as it was shipped", [](Stored &s) { s.witness = true; }, kExitOk,
         "m: every line of trail.jsonl is in the database\n"},
        {"a witness line that differs",
         [&edited](Stored &s) {
             s.witness = true;
             s.file[2] = edited;
         },
         kExitBroken,
         "m: trail.jsonl line 3 differs from the line stored in the database: the file was "
         "changed or re-chained after the line was shipped\n"},
        {"the file's lines not shipped yet",
         [](Stored &s) {
             s.witness = true;
             s.Keep(3, 3);
         },
         kExitOk, "m: trail.jsonl lines 4-5 not shipped yet\n"},
        {"the file's end cut off",
         [](Stored &s) {
             s.witness = true;
             s.file.resize(3);
         },
         kExitBroken,
         "m: the database holds lines 4-5, which trail.jsonl no longer has: its end was cut off "
         "after shipping\n"},
        {"lines before the files' first lost",
         [](Stored &s) {
             s.witness = true;
             s.witnessFrom = 5;
             s.Keep(2, 2);
         },
         kExitBroken,
         "m: lines 3-4 lost: in neither the database nor trail.jsonl, whose files start at line 5 "
         "(pruned or removed, but not shipped, or deleted from the database)\n"},
        {"no line of the machine, its files pruned",
         [](Stored &s) {
             s.witness = true;
             s.witnessFrom = 4;
             s.rows.clear();
             s.log.clear();
         },
         kExitBroken, "(the database holds no line of machine m: is that the machine's name?)\n"},
        {"unlogged lines and unaccepted unchained ones: the graver verdict stands",
         [](Stored &s) {
             s.Reset(Trail(5, 2));
             s.witness = true;
             s.Keep(5, 3);
         },
         kExitBroken, "m: lines 4-5 stored, but no shipment in the log stored them"},
        {"unlogged lines, the file's later lines with them",
         [](Stored &s) {
             s.witness = true;
             s.Keep(3, 1);
         },
         kExitBroken,
         "m: trail.jsonl lines 4-5 not in the database: deleted with the shipment's log entry, or "
         "not shipped yet\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Stored s;
        c.edit(s);
        const Findings found = Check(s);
        const std::string all = AllSaid(found);
        EXPECT_EQ(found.exit, c.exit) << all;
        EXPECT_NE(all.find(c.says), std::string::npos) << all;
        for (const Finding &f : found.list) EXPECT_FALSE(f.failure) << f.Said();
    }
}

// The first chained line names the trail across machines: the first line,
// or the first after those without chain members. Machines with the same
// one hold one trail; the same unchained lines before another chain do not
// make one.
TEST(StoredRowsCheck, OneTrailUnderTwoNames) {
    Stored s;
    FirstChained first;
    Check(s, &first);
    EXPECT_EQ(first.lineNo, 1);
    EXPECT_EQ(first.sha, s.rows[0][kLineSha256].text);
    Stored late;
    late.Reset(Trail(5, 2));
    FirstChained lateFirst;
    Check(late, &lateFirst);
    EXPECT_EQ(lateFirst.lineNo, 3);
    EXPECT_EQ(lateFirst.sha, late.rows[2][kLineSha256].text);
    Stored other;
    other.Reset(Trail(5, 2, "x3"));
    FirstChained otherFirst;
    Check(other, &otherFirst);

    SharedTrails shared;
    Findings found;
    shared.Add("a", first, &found);
    shared.Add("b", lateFirst, &found);
    shared.Add("c", FirstChained{}, &found);
    shared.Add("d", otherFirst, &found);
    shared.Add("e", first, &found);
    shared.Add("f", lateFirst, &found);
    EXPECT_EQ(AllSaid(found),
              "e: holds the trail of machine a (line 1, its first chained line, is the same "
              "line): one trail shipped under two machine names\n"
              "f: holds the trail of machine b (line 3, its first chained line, is the same "
              "line): one trail shipped under two machine names\n");
    EXPECT_EQ(found.exit, kExitOk);
}
