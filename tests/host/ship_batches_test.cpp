// The trail as the shipper reads it: past the lines the database holds, the
// lines after them into batches of at most kBatchLines rows, and the lines
// and files that stop it, with the words it stops with.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ship_errors.h"
#include "temp_folder.h"
#include "trail_batches.h"
#include "trail_chain.h"

using namespace qz45trail;

namespace {

// Lines 1..n of a trail, chained from its start.
std::vector<std::string> Trail(int n) {
    std::vector<std::string> lines;
    std::string prev = kChainStart, line;
    for (int i = 1; i <= n; ++i) {
        EXPECT_TRUE(ChainLine(prev, "{\"event\":\"E\",\"n\":" + std::to_string(i) + "}", &line));
        ChainedLine split;
        EXPECT_TRUE(SplitChainedLine(line, &split));
        prev = split.hash;
        lines.push_back(line);
    }
    return lines;
}

class ShipBatchesTest : public ::testing::Test {
protected:
    // The lines, each with its line end, then the bytes of an unfinished one.
    void Write(const std::vector<std::string> &lines, const std::string &unfinished = "") {
        std::string bytes;
        for (const std::string &l : lines) bytes += l + "\n";
        folder_.Write("trail.jsonl", bytes + unfinished);
    }
    // The trail read past `stored` lines, and its next batch: its line
    // numbers, and what stopped it.
    std::vector<long long> FirstBatch(TrailBatches *trail, long long stored, std::string *stop) {
        trail->Reposition(stored);
        std::vector<Row> rows;
        trail->Fill(&rows, stored, stop);
        return Numbers(rows);
    }
    static std::vector<long long> Numbers(const std::vector<Row> &rows) {
        std::vector<long long> numbers;
        for (const Row &r : rows) numbers.push_back(r[kLineNo].number);
        return numbers;
    }
    TempFolder folder_{"ship_batches"};
    const std::string dir_ = folder_.Path();
    const std::string file_ = dir_ + "trail.jsonl";
};

TEST_F(ShipBatchesTest, FillsBatchesAfterWhatIsStored) {
    struct Case {
        const char *what;
        int lines;
        long long stored;                     // lines known to be in the database
        std::vector<long long> first, second;  // line numbers of two batches read one after another
    };
    const std::vector<Case> cases = {
        {"nothing stored", 3, 0, {1, 2, 3}, {}},
        {"some stored", 5, 2, {3, 4, 5}, {}},
        {"all stored", 4, 4, {}, {}},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        Write(Trail(k.lines));
        TrailBatches trail(file_, "m", false);
        EXPECT_EQ(trail.Reposition(k.stored), k.stored);
        std::vector<Row> rows;
        std::string stop;
        trail.Fill(&rows, k.stored, &stop);
        EXPECT_EQ(Numbers(rows), k.first);
        EXPECT_EQ(stop, "");
        const long long after = k.stored + static_cast<long long>(rows.size());
        trail.Fill(&rows, after, &stop);
        EXPECT_EQ(Numbers(rows), k.second);
        EXPECT_EQ(trail.Number(), k.lines);
    }
}

// Lines 1-3 pruned (recorded), 4-6 in a rotated file, 7-8 in the current
// one: what was shipped before the pruning is known stored without reading.
TEST_F(ShipBatchesTest, GoesOnAfterPrunedLines) {
    const std::vector<std::string> lines = Trail(8);
    const auto put = [&](const std::string &name, int first, int last) {
        std::string bytes;
        for (int n = first; n <= last; ++n) bytes += lines[n - 1] + "\n";
        folder_.Write(name, bytes);
    };
    put("trail.2026-12-08T101400Z.000000004.jsonl", 4, 6);
    put("trail.jsonl", 7, 8);
    ChainedLine third;
    ASSERT_TRUE(SplitChainedLine(lines[2], &third));
    folder_.Write("trail.pruned.jsonl",
                  "{\"file\":\"trail.2026-12-08T101100Z.000000001.jsonl\",\"first_line\":1,"
                  "\"last_line\":3,\"last_hash\":\"" + third.hash + "\"}\n");
    const struct {
        long long stored, through;
        std::vector<long long> batch;
    } cases[] = {{0, 3, {4, 5, 6, 7, 8}}, {3, 3, {4, 5, 6, 7, 8}}, {5, 5, {6, 7, 8}}};
    for (const auto &k : cases) {
        SCOPED_TRACE(k.stored);
        TrailBatches trail(file_, "m", false);
        EXPECT_EQ(trail.Reposition(k.stored), k.through);
        std::string stop;
        EXPECT_EQ(FirstBatch(&trail, k.through, &stop), k.batch);
        EXPECT_EQ(stop, "");
    }
}

TEST_F(ShipBatchesTest, ABatchHoldsAtMostBatchLines) {
    Write(Trail(kBatchLines + 2));
    TrailBatches trail(file_, "m", false);
    trail.Reposition(0);
    std::vector<Row> rows;
    std::string stop;
    trail.Fill(&rows, 0, &stop);
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kBatchLines));
    EXPECT_EQ(rows.front()[kLineNo].number, 1);
    EXPECT_EQ(rows.back()[kLineNo].number, kBatchLines);
    EXPECT_EQ(rows.back()[kLineSha256].text.size(), 64u);
    trail.Fill(&rows, kBatchLines, &stop);
    EXPECT_EQ(Numbers(rows), (std::vector<long long>{kBatchLines + 1, kBatchLines + 2}));
}

