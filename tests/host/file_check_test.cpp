// The check of a trail file as verify prints it: the chain, lines without
// chain members before it, an unfinished last line, and their exit codes.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "file_check.h"
#include "findings.h"
#include "trail_chain.h"
#include "trail_set.h"

using namespace qz45trail;

namespace {

// The file's text: `unchained` lines without chain members, then `chained`
// lines chained from the trail's start, each with its line end.
std::string Lines(int unchained, int chained) {
    std::string text, prev = kChainStart;
    for (int i = 1; i <= unchained + chained; ++i) {
        const std::string content = "{\"event\":\"E\",\"n\":" + std::to_string(i) + "}";
        std::string line = content;
        if (i > unchained) {
            EXPECT_TRUE(ChainLine(prev, content, &line));
            ChainedLine parts;
            EXPECT_TRUE(SplitChainedLine(line, &parts));
            prev = parts.hash;
        }
        text += line + "\n";
    }
    return text;
}

// The findings on a file holding text, checked on its own.
Findings CheckText(const std::string &text, long long accept) {
    std::string dir = ::testing::TempDir() + "file_check_XXXXXX";
    EXPECT_NE(mkdtemp(&dir[0]), nullptr);
    const std::string path = dir + "/t.jsonl";
    FILE *f = std::fopen(path.c_str(), "wb");
    EXPECT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    Findings found;
    {
        TrailSetReader set(path, true);
        std::string error;
        EXPECT_TRUE(set.Open(&error)) << error;
        found = CheckTrailFile(&set, "t.jsonl", accept);
    }
    unlink(path.c_str());
    rmdir(dir.c_str());
    return found;
}

}  // namespace

TEST(FileCheck, VerdictsAndExitCodes) {
    const std::string unchainedText =
        "lines 1-2 have no chain members and precede the chain: written before chaining, or put "
        "in front of it; the chain is checked from line 3 on";
    const std::string noneChained =
        "none of them is chained: a trail written before chaining, or one whose chain members "
        "were removed; nothing shows whether it was changed";
    const std::string unfinished =
        "t.jsonl: line 4 is unfinished: 5 byte(s) without a line end (a writer at work, or one "
        "that died mid-line); the lines before it are checked";
    std::string changed = Lines(0, 3);
    changed.replace(changed.find("\"n\":2"), 5, "\"n\":7");
    const struct {
        const char *what;
        std::string text;
        long long accept;
        int exit;
        std::vector<std::string> said;  // every finding, in order
    } cases[] = {
        {"a chained trail", Lines(0, 3), -1, kExitOk, {"3 lines, chain intact"}},
        {"lines without chain members before the chain", Lines(2, 2), -1, kExitUnchained,
         {"4 lines, chain intact", unchainedText,
          "t.jsonl: 2 line(s) without chain members (--unchained 2 accepts exactly these)"}},
        {"as many accepted", Lines(2, 2), 2, kExitOk,
         {"4 lines, chain intact", unchainedText + " (accepted: --unchained 2)"}},
        {"another number accepted", Lines(2, 2), 1, kExitUnchained,
         {"4 lines, chain intact", unchainedText,
          "t.jsonl: 2 line(s) without chain members (--unchained 2 accepts exactly these)"}},
        {"no line chained", Lines(2, 0), 2, kExitOk,
         {"2 lines, chain intact", noneChained + " (accepted: --unchained 2)"}},
        {"accepted, but none there", Lines(0, 2), 2, kExitUnchained,
         {"2 lines, chain intact",
          "t.jsonl: no line without chain members precedes the chain, --unchained said 2"}},
        {"an unfinished last line", Lines(0, 3) + "{\"eve", -1, kExitUnfinished,
         {"3 lines, chain intact", unfinished}},
        {"unchained lines and an unfinished one", Lines(2, 1) + "{\"eve", -1, kExitUnchained,
         {"3 lines, chain intact",
          "lines 1-2 have no chain members and precede the chain: written before chaining, or "
          "put in front of it; the chain is checked from line 3 on",
          "t.jsonl: 2 line(s) without chain members (--unchained 2 accepts exactly these)",
          unfinished}},
        {"a changed line", changed, -1, kExitBroken,
         {"t.jsonl: line 2 was changed: its content does not match its hash"}},
        {"a line too long", Lines(0, 1) + std::string(kLongestLine + 1, 'x') + "\n", -1,
         kExitBroken, {"t.jsonl: line 2 is longer than any trail line: not a trail"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const Findings found = CheckText(c.text, c.accept);
        EXPECT_EQ(found.exit, c.exit);
        std::vector<std::string> said;
        for (const Finding &f : found.list) said.push_back(f.Said());
        EXPECT_EQ(said, c.said);
    }
}
