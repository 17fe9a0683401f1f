// The audit trail's line format: the hash, the chain, the lines of a file a
// writer may be appending to, and a line as a row of the plant database.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "csv.h"
#include "sha256.h"
#include "trail_chain.h"
#include "trail_file.h"
#include "trail_lines.h"
#include "trail_row.h"
#include "trail_set.h"
#include "trail_view.h"

using namespace qz45trail;
using Kind = ChainVerdict::Kind;
using Result = TrailReader::Result;

namespace {

// Bytes in memory, read by position; every read fails while `fail` is set.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(std::string b) : bytes(std::move(b)) {}
    bool ReadAt(uint64_t offset, char *buffer, std::size_t n, std::size_t *got,
                std::string *error) override {
        *got = 0;
        if (fail) {
            *error = "read failed";
            return false;
        }
        if (offset < bytes.size()) {
            *got = std::min<std::size_t>(n, bytes.size() - offset);
            std::memcpy(buffer, bytes.data() + offset, *got);
        }
        return true;
    }
    bool Size(uint64_t *size, std::string *) override {
        *size = bytes.size();
        return true;
    }
    std::string bytes;
    bool fail = false;
};

std::string Content(const char *event, int n) {
    return "{\"event\":\"" + std::string(event) + "\",\"n\":" + std::to_string(n) + "}";
}

std::string Chained(const std::string &prev, const std::string &content) {
    std::string line;
    EXPECT_TRUE(ChainLine(prev, content, &line)) << content;
    return line;
}

std::string HashOf(const std::string &line) {
    ChainedLine parts;
    EXPECT_TRUE(SplitChainedLine(line, &parts)) << line;
    return parts.hash;
}

// Lines 1..n of a trail, chained from its start.
std::vector<std::string> Trail(int n) {
    std::vector<std::string> lines;
    for (int i = 1; i <= n; ++i)
        lines.push_back(Chained(lines.empty() ? kChainStart : HashOf(lines.back()), Content("E", i)));
    return lines;
}

}  // namespace