TEST_F(ShipBatchesTest, StopsAtALineThatIsNotATrailLine) {
    std::vector<std::string> lines = Trail(2);
    lines.push_back("not json");
    lines.push_back(Trail(4)[3]);
    Write(lines);
    TrailBatches trail(file_, "m", false);
    std::string stop;
    EXPECT_EQ(FirstBatch(&trail, 0, &stop), (std::vector<long long>{1, 2}));
    EXPECT_EQ(stop, file_ + " line 3 is not a trail line (not a JSON object): shipping stops "
                            "there, the 2 line(s) before it are in the database");
}

TEST_F(ShipBatchesTest, LeavesAnUnfinishedLastLine) {
    const std::vector<std::string> lines = Trail(3);
    Write({lines[0], lines[1]}, lines[2].substr(0, 10));
    TrailBatches trail(file_, "m", false);
    std::string stop;
    EXPECT_EQ(FirstBatch(&trail, 0, &stop), (std::vector<long long>{1, 2}));
    EXPECT_EQ(stop, "");
    EXPECT_TRUE(trail.EndsUnfinished());
}

TEST_F(ShipBatchesTest, RefusesATrailShorterThanWhatWasShipped) {
    Write(Trail(3));
    TrailBatches trail(file_, "m", false);
    try {
        trail.Reposition(5);
        ADD_FAILURE() << "a trail of 3 lines taken past line 5";
    } catch (const Refusal &e) {
        EXPECT_EQ(std::string(e.what()), file_ + " has fewer lines than the 5 shipped from it: "
                                                 "it was cut off or replaced; stopped");
    }
}

TEST_F(ShipBatchesTest, WaitsOnlyWhenFollowing) {
    std::vector<std::string> said;
    const auto say = [&said](const std::string &why) { said.push_back(why); };
    std::string failure;
    EXPECT_FALSE(TrailBatches(file_, "m", false).WaitUntilThere(say, &failure));
    EXPECT_EQ(failure.rfind("cannot read " + file_ + ": ", 0), 0u) << failure;
    Write(Trail(1));
    failure.clear();
    EXPECT_TRUE(TrailBatches(file_, "m", true).WaitUntilThere(say, &failure));
    EXPECT_EQ(failure, "");
    EXPECT_TRUE(said.empty());
}

}  // namespace
