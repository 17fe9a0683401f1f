#include "verify.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "trail_chain.h"

namespace {

struct Line {
    bool chained = false;
    qz45trail::ChainedLine parts;
};

int Broken(const char *path, std::size_t n, const std::string &why) {
    std::printf("%s: line %zu %s\n", path, n, why.c_str());
    return 1;
}

}  // namespace

int VerifyTrail(const char *path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "qz45trail: cannot read %s\n", path);
        return 2;
    }
    std::vector<Line> lines;
    for (std::string text; std::getline(in, text);) {
        Line line;
        line.chained = qz45trail::SplitChainedLine(text, &line.parts);
        lines.push_back(std::move(line));
    }

    // Lines written before the trail was chained come first, if any.
    std::size_t first = 0;
    while (first < lines.size() && !lines[first].chained) ++first;

    // Where each hash stands, to tell a removal from an insertion or a move.
    std::map<std::string, std::size_t> lineOf;
    for (std::size_t i = first; i < lines.size(); ++i)
        if (lines[i].chained) lineOf.emplace(lines[i].parts.hash, i + 1);

    for (std::size_t i = first; i < lines.size(); ++i) {
        const std::size_t n = i + 1;
        if (!lines[i].chained)
            return Broken(path, n, "has no chain fields: inserted or edited after the chain began");
        const qz45trail::ChainedLine &l = lines[i].parts;
        std::string hash;
        if (FAILED(qz45trail::ChainHash(l.prev, l.content, &hash))) {
            std::fprintf(stderr, "qz45trail: cannot compute SHA-256\n");
            return 2;
        }
        if (hash != l.hash) return Broken(path, n, "was changed: its content does not match its hash");
        if (lineOf[l.hash] != n)
            return Broken(path, n, "repeats line " + std::to_string(lineOf[l.hash]) + ": inserted");
        const std::string expected = i == first ? qz45trail::kChainStart : lines[i - 1].parts.hash;
        if (l.prev == expected) continue;
        if (l.prev == qz45trail::kChainStart)
            return Broken(path, n, "starts a chain of its own: inserted");
        const auto found = lineOf.find(l.prev);
        if (found == lineOf.end()) {
            return Broken(path, n, i == first ? "does not start the chain: lines before it were removed"
                                              : "follows a line that is no longer in the trail: "
                                                "removed before it");
        }
        if (found->second > n)
            return Broken(path, n, "belongs after line " + std::to_string(found->second) +
                                       ": lines were reordered");
        return Broken(path, n, "belongs right after line " + std::to_string(found->second) +
                                   ": the line(s) between were inserted");
    }

    std::printf("%zu lines, chain intact\n", lines.size());
    if (first > 0) {
        if (first == lines.size())
            std::printf("none of them is chained: the trail was written before chaining\n");
        else
            std::printf("%zu unchained line(s) written before chaining precede it; checked from line %zu on\n",
                        first, first + 1);
    }
    return 0;
}