TEST(TrailSha256, KnownDigests) {
    const struct {
        std::string data;
        const char *hex;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqr"
         "lmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // Where the length and its padding need a second block.
        {std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {std::string(63, 'a'), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {std::string(65, 'a'), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {std::string("\x00\xff\x80", 3), "f742b965f156c10374bc23aea96e3a8aff8facd6fc079defeaa30219ad86f211"},
    };
    for (const auto &c : cases) {
        std::string hex;
        EXPECT_TRUE(Sha256Hex(c.data, &hex));
        EXPECT_EQ(hex, c.hex) << c.data.size() << " bytes";
    }
}

// Every way a trail's lines can be edited after they were written, and what
// the chain says about it. Lines are numbered 10, 20, ... so that numbers and
// positions cannot be confused.
TEST(TrailChain, VerdictOnEditedTrails) {
    using Lines = std::vector<std::string>;
    const auto plain = [](int n) { return Content("P", n); };
    const struct {
        const char *name;
        std::function<void(Lines &)> edit;
        Kind kind;
        long long line, other;
        std::size_t unchainedPrefix;
        long long firstChained;
        const char *describe;  // nullptr: not checked
    } cases[] = {
        {"intact", [](Lines &) {}, Kind::kIntact, 0, 0, 0, 10, "5 lines, chain intact"},
        // The chain cannot show lines cut off its end.
        {"last removed", [](Lines &t) { t.pop_back(); }, Kind::kIntact, 0, 0, 0, 10, nullptr},
        {"changed",
         [](Lines &t) { t[2].replace(t[2].find("\"n\":3"), 5, "\"n\":7"); },
         Kind::kChanged, 30, 0, 0, 10, "line 30 was changed: its content does not match its hash"},
        {"changed and hashed again",
         [](Lines &t) {
             ChainedLine p;
             SplitChainedLine(t[2], &p);
             ChainLine(p.prev, Content("E", 7), &t[2]);
         },
         Kind::kRemovedBefore, 40, 0, 0, 10,
         "line 40 follows a line that is no longer in the trail: removed before it"},
        {"middle removed", [](Lines &t) { t.erase(t.begin() + 2); }, Kind::kRemovedBefore, 30, 0,
         0, 10, nullptr},
        {"head removed", [](Lines &t) { t.erase(t.begin()); }, Kind::kHeadRemoved, 10, 0, 0, 10,
         "line 10 does not start the chain: lines before it were removed"},
        {"swapped", [](Lines &t) { std::swap(t[1], t[2]); }, Kind::kReordered, 20, 30, 0, 10,
         "line 20 belongs after line 30: lines were reordered"},
        {"duplicated", [](Lines &t) { t.insert(t.begin() + 2, t[1]); }, Kind::kRepeats, 30, 20, 0,
         10, "line 30 repeats line 20: inserted"},
        {"chain members stripped",
         [](Lines &t) {
             ChainedLine p;
             SplitChainedLine(t[2], &p);
             t[2] = p.content;
         },
         Kind::kUnchained, 30, 0, 0, 10,
         "line 30 has no chain members: inserted or edited after the chain began"},
        {"unchained lines before the chain",
         [&](Lines &t) { t.insert(t.begin(), {plain(1), plain(2)}); }, Kind::kIntact, 0, 0, 2, 30,
         "7 lines, chain intact"},
        {"no chained line", [&](Lines &t) { t.assign({plain(1), plain(2)}); }, Kind::kIntact, 0, 0,
         2, 0, nullptr},
        {"own chain inserted",
         [&](Lines &t) { t.insert(t.begin() + 2, Chained(kChainStart, plain(9))); },
         Kind::kOwnChain, 30, 0, 0, 10, "line 30 starts a chain of its own: inserted"},
        {"lines inserted between",
         [&](Lines &t) {
             const std::string x = Chained(HashOf(t[1]), plain(8));
             t.insert(t.begin() + 2, {x, Chained(HashOf(x), plain(9))});
         },
         Kind::kInsertedBetween, 50, 20, 0, 10,
         "line 50 belongs right after line 20: the line(s) between were inserted"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Lines lines = Trail(5);
        c.edit(lines);
        ChainCheck check;
        for (std::size_t i = 0; i < lines.size(); ++i)
            check.Add(10 * static_cast<long long>(i + 1), lines[i]);
        const ChainVerdict v = check.Finish();
        EXPECT_EQ(v.kind, c.kind);
        EXPECT_EQ(v.line, c.line);
        EXPECT_EQ(v.other, c.other);
        EXPECT_EQ(v.lines, lines.size());
        EXPECT_EQ(v.unchainedPrefix, c.unchainedPrefix);
        EXPECT_EQ(v.firstChained, c.firstChained);
        if (c.describe) EXPECT_EQ(v.Describe(), c.describe);
    }
}

TEST(TrailChain, LineMembers) {
    const std::string zeros = kChainStart, a(64, 'a');
    const auto line = [](const std::string &content, const std::string &prev,
                         const std::string &hash, const char *end = "\"}") {
        return content + ",\"prev\":\"" + prev + "\",\"hash\":\"" + hash + end;
    };
    ChainedLine parts;
    ASSERT_TRUE(SplitChainedLine(line("{\"event\":\"E\"", zeros, a), &parts));
    EXPECT_EQ(parts.content, "{\"event\":\"E\"}");
    EXPECT_EQ(parts.prev, zeros);
    EXPECT_EQ(parts.hash, a);

    const std::string notChained[] = {
        line("{\"event\":\"E\"", zeros, std::string(63, 'a') + "F"),
        line("{\"event\":\"E\"", std::string(64, 'A'), a),
        line("{\"event\":\"E\"", zeros, std::string(63, 'a')),
        line("{\"event\":\"E\"", zeros, a + "0"),
        line("{\"event\":\"E\"", zeros, std::string(63, 'a') + "g"),
        line("{\"event\":\"E\"", zeros, a, "\""),
        line("{\"event\":\"E\"", zeros, a, "\"} "),
        line("[\"event\"", zeros, a),
        line("{", zeros, a),
        "{\"event\":\"E\",\"hash\":\"" + a + "\",\"prev\":\"" + zeros + "\"}",
        "{\"event\":\"E\",\"prev\": \"" + zeros + "\",\"hash\":\"" + a + "\"}",
        "",
    };
    for (const std::string &l : notChained) EXPECT_FALSE(SplitChainedLine(l, &parts)) << l;

    const std::vector<std::string> t = Trail(2);
    std::string edited = t[1];
    edited.replace(edited.find("\"n\":2"), 5, "\"n\":3");
    const struct {
        std::string line, prev;
        bool chains;
    } after[] = {
        {t[0], zeros, true},   {t[1], HashOf(t[0]), true}, {t[1], zeros, false},
        {t[1], HashOf(t[1]), false}, {edited, HashOf(t[0]), false},
        {Content("E", 2), HashOf(t[0]), false},
    };
    for (const auto &c : after) EXPECT_EQ(ChainsAfter(c.line, c.prev), c.chains) << c.line;

    // Only an object with members can carry the chain, after a 64-digit prev.
    std::string out;
    for (const auto &[prev, content] : std::vector<std::pair<std::string, std::string>>{
             {zeros, "{}"}, {zeros, "[1]"}, {zeros, "{\"a\":1"}, {zeros, ""},
             {std::string(63, '0'), "{\"a\":1}"}, {std::string(64, 'A'), "{\"a\":1}"}})
        EXPECT_FALSE(ChainLine(prev, content, &out)) << prev << " " << content;
}

// The end of a trail as a writer finds it, and its first line as a reader does.
TEST(TrailLines, EndAndFirstLine) {
    const std::string longest(kLongestLine, 'x'), tooLong(kLongestLine + 1, 'x');
    const std::string spanning(70000, 'y');  // more than one read
    const struct {
        const char *name;
        std::string bytes;
        EndResult result;
        uint64_t lineEnd;
        bool hasLast;
        std::string last, tail;
        std::string first;
        bool complete;
        bool fail = false;
        uint64_t sizeBeyond = 0;  // the size claimed past the bytes
    } cases[] = {
        {"empty", "", EndResult::kOk, 0, false, "", "", "", false},
        {"one line", "a\n", EndResult::kOk, 2, true, "a", "", "a", true},
        {"torn tail", "a\nbc\n{\"ev", EndResult::kOk, 5, true, "bc", "{\"ev", "a", true},
        {"CR LF", "a\r\nb\r\n", EndResult::kOk, 6, true, "b", "", "a", true},
        {"CR in the tail stays", "a\r\nb\r\nc\r", EndResult::kOk, 6, true, "b", "c\r", "a", true},
        {"empty last line", "a\n\n", EndResult::kOk, 3, true, "", "", "a", true},
        {"only a fragment", "frag", EndResult::kOk, 0, false, "", "frag", "frag", false},
        {"line over reads", "a\n" + spanning + "\nt", EndResult::kOk, 70003, true, spanning, "t",
         "a", true},
        {"first line over reads", spanning + "\r\n", EndResult::kOk, 70002, true, spanning, "",
         spanning, true},
        {"longest line", "a\n" + longest + "\n", EndResult::kOk, kLongestLine + 3, true, longest,
         "", "a", true},
        {"last line too long", "a\n" + tooLong + "\nt", EndResult::kOk, kLongestLine + 4, false,
         "", "t", "a", true},
        {"only line too long", tooLong + "\n", EndResult::kOk, kLongestLine + 2, false, "", "", "",
         false},
        {"longest tail", "a\n" + longest, EndResult::kOk, 2, true, "a", longest, "a", true},
        {"tail too long", "a\n" + tooLong, EndResult::kTailTooLong, 0, false, "", "", "a", true},
        {"read fails", "a\n", EndResult::kError, 0, false, "", "", "", false, true},
        {"shorter than its size", "a\nb\n", EndResult::kError, 0, false, "", "", "a", true, false,
         10},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        MemorySource source(c.bytes);
        source.fail = c.fail;
        TrailEnd end;
        std::string error;
        EXPECT_EQ(FindTrailEnd(source, c.bytes.size() + c.sizeBeyond, &end, &error), c.result);
        if (c.result == EndResult::kError) EXPECT_FALSE(error.empty());
        if (c.result == EndResult::kOk) {
            EXPECT_EQ(end.lineEnd, c.lineEnd);
            EXPECT_EQ(end.hasLast, c.hasLast);
            EXPECT_TRUE(end.last == c.last) << end.last.size() << " bytes";
            EXPECT_TRUE(end.tail == c.tail) << end.tail.size() << " bytes";
        }

        std::string first;
        bool complete = true;
        error.clear();
        EXPECT_EQ(ReadFirstLine(source, &first, &complete, &error), !c.fail);
        if (c.fail) EXPECT_FALSE(error.empty());
        // What a first line too long to be a line reads as is left open.
        if (c.complete || c.bytes.size() <= kLongestLine) {
            EXPECT_EQ(complete, c.complete);
            EXPECT_TRUE(first == c.first) << first.size() << " bytes";
        }
    }
}

TEST(TrailLines, ReaderResumesAfterAFailedRead) {
    MemorySource source("a\n");
    TrailReader reader(source);
    std::string line;
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    source.bytes += "c";
    source.fail = true;
    EXPECT_EQ(reader.Next(&line), Result::kError);
    EXPECT_EQ(reader.Error(), "read failed");
    source.fail = false;
    source.bytes += "d\n";
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    EXPECT_EQ(line, "cd");
    EXPECT_EQ(reader.Offset(), 5u);
}

// A trail file on disk that the test writes to while a reader reads it.
class TrailFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = ::testing::TempDir() + "trail_test_XXXXXX";
        ASSERT_NE(mkdtemp(&dir[0]), nullptr);
        dir_ = dir;
        path_ = dir_ + "/trail.jsonl";
    }
    void TearDown() override {
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    void Write(const std::string &bytes, const char *mode = "ab") {
        FILE *f = std::fopen(path_.c_str(), mode);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }
    std::unique_ptr<TrailFile> Open() {
        TrailFile::OpenResult result;
        std::string error;
        auto file = TrailFile::Open(path_, &result, &error);
        EXPECT_EQ(result, TrailFile::OpenResult::kOpened) << error;
        return file;
    }
    std::string dir_, path_;
};

TEST_F(TrailFileTest, LinesOnlyWithTheirLineEnd) {
    Write("a\nb\r\n{\"part", "wb");
    auto file = Open();
    ASSERT_NE(file, nullptr);
    TrailReader reader(*file);
    std::string line;
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    EXPECT_EQ(line, "a");
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    EXPECT_EQ(line, "b");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(reader.Next(&line), Result::kEnd);
        EXPECT_EQ(reader.Unfinished(), 6u);
        EXPECT_EQ(reader.Offset(), 5u);
    }
    Write("ial\":1}\r\n");
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    EXPECT_EQ(line, "{\"partial\":1}");
    EXPECT_EQ(reader.Next(&line), Result::kEnd);
    EXPECT_EQ(reader.Unfinished(), 0u);
    EXPECT_EQ(reader.Offset(), 20u);

    reader.Seek(2);
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    EXPECT_EQ(line, "b");
    TrailReader fromThird(*file, 5);
    ASSERT_EQ(fromThird.Next(&line), Result::kLine);
    EXPECT_EQ(line, "{\"partial\":1}");
}

// A writer that died mid-line leaves a fragment; the next one cuts it off and
// writes its own line in its place. The reader, having seen the fragment,
// must yield the new line alone, not the fragment joined to the new bytes.
TEST_F(TrailFileTest, UnfinishedLineIsReadAgainWhole) {
    Write("L1\nL2\n", "wb");
    auto file = Open();
    ASSERT_NE(file, nullptr);
    TrailReader reader(*file);
    std::string line;
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    for (const std::string &replacement :
         {Content("Replacement", 1) + std::string(100, ' '), std::string("{\"n\":2}")}) {
        const uint64_t lineEnd = reader.Offset();
        Write(std::string("{\"event\":\"Torn\",\"properties\":{\"Message\":\"").substr(0, 40));
        ASSERT_EQ(reader.Next(&line), Result::kEnd);
        EXPECT_EQ(reader.Unfinished(), 40u);
        ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(lineEnd)), 0);
        Write(replacement + "\n");
        ASSERT_EQ(reader.Next(&line), Result::kLine);
        EXPECT_EQ(line, replacement);
        EXPECT_EQ(reader.Next(&line), Result::kEnd);
        EXPECT_EQ(reader.Unfinished(), 0u);
    }
    // Cut and rewritten while the reader is still yielding the lines that came
    // with the fragment in one read, before it reached the end.
    const uint64_t start = reader.Offset();
    const std::string fragment = std::string("{\"event\":\"Torn\",\"properties\":{").substr(0, 30);
    Write("L3\n" + fragment);
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    EXPECT_EQ(line, "L3");
    ASSERT_EQ(truncate(path_.c_str(), static_cast<off_t>(start + 3)), 0);
    const std::string written = Content("Written in its place", 2);
    Write(written + "\n");
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    EXPECT_EQ(line, written);
}

