#include "verify.h"

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "trail_chain.h"

namespace qz45trail {
namespace {

struct Line {
    long long number = 0;
    bool chained = false;
    ChainedLine parts;
};

int Broken(const std::string &name, long long n, const std::string &why) {
    std::printf("%s: line %lld %s\n", name.c_str(), n, why.c_str());
    return 1;
}

}  // namespace

int CheckChain(const std::vector<NumberedLine> &numbered, const std::string &name,
               bool nameIntact) {
    std::vector<Line> lines(numbered.size());
    for (std::size_t i = 0; i < numbered.size(); ++i) {
        lines[i].number = numbered[i].number;
        lines[i].chained = SplitChainedLine(numbered[i].text, &lines[i].parts);
    }

    // Lines written before the trail was chained come first, if any.
    std::size_t first = 0;
    while (first < lines.size() && !lines[first].chained) ++first;

    // Where each hash stands, to tell a removal from an insertion or a move.
    std::map<std::string, long long> lineOf;
    for (std::size_t i = first; i < lines.size(); ++i)
        if (lines[i].chained) lineOf.emplace(lines[i].parts.hash, lines[i].number);

    for (std::size_t i = first; i < lines.size(); ++i) {
        const long long n = lines[i].number;
        if (!lines[i].chained)
            return Broken(name, n, "has no chain fields: inserted or edited after the chain began");
        const ChainedLine &l = lines[i].parts;
        std::string hash;
        if (FAILED(ChainHash(l.prev, l.content, &hash))) {
            std::fprintf(stderr, "qz45trail: cannot compute SHA-256\n");
            return 2;
        }
        if (hash != l.hash) return Broken(name, n, "was changed: its content does not match its hash");
        if (lineOf[l.hash] != n)
            return Broken(name, n, "repeats line " + std::to_string(lineOf[l.hash]) + ": inserted");
        const std::string expected = i == first ? kChainStart : lines[i - 1].parts.hash;
        if (l.prev == expected) continue;
        if (l.prev == kChainStart) return Broken(name, n, "starts a chain of its own: inserted");
        const auto found = lineOf.find(l.prev);
        if (found == lineOf.end()) {
            return Broken(name, n, i == first ? "does not start the chain: lines before it were removed"
                                              : "follows a line that is no longer in the trail: "
                                                "removed before it");
        }
        if (found->second > n)
            return Broken(name, n, "belongs after line " + std::to_string(found->second) +
                                       ": lines were reordered");
        return Broken(name, n, "belongs right after line " + std::to_string(found->second) +
                                   ": the line(s) between were inserted");
    }

    const char *prefix = nameIntact ? ": " : "";
    std::printf("%s%s%zu lines, chain intact\n", nameIntact ? name.c_str() : "", prefix,
                lines.size());
    if (first > 0) {
        if (first == lines.size())
            std::printf("none of them is chained: the trail was written before chaining\n");
        else
            std::printf("%zu unchained line(s) written before chaining precede it; checked from line %lld on\n",
                        first, lines[first].number);
    }
    return 0;
}

}  // namespace qz45trail

int VerifyTrail(const char *path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "qz45trail: cannot read %s\n", path);
        return 2;
    }
    std::vector<qz45trail::NumberedLine> lines;
    for (std::string text; std::getline(in, text);)
        lines.push_back({static_cast<long long>(lines.size()) + 1, std::move(text)});
    return qz45trail::CheckChain(lines, path, false);
}
