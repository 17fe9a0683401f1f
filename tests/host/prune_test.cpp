// What prune decides before it touches the database or a file: which files
// are left over from a prune that stopped, which are candidates, whether
// lines are missing before them, how the record says where a file went, and
// what a rotated file read whole holds.
#include <gtest/gtest.h>

#include <unistd.h>

#include <string>
#include <vector>

#include "prune_plan.h"
#include "rotated_file.h"
#include "temp_folder.h"
#include "trail_chain.h"

using namespace qz45trail;

namespace {

TrailPart Part(const std::string &name, long long first, bool current = false) {
    TrailPart p;
    p.path = "/trail/" + name;
    p.name = name;
    p.firstLine = first;
    p.current = current;
    return p;
}

PrunedFile Pruned(const std::string &name, long long first, long long last) {
    PrunedFile p;
    p.name = name;
    p.firstLine = first;
    p.lastLine = last;
    p.action = "deleted";
    return p;
}

std::vector<std::string> Names(const std::vector<TrailPart> &parts) {
    std::vector<std::string> names;
    for (const TrailPart &p : parts) names.push_back(p.name);
    return names;
}

TEST(PrunePlan, SortsFilesIntoLeftoversAndCandidates) {
    struct Case {
        const char *what;
        std::vector<TrailPart> listed;
        std::vector<PrunedFile> pruned;
        std::vector<std::string> leftovers, candidates;
        long long prunedThrough;
        bool anyCandidate, gap;
    };
    const TrailPart a = Part("a", 1), b = Part("b", 4), c = Part("c", 7), cur = Part("t", 0, true);
    const std::vector<Case> cases = {
        {"nothing pruned yet", {a, b, cur}, {}, {}, {"a", "b", "t"}, 0, true, false},
        {"only the current file", {cur}, {}, {}, {"t"}, 0, false, false},
        {"pruned files gone", {c, cur}, {Pruned("a", 1, 3), Pruned("b", 4, 6)}, {}, {"c", "t"},
         6, true, false},
        {"a recorded file still there is finished, not a candidate",
         {b, c, cur}, {Pruned("a", 1, 3), Pruned("b", 4, 6)}, {"b"}, {"c", "t"}, 6, true, false},
        {"the current file is never a leftover, whatever the record names",
         {c, cur}, {Pruned("a", 1, 6), Pruned("t", 7, 9)}, {}, {"c", "t"}, 9, true, true},
        {"lines missing before the first file, none pruned", {c, cur}, {}, {}, {"c", "t"}, 0,
         true, true},
        {"lines missing between the pruned and the first file", {c, cur}, {Pruned("a", 1, 3)},
         {}, {"c", "t"}, 3, true, true},
        {"the record's highest last line counts, in any order", {c, cur},
         {Pruned("b", 4, 6), Pruned("a", 1, 3)}, {}, {"c", "t"}, 6, true, false},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        const PrunePlan plan = PlanPrune(k.listed, k.pruned);
        std::vector<std::string> leftovers;
        for (const Leftover &l : plan.leftovers) {
            leftovers.push_back(l.part.name);
            EXPECT_EQ(l.record.name, l.part.name);
        }
        EXPECT_EQ(leftovers, k.leftovers);
        EXPECT_EQ(Names(plan.candidates), k.candidates);
        EXPECT_EQ(plan.prunedThrough, k.prunedThrough);
        EXPECT_EQ(plan.AnyCandidate(), k.anyCandidate);
        EXPECT_EQ(plan.GapBeforeCandidates(), k.gap);
    }
}

TEST(PrunePlan, RecordedActionNamesTheArchive) {
    const std::vector<std::string> archives = {"", "D:\\archive", "\\\\server\\moved to here",
                                               "moved to"};
    for (const std::string &archive : archives) {
        SCOPED_TRACE(archive);
        const std::string action = PruneAction(archive);
        EXPECT_EQ(action, archive.empty() ? "deleted" : "moved to " + archive);
        EXPECT_EQ(ArchiveOf(action), archive);
    }
    EXPECT_EQ(ArchiveOf("deleted"), "");
    EXPECT_EQ(ArchiveOf("moved"), "");
}

// Rotated files written into a folder of their own.
class RotatedFileTest : public ::testing::Test {
protected:
    TrailPart Write(const std::string &name, const std::string &bytes) {
        TrailPart part;
        part.path = folder_.Write(name, bytes);
        part.name = name;
        part.firstLine = 10;
        return part;
    }
    // Lines chained from the start, one per content.
    static std::vector<std::string> Chained(const std::vector<std::string> &contents) {
        std::vector<std::string> lines;
        std::string prev = kChainStart, line;
        for (const std::string &c : contents) {
            EXPECT_TRUE(ChainLine(prev, c, &line));
            ChainedLine split;
            EXPECT_TRUE(SplitChainedLine(line, &split));
            prev = split.hash;
            lines.push_back(line);
        }
        return lines;
    }
    TempFolder folder_{"rotated_file"};
};

TEST_F(RotatedFileTest, ReadsLinesAndLastLine) {
    const std::vector<std::string> lines =
        Chained({R"({"submitted":"2026-01-01T00:00:00.000Z","n":1})",
                 R"({"submitted":"2026-01-02T00:00:00.000Z","n":2})"});
    RotatedFile file;
    std::string why;
    ASSERT_TRUE(ReadRotatedFile(Write("a.jsonl", lines[0] + "\n" + lines[1] + "\n"), &file, &why))
        << why;
    EXPECT_EQ(file.lines, lines);
    EXPECT_EQ(file.lastLine, 11);
    ChainedLine last;
    ASSERT_TRUE(SplitChainedLine(lines[1], &last));
    EXPECT_EQ(file.lastHash, last.hash);
    EXPECT_EQ(file.lastSubmitted, "2026-01-02T00:00:00.000Z");
}

TEST_F(RotatedFileTest, RefusesWhatCannotBePruned) {
    const std::vector<std::string> chained = Chained({R"({"n":1})", R"({"submitted":7})"});
    struct Case {
        const char *what;
        std::string bytes;
        bool reads;
        std::string why;  // "" when it reads
    };
    const std::vector<Case> cases = {
        {"no line", "", false, "f.jsonl holds no line"},
        {"an unfinished last line", chained[0] + "\n" + chained[1], false,
         "f.jsonl ends in an unfinished line"},
        {"a last line without chain members", chained[0] + "\n{\"n\":2}\n", false,
         "f.jsonl: its last line has no chain members"},
        {"a time of submission that is not a text", chained[0] + "\n" + chained[1] + "\n", true,
         ""},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        RotatedFile file;
        std::string why;
        EXPECT_EQ(ReadRotatedFile(Write("f.jsonl", k.bytes), &file, &why), k.reads);
        EXPECT_EQ(why, k.why);
        if (k.reads) EXPECT_EQ(file.lastSubmitted, "");
    }
    RotatedFile file;
    std::string why;
    TrailPart missing = Write("g.jsonl", "");
    unlink(missing.path.c_str());
    EXPECT_FALSE(ReadRotatedFile(missing, &file, &why));
    EXPECT_FALSE(why.empty());
}

}  // namespace