TEST_F(TrailFileTest, LongLines) {
    const std::string overChunk(100000, 'x');
    Write(overChunk + "\r\n" + std::string(kLongestLine + 1, 'y') + "\n", "wb");
    auto file = Open();
    ASSERT_NE(file, nullptr);
    TrailReader reader(*file);
    std::string line;
    ASSERT_EQ(reader.Next(&line), Result::kLine);
    EXPECT_TRUE(line == overChunk) << line.size() << " bytes";
    EXPECT_EQ(reader.Next(&line), Result::kTooLong);
    EXPECT_EQ(reader.Next(&line), Result::kTooLong);
    EXPECT_EQ(reader.Offset(), overChunk.size() + 2);
}

TEST(TrailRow, RowOfALine) {
    const std::string line = Chained(
        kChainStart,
        "{\"context\":{\"AppName\":\"Oskel\",\"User\":\"alice\"},\"event\":\"ChangeValue\","
        "\"properties\":{\"Category\":3,\"Descriptor\":\"Pump 1\",\"EventTime\":{\"date\":36526.5,"
        "\"utc\":\"2000-01-01T12:00:00.250Z\"},\"NewValue\":{\"type\":\"VT_R8\",\"value\":2.5},"
        "\"OldValue\":{\"type\":\"VT_DATE\",\"utc\":\"2000-01-01T00:00:00Z\",\"value\":36526.0}},"
        "\"submitted\":\"2024-05-06T07:08:09.123Z\"}");
    ASSERT_TRUE(IsTrailLine(line));
    Row row;
    std::string why;
    ASSERT_TRUE(RowFromLine("PLANT-7", 42, line, &row, &why)) << why;
    EXPECT_EQ(row[kLineNo].number, 42);
    EXPECT_EQ(UtcText(row[kSubmitted].time), "2024-05-06T07:08:09.123Z");
    EXPECT_EQ(row[kUserName].text, "alice");
    EXPECT_TRUE(row[kDomainName].null);
    EXPECT_EQ(row[kCategory].number, 3);
    EXPECT_EQ(row[kEventTime].time.nanoseconds, 250000000);
    EXPECT_EQ(row[kOldValue].text, "2000-01-01T00:00:00Z");
    EXPECT_EQ(row[kNewValue].text, "2.5");
    EXPECT_EQ(row[kPrevHash].text, kChainStart);
    EXPECT_EQ(row[kLineHash].text, HashOf(line));
    std::string sha;
    ASSERT_TRUE(Sha256Hex(line, &sha));
    EXPECT_EQ(row[kLineSha256].text, sha);
    EXPECT_EQ(row[kLineText].text, line);
    EXPECT_EQ(row[kReplaced].number, 0);

    // The edges of what the properties make: a service's single Value is the
    // new value, NewValue wins over it; a category is a 32-bit LONG, both
    // ends included.
    const struct {
        const char *properties;
        const char *newType, *newValue;  // nullptr: NULL
        long long category;              // -1: NULL
    } edges[] = {
        {"{\"Value\":{\"type\":\"VT_I4\",\"value\":7}}", "VT_I4", "7", -1},
        {"{\"NewValue\":{\"type\":\"VT_BSTR\",\"value\":\"n\"},\"Value\":{\"type\":\"VT_I4\","
         "\"value\":7}}", "VT_BSTR", "n", -1},
        {"{\"Value\":{\"type\":\"VT_EMPTY\"}}", "VT_EMPTY", nullptr, -1},
        {"{}", nullptr, nullptr, -1},
        {"{\"Category\":2147483647}", nullptr, nullptr, 2147483647LL},
        {"{\"Category\":-2147483648}", nullptr, nullptr, -2147483648LL},
        {"{\"Category\":0}", nullptr, nullptr, 0},
    };
    for (const auto &c : edges) {
        SCOPED_TRACE(c.properties);
        Row edge;
        ASSERT_TRUE(RowFromLine("m", 1, std::string("{\"event\":\"E\",\"properties\":") +
                                            c.properties + "}",
                                &edge, &why))
            << why;
        EXPECT_EQ(edge[kNewType].null, c.newType == nullptr);
        EXPECT_EQ(edge[kNewType].text, c.newType ? c.newType : "");
        EXPECT_EQ(edge[kNewValue].null, c.newValue == nullptr);
        EXPECT_EQ(edge[kNewValue].text, c.newValue ? c.newValue : "");
        EXPECT_TRUE(edge[kOldType].null && edge[kOldValue].null);
        EXPECT_EQ(edge[kCategory].null, c.category == -1);
        if (c.category != -1) EXPECT_EQ(edge[kCategory].number, c.category);
    }
}

