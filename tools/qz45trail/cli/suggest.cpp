// The name a mistyped word was probably meant to be: edit distance, or a prefix.
#include "suggest.h"

#include <algorithm>
#include <cctype>

namespace qz45trail {
namespace {

std::string Lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Edits from a to b: insertions, deletions, substitutions and swaps of two
// neighbours (each counted once).
std::size_t Edits(const std::string &a, const std::string &b) {
    const std::size_t n = a.size(), m = b.size();
    std::vector<std::vector<std::size_t>> d(n + 1, std::vector<std::size_t>(m + 1));
    for (std::size_t i = 0; i <= n; ++i) d[i][0] = i;
    for (std::size_t j = 0; j <= m; ++j) d[0][j] = j;
    for (std::size_t i = 1; i <= n; ++i)
        for (std::size_t j = 1; j <= m; ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[n][m];
}

}  // namespace

std::string Nearest(const std::string &typed, const std::vector<std::string> &names) {
    const std::string t = Lower(typed);
    if (t.empty()) return "";
    std::string best;
    std::size_t bestEdits = 3;
    bool tie = false;
    for (const std::string &name : names) {
        const std::string n = Lower(name);
        // A prefix of a name counts as one edit away ("--mach" for "--machine").
        const std::size_t e = n.compare(0, t.size(), t) == 0 && t.size() >= 3 ? 1 : Edits(t, n);
        if (e < bestEdits) {
            best = name;
            bestEdits = e;
            tie = false;
        } else if (e == bestEdits && name != best) {
            tie = true;
        }
    }
    return tie ? "" : best;
}

}  // namespace qz45trail