// U+0000 anywhere in a line, member names included: line_text keeps the
// escape, every other column shows U+2400 and the row is marked.
TEST(TrailRow, NulIsShownAndMarked) {
    const std::string line =
        "{\"event\":\"E\\u0000\",\"k\\u0000\":1,\"properties\":{\"Message\":\"a\\u0000b\"}}";
    Row row;
    std::string why;
    ASSERT_TRUE(RowFromLine("m", 1, line, &row, &why)) << why;
    EXPECT_EQ(row[kReplaced].number, 1);
    EXPECT_EQ(row[kLineText].text, line);
    EXPECT_EQ(row[kMessage].text, "a\xE2\x90\x80" "b");
    EXPECT_EQ(row[kEventClass].text, "E\xE2\x90\x80");
    for (int i = 0; i < kColumnCount; ++i)
        EXPECT_EQ(row[i].text.find('\0'), std::string::npos) << kColumns[i].name;
}

TEST(TrailRow, LinesThatMakeNoRow) {
    const std::string deep = "{\"event\":\"E\",\"a\":" + std::string(100000, '[') +
                             std::string(100000, ']') + "}";
    const struct {
        std::string line;
        bool trailLine;
        const char *why;
    } cases[] = {
        {"not json", false, "not a JSON object"},
        {"[{\"event\":\"E\"}]", false, "not a JSON object"},
        {"{\"event\":\"E\"", false, "not a JSON object"},
        {std::string("{\"event\":\"E\"}\0\0", 15), false, "not a JSON object"},
        {"{\"x\":1}", false, "no event class"},
        {"{\"event\":5}", false, "no event class"},
        {deep, false, "nested deeper"},
        {"{\"event\":\"E\",\"submitted\":\"yesterday\"}", true, "submitted \"yesterday\""},
        {"{\"event\":\"E\",\"properties\":{\"EventTime\":{\"utc\":\"2001-02-29T00:00:00Z\"}}}",
         true, "EventTime"},
        {"{\"event\":\"E\",\"properties\":{\"Category\":\"3\"}}", true, "Category"},
        {"{\"event\":\"E\",\"properties\":{\"Category\":18446744073709551615}}", true, "Category"},
        {"{\"event\":\"E\",\"properties\":{\"Category\":-2147483649}}", true, "Category"},
        {"{\"event\":\"E\",\"properties\":{\"Category\":2147483648}}", true, "Category"},
        {"{\"event\":\"E\",\"properties\":{\"Category\":2.5}}", true, "Category"},
        {"{\"event\":\"E\",\"properties\":[]}", true, "\"properties\" is not an object"},
    };
    for (const auto &c : cases) {
        const std::string shown = c.line.substr(0, 80);
        EXPECT_EQ(IsTrailLine(c.line), c.trailLine) << shown;
        Row row;
        std::string why;
        EXPECT_FALSE(RowFromLine("m", 1, c.line, &row, &why)) << shown;
        EXPECT_NE(why.find(c.why), std::string::npos) << shown << ": " << why;
    }
}

TEST(TrailRow, FirstDifference) {
    Row base;
    std::string why;
    ASSERT_TRUE(RowFromLine("m", 1,
                            "{\"event\":\"E\",\"properties\":{\"Descriptor\":\"d\",\"EventTime\":"
                            "{\"utc\":\"2000-01-01T00:00:00.5Z\"}},\"x\":[1,2]}",
                            &base, &why))
        << why;
    const struct {
        std::function<void(Row &)> edit;
        const char *column;  // nullptr: the rows agree
    } cases[] = {
        {[](Row &) {}, nullptr},
        // What the table does not keep is read from the line again.
        {[](Row &r) { r[kEventClass].text = "F"; }, nullptr},
        {[](Row &r) { r[kLineSha256].null = true; }, nullptr},
        {[](Row &r) { r[kDescriptor].text = "D"; }, "descriptor"},
        {[](Row &r) { r[kMessage] = r[kDescriptor]; }, "message"},
        {[](Row &r) { r[kEventTime].time.nanoseconds += 1; }, "event_time"},
        {[](Row &r) {
             r[kMachine].text = "n";
             r[kReplaced].number = 1;
         },
         "machine"},
    };
    for (const auto &c : cases) {
        Row edited = base;
        c.edit(edited);
        EXPECT_STREQ(FirstDifference(base, edited), c.column);
        EXPECT_STREQ(FirstDifference(edited, base), c.column);
    }
}

// The view's filter on rows: texts compared as account names are (letter
// for letter, case aside), a user with or without its domain, times from
// --since on and before --until, class and category exactly.
TEST(TrailView, FilterMatches) {
    Row row;
    std::string why;
    ASSERT_TRUE(RowFromLine("OPS1", 7,
                            "{\"context\":{\"User\":\"J\xC3\xBCrgen\",\"Domain\":\"PLANT\"},"
                            "\"event\":\"ChangeEvent\",\"properties\":{\"Category\":301,"
                            "\"Descriptor\":\"FIC101\",\"Property\":\"SP\",\"EventTime\":"
                            "{\"utc\":\"2024-05-06T07:08:09.500Z\"}}}",
                            &row, &why))
        << why;
    const auto time = [](const char *text) {
        UtcTime t;
        EXPECT_TRUE(ParseUtc(text, &t, true)) << text;
        return t;
    };
    const struct {
        std::function<void(RowFilter &)> set;
        bool matches;
    } cases[] = {
        {[](RowFilter &) {}, true},
        {[](RowFilter &f) { f.machine = "ops1"; }, true},
        {[](RowFilter &f) { f.machine = "ops"; }, false},
        {[](RowFilter &f) { f.user = "plant\\J\xC3\x9CRGEN"; }, true},  // Ü for ü
        {[](RowFilter &f) { f.user = "j\xC3\xBCrgen"; }, true},
        {[](RowFilter &f) { f.user = "OTHER\\j\xC3\xBCrgen"; }, false},
        {[](RowFilter &f) { f.user = "jurgen"; }, false},
        {[](RowFilter &f) { f.user = "PLANT"; }, false},
        {[](RowFilter &f) { f.domain = "Plant"; }, true},
        {[](RowFilter &f) { f.descriptor = "fic101"; f.property = "sp"; }, true},
        {[](RowFilter &f) { f.descriptor = "fic10"; }, false},
        {[](RowFilter &f) { f.property = "PV"; }, false},
        {[&](RowFilter &f) { f.since = time("2024-05-06T07:08:09.5Z"); }, true},
        {[&](RowFilter &f) { f.since = time("2024-05-06T07:08:09.501Z"); }, false},
        {[&](RowFilter &f) { f.until = time("2024-05-06T07:08:09.5Z"); }, false},
        {[&](RowFilter &f) { f.until = time("2024-05-07"); }, true},
        {[](RowFilter &f) { f.eventClass = "ChangeEvent"; f.category = 301; }, true},
        {[](RowFilter &f) { f.eventClass = "GeneralEvent"; }, false},
        {[](RowFilter &f) { f.category = 401; }, false},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        RowFilter f;
        cases[i].set(f);
        EXPECT_EQ(Matches(f, row), cases[i].matches) << "case " << i;
    }
    // A row without the member a filter asks for is not selected.
    Row bare;
    ASSERT_TRUE(RowFromLine("OPS1", 8, "{\"event\":\"GeneralEvent\"}", &bare, &why)) << why;
    RowFilter f;
    f.since = time("2000-01-01");
    EXPECT_FALSE(Matches(f, bare));
    f = RowFilter{};
    f.category = 0;
    EXPECT_FALSE(Matches(f, bare));
    EXPECT_TRUE(SameIgnoringCase("\xD0\xBE\xD0\xBF", "\xD0\x9E\xD0\x9F"));  // Cyrillic
    EXPECT_FALSE(SameIgnoringCase("a\xFF", "A\xC3\xBF"));  // a byte that is not UTF-8
}

// Widths in terminal columns, texts cut to them with a marker or kept whole,
// and numbers as the shortest text that reads back the same.
TEST(TrailView, WidthsAndValues) {
    EXPECT_EQ(TextWidth("PLANT\\J\xC3\xBCrgen"), 12u);
    EXPECT_EQ(TextWidth("\xE6\xB8\xAC\xE5\xAE\x9A"), 4u);    // two CJK ideographs
    EXPECT_EQ(TextWidth("e\xCC\x81"), 1u);                    // e and a combining accent
    EXPECT_EQ(TextWidth("\xC3"), 1u);                          // cut-off UTF-8
    const struct {
        std::string text;
        std::size_t width;
        bool cut, keepEnd;
        std::string fitted;
    } cases[] = {
        {"J\xC3\xBCrgen", 8, true, false, "J\xC3\xBCrgen  "},
        {"AREA_NORTH_7", 8, true, false, "AREA_NO\xE2\x80\xA6"},
        {"AREA_NORTH_7", 8, false, false, "AREA_NORTH_7"},
        {"C:\\bin\\qz45event.exe", 8, true, true, "\xE2\x80\xA6" "ent.exe"},
        {"\xE6\xB8\xAC\xE5\xAE\x9A\xE5\x80\xA4", 5, true, false, "\xE6\xB8\xAC\xE5\xAE\x9A\xE2\x80\xA6"},
        {"\xE6\xB8\xAC\xE5\xAE\x9A\xE5\x80\xA4", 4, true, false, "\xE6\xB8\xAC\xE2\x80\xA6 "},
        {"xy", 0, true, false, ""},
    };
    for (const auto &c : cases) {
        const std::string fitted = Fitted(c.text, c.width, c.cut, c.keepEnd);
        EXPECT_EQ(fitted, c.fitted) << c.text << " in " << c.width;
        if (c.cut && c.width > 0) EXPECT_EQ(TextWidth(fitted), c.width) << c.text;
    }

    const auto value = [](const char *json) {
        return ValueText(nlohmann::json::parse(json));
    };
    EXPECT_EQ(value(R"({"type":"VT_R4","value":0.10000000149011612})"), "0.1");
    EXPECT_EQ(value(R"({"type":"VT_R4","value":16777217.0})"), "16777216");
    EXPECT_EQ(value(R"({"type":"VT_R4","value":1e300})"), "1e+300");  // beyond a single
    EXPECT_EQ(value(R"({"type":"VT_R8","value":0.10000000149011612})"), "0.10000000149011612");
    EXPECT_EQ(value(R"({"type":"VT_R8","value":0.1})"), "0.1");
    EXPECT_EQ(value(R"({"type":"VT_I4","value":-7})"), "-7");
    EXPECT_EQ(value(R"({"type":"VT_BSTR","value":"0.10000000149011612"})"), "0.10000000149011612");
    EXPECT_EQ(value(R"({"type":"VT_DATE","value":36526.5,"utc":"2000-01-01T12:00:00Z"})"),
              "2000-01-01T12:00:00Z");

    UtcTime a, b;
    ASSERT_TRUE(ParseUtc("2023-12-31T23:59:59.750Z", &a));
    ASSERT_TRUE(ParseUtc("2024-03-01T00:00:00.250Z", &b));
    EXPECT_DOUBLE_EQ(SecondsBetween(a, b), 60 * 86400 + 0.5);  // through 29 February
    EXPECT_DOUBLE_EQ(SecondsBetween(b, a), -(60 * 86400 + 0.5));
    EXPECT_EQ(CsvCell("a,\"b\"\r\nc"), "\"a,\"\"b\"\"\r\nc\"");
    EXPECT_EQ(CsvCell("J\xC3\xBCrgen"), "J\xC3\xBCrgen");
}

namespace {

// A rotated trail in a folder of its own: files of chained lines, numbered on
// across them, read through a listing that misses the names the test says.
class TrailSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string dir = ::testing::TempDir() + "trail_set_XXXXXX";
        ASSERT_NE(mkdtemp(&dir[0]), nullptr);
        dir_ = dir + "/";
        lines_ = Trail(12);
    }
    void TearDown() override {
        std::vector<std::string> names;
        std::string error;
        ListFolder(dir_, &names, &error);
        for (const std::string &n : names) unlink((dir_ + n).c_str());
        rmdir(dir_.c_str());
    }
    std::string Rotated(long long first) const {
        return "trail.2026-12-08T10" + std::to_string(10 + first) + "00Z.00000000" +
               std::to_string(first) + ".jsonl";
    }
    // Lines first..last (1-based) into a file.
    void Put(const std::string &name, long long first, long long last, const char *mode = "wb") {
        FILE *f = std::fopen((dir_ + name).c_str(), mode);
        ASSERT_NE(f, nullptr);
        for (long long n = first; n <= last; ++n) std::fprintf(f, "%s\n", lines_[n - 1].c_str());
        std::fclose(f);
    }
    // Lines 1-3, 4-6 and 7-9 rotated, 10-11 in the current file.
    void Standard() {
        Put(Rotated(1), 1, 3);
        Put(Rotated(4), 4, 6);
        Put(Rotated(7), 7, 9);
        Put("trail.jsonl", 10, 11);
    }
    std::unique_ptr<TrailSetReader> Reader(bool follow) {
        auto reader = std::make_unique<TrailSetReader>(dir_ + "trail.jsonl", false, follow);
        reader->UseLister(
            [this](const std::string &folder, std::vector<std::string> *names, std::string *error) {
                ++listings_;
                if (!ListFolder(folder, names, error)) return false;
                if (reversed_) std::sort(names->rbegin(), names->rend());
                for (auto &[name, misses] : missing_)
                    if (misses > 0) {
                        --misses;
                        names->erase(std::remove(names->begin(), names->end(), name), names->end());
                    }
                return true;
            },
            [](unsigned) {});
        std::string error;
        EXPECT_TRUE(reader->Open(&error)) << error;
        return reader;
    }
    // Reads until anything but a line; the lines' numbers checked against
    // the trail's lines.
    LineResult ReadAll(TrailSetReader *reader, long long *last) {
        std::string line;
        LineResult r;
        while ((r = reader->Next(&line)) == LineResult::kLine) {
            EXPECT_EQ(line, lines_[reader->Number() - 1]) << "line " << reader->Number();
            *last = reader->Number();
        }
        return r;
    }
    void Record(const std::string &name, long long first, long long last) {
        FILE *f = std::fopen((dir_ + "trail.pruned.jsonl").c_str(), "ab");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "{\"file\":\"%s\",\"first_line\":%lld,\"last_line\":%lld,\"last_hash\":\"%s\"}\n",
                     name.c_str(), first, last, HashOf(lines_[last - 1]).c_str());
        std::fclose(f);
    }

    std::string dir_;
    std::vector<std::string> lines_;
    std::vector<std::pair<std::string, int>> missing_;  // names, and how many listings miss them
    bool reversed_ = false;                              // listings give the names last to first
    int listings_ = 0;
};

}  // namespace

// Listings that miss files now and then, as listings of a folder whose files
// are renamed meanwhile do: the lines come all the same, each under its own
// number, in one pass or in a follower's later looks; what no listing shows is
// a gap once, and waited for when following.
TEST_F(TrailSetTest, ListingsThatMissFiles) {
    Standard();
    struct Case {
        const char *what;
        int misses4, misses7;  // listings that miss the files that start at 4 and at 7
        bool follow;
        LineResult end;
        long long last;
        bool reversed = false;          // the listing's names in reverse order
        const char *error = nullptr;    // with kBroken: what Error() says
    } const cases[] = {
        {"every listing complete", 0, 0, false, LineResult::kEnd, 11},
        {"the names listed last to first", 0, 0, false, LineResult::kEnd, 11, true},
        {"the second file missed once", 1, 0, false, LineResult::kEnd, 11},
        {"both missed twice, in turn", 2, 2, false, LineResult::kEnd, 11},
        {"the third file missed: the current one does not chain on", 0, 1000, true, LineResult::kEnd, 6},
        {"the second file missed by every listing", 0 + 1000, 0, false, LineResult::kBroken, 3,
         false, "lines 4-6 are missing"},
        {"the third file missed by every listing, once", 0, 1000, false, LineResult::kBroken, 6,
         false, "trail.jsonl does not go on from line 6"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        missing_ = {{Rotated(4), c.misses4}, {Rotated(7), c.misses7}};
        reversed_ = c.reversed;
        auto reader = Reader(c.follow);
        long long last = 0;
        EXPECT_EQ(ReadAll(reader.get(), &last), c.end) << reader->Error();
        EXPECT_EQ(last, c.last);
        if (c.end == LineResult::kBroken)
            EXPECT_NE(reader->Error().find(c.error), std::string::npos) << reader->Error();
        if (c.follow && c.last < 11) {
            // Waited for, said why, and read on once a listing shows it.
            EXPECT_NE(reader->Waiting().find("does not go on from line 6"), std::string::npos)
                << reader->Waiting();
            missing_.clear();
            EXPECT_EQ(ReadAll(reader.get(), &last), LineResult::kEnd) << reader->Error();
            EXPECT_EQ(last, 11);
            EXPECT_EQ(reader->Waiting(), "");
        }
        if (c.end == LineResult::kEnd) {
            EXPECT_EQ(reader->Files(), 4u);
            EXPECT_EQ(reader->Where(5), Rotated(4) + " line 2");
        }
    }
}

// A follower at the end of the current file: the file is rotated (lines
// appended before the rename are read from it still), the new current file
// chains on; then the name is taken by a trail begun anew.
TEST_F(TrailSetTest, FollowerThroughRotationAndReplacement) {
    Put(Rotated(1), 1, 3);
    Put("trail.jsonl", 4, 5);
    auto reader = Reader(true);
    long long last = 0;
    EXPECT_EQ(ReadAll(reader.get(), &last), LineResult::kEnd);
    EXPECT_EQ(last, 5);
    Put("trail.jsonl", 6, 7, "ab");
    ASSERT_EQ(rename((dir_ + "trail.jsonl").c_str(), (dir_ + Rotated(4)).c_str()), 0);
    EXPECT_EQ(ReadAll(reader.get(), &last), LineResult::kEnd);  // the new file is not there yet
    EXPECT_EQ(last, 7);
    Put("trail.jsonl", 8, 9);
    EXPECT_EQ(ReadAll(reader.get(), &last), LineResult::kEnd);
    EXPECT_EQ(last, 9);
    EXPECT_EQ(reader->Where(7), Rotated(4) + " line 4");

    // Replaced by a copy of the first lines.
    Put("trail.copy", 1, 2);
    ASSERT_EQ(rename((dir_ + "trail.copy").c_str(), (dir_ + "trail.jsonl").c_str()), 0);
    EXPECT_EQ(ReadAll(reader.get(), &last), LineResult::kBroken);
    EXPECT_NE(reader->Error().find("was replaced by another file"), std::string::npos)
        << reader->Error();
}

// Rotated files recorded as pruned: gone, or still there because prune could
// not remove them or was stopped before it did; and pruned while being read.
TEST_F(TrailSetTest, PrunedFiles) {
    Standard();
    Record(Rotated(1), 1, 3);  // recorded, still there
    {
        auto reader = Reader(false);
        EXPECT_EQ(reader->FirstLine(), 4);
        EXPECT_NE(reader->StartNote().find(Rotated(1) + " is recorded as pruned but still there"),
                  std::string::npos)
            << reader->StartNote();
        long long last = 0;
        EXPECT_EQ(ReadAll(reader.get(), &last), LineResult::kEnd) << reader->Error();
        EXPECT_EQ(last, 11);
    }
    // Read from line 4; lines 4-6 pruned before the reader gets to them.
    auto reader = Reader(false);
    Record(Rotated(4), 4, 6);
    unlink((dir_ + Rotated(4)).c_str());
    long long last = 0;
    EXPECT_EQ(ReadAll(reader.get(), &last), LineResult::kBroken);
    EXPECT_TRUE(reader->PrunedMeanwhile()) << reader->Error();
    // Removed before them, and not recorded: a gap at the start.
    unlink((dir_ + "trail.pruned.jsonl").c_str());
    Record(Rotated(1), 1, 2);
    auto gap = Reader(false);
    EXPECT_EQ(ReadAll(gap.get(), &last), LineResult::kBroken);
    EXPECT_NE(gap->Error().find("lines 3-6 are missing"), std::string::npos) << gap->Error();
}

// Rotated files' names: what makes one of this trail's, and their order by
// the first line their names say, whatever the order of the names' texts.
TEST_F(TrailSetTest, RotatedNamesInOrder) {
    const TrailName trail = SplitTrailName(dir_ + "trail.jsonl");
    EXPECT_EQ(trail.stem, "trail");
    EXPECT_EQ(trail.extension, ".jsonl");
    const struct {
        const char *name;
        long long first;  // 0: not a rotated file of the trail
    } names[] = {
        {"trail.2026-12-08T101500Z.000000123.jsonl", 123},
        {"trail.2026-12-08T101500Z.1000000000.jsonl", 1000000000},
        {"trail.2026-12-08T101500Z.00000012.jsonl", 0},
        {"trail.2026-12-08T101500Z.000000000.jsonl", 0},
        {"trail.2026-12-08T101500Z.0000001x3.jsonl", 0},
        {"trail.2026-02-30T101500Z.000000123.jsonl", 0},
        {"trail.2026-12-08T241500Z.000000123.jsonl", 0},
        {"trails.2026-12-08T101500Z.000000123.jsonl", 0},
        {"trail.2026-12-08T101500Z.000000123.json", 0},
        {"trail.pruned.jsonl", 0},
        {"trail.jsonl", 0},
    };
    for (const auto &n : names) {
        UtcTime when;
        long long first = 0;
        EXPECT_EQ(ParseRotatedName(trail, n.name, &when, &first), n.first != 0) << n.name;
        if (n.first != 0) EXPECT_EQ(first, n.first) << n.name;
    }
    UtcTime t;
    ASSERT_TRUE(ParseUtc("2026-12-08T10:15:00Z", &t));
    EXPECT_EQ(RotatedName(trail, t, 123), names[0].name);

    for (const char *first : {"000000010", "000000009", "1000000000", "999999999"})
        Put(std::string("trail.2026-12-08T101500Z.") + first + ".jsonl", 1, 1);
    Put("other.2026-12-08T101500Z.000000001.jsonl", 1, 1);
    Put("trail.pruned.jsonl", 1, 1);
    std::vector<TrailPart> parts;
    std::string error;
    ASSERT_TRUE(ListTrailSet(dir_ + "trail.jsonl", &parts, &error)) << error;
    std::vector<long long> firsts;
    for (const TrailPart &p : parts) firsts.push_back(p.firstLine);
    EXPECT_EQ(firsts, (std::vector<long long>{9, 10, 999999999, 1000000000, 0}));
    EXPECT_TRUE(parts.back().current);
    EXPECT_EQ(parts.back().name, "trail.jsonl");
}

// Where the files start: after the lines the pruned record names, and
// files that do not fit after them or after each other.
TEST_F(TrailSetTest, StartAndOrderOfTheFiles) {
    const struct {
        const char *what;
        std::function<void()> setUp;
        bool opens;
        long long firstLine;
        const char *note;  // in StartNote() ("" for none)
        LineResult end;
        long long last;
        const char *error;  // in Error() once not kEnd, or Open's error
    } cases[] = {
        {"lines 1-3 pruned and gone",
         [this] {
             Record(Rotated(1), 1, 3);
             unlink((dir_ + Rotated(1)).c_str());
         },
         true, 4, "starts at line 4: lines 1-3 were pruned (trail.pruned.jsonl)", LineResult::kEnd,
         11, ""},
        {"a file within the lines recorded as pruned",
         [this] {
             Record(Rotated(1), 1, 3);
             unlink((dir_ + Rotated(1)).c_str());
             Put(Rotated(2), 2, 3);
         },
         true, 4, "starts at line 4", LineResult::kBroken, 0,
         " starts at line 2, within the lines recorded as pruned (lines 1-3): the files are out "
         "of order, or one was copied"},
        {"a copy of lines 5-6 under a rotated name",
         [this] { Put(Rotated(5), 5, 6); }, true, 1, "", LineResult::kBroken, 6,
         " starts at line 5, but "},
        {"a pruned record that does not read",
         [this] {
             FILE *f = std::fopen((dir_ + "trail.pruned.jsonl").c_str(), "wb");
             ASSERT_NE(f, nullptr);
             std::fputs("{\"file\":\"x\"}\n", f);
             std::fclose(f);
         },
         false, 0, "", LineResult::kError, 0, "a line that is not a record of a pruned file"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        Standard();
        c.setUp();
        if (!c.opens) {
            TrailSetReader reader(dir_ + "trail.jsonl");
            std::string error;
            EXPECT_FALSE(reader.Open(&error));
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        auto reader = Reader(false);
        EXPECT_EQ(reader->FirstLine(), c.firstLine);
        EXPECT_NE(reader->StartNote().find(c.note), std::string::npos) << reader->StartNote();
        if (*c.note == '\0') EXPECT_EQ(reader->StartNote(), "");
        if (c.firstLine > 1 && c.end == LineResult::kEnd)
            EXPECT_EQ(reader->StartPrev(), HashOf(lines_[c.firstLine - 2]));
        long long last = 0;
        EXPECT_EQ(ReadAll(reader.get(), &last), c.end) << reader->Error();
        EXPECT_EQ(last, c.last);
        EXPECT_NE(reader->Error().find(c.error), std::string::npos) << reader->Error();
    }
}
