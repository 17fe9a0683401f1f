#include "trail_chain.h"

#include <map>

#include "sha256.h"

namespace qz45trail {

const char kChainStart[kHashDigits + 1] =
    "0000000000000000000000000000000000000000000000000000000000000000";

namespace {

constexpr std::string_view kPrevField = ",\"prev\":\"";
constexpr std::string_view kHashField = "\",\"hash\":\"";
constexpr std::string_view kEnd = "\"}";
constexpr std::size_t kSuffixLength =
    kPrevField.size() + kHashDigits + kHashField.size() + kHashDigits + kEnd.size();

bool IsHexDigits(std::string_view s) {
    for (const char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

}  // namespace

bool ChainHash(std::string_view prev, std::string_view content, std::string *hash,
               Sha256 *hasher) {
    if (hasher != nullptr) return hasher->Hex(prev, content, hash);
    std::string data;
    data.reserve(prev.size() + content.size());
    data.append(prev).append(content);
    return Sha256Hex(data, hash);
}

bool ChainLine(std::string_view prev, std::string_view content, std::string *line) {
    // A content object with at least one member: the chain members follow a comma.
    if (content.size() < 3 || content.front() != '{' || content.back() != '}' ||
        prev.size() != kHashDigits || !IsHexDigits(prev))
        return false;
    std::string hash;
    if (!ChainHash(prev, content, &hash)) return false;
    line->assign(content.substr(0, content.size() - 1));
    line->append(kPrevField).append(prev).append(kHashField).append(hash).append(kEnd);
    return true;
}

bool SplitChainedLine(std::string_view line, ChainedLine *out) {
    // A content object with at least one member: "{" and more before the suffix.
    if (line.size() < kSuffixLength + 2 || line.front() != '{') return false;
    const std::size_t at = line.size() - kSuffixLength;
    const std::size_t prevAt = at + kPrevField.size();
    const std::size_t hashAt = prevAt + kHashDigits + kHashField.size();
    if (line.substr(at, kPrevField.size()) != kPrevField ||
        line.substr(prevAt + kHashDigits, kHashField.size()) != kHashField ||
        line.substr(hashAt + kHashDigits) != kEnd ||
        !IsHexDigits(line.substr(prevAt, kHashDigits)) ||
        !IsHexDigits(line.substr(hashAt, kHashDigits)))
        return false;
    out->content.assign(line.substr(0, at)).push_back('}');
    out->prev.assign(line.substr(prevAt, kHashDigits));
    out->hash.assign(line.substr(hashAt, kHashDigits));
    return true;
}

bool ChainsAfter(std::string_view line, std::string_view prev) {
    ChainedLine parts;
    std::string hash;
    return SplitChainedLine(line, &parts) && parts.prev == prev &&
           ChainHash(parts.prev, parts.content, &hash) && hash == parts.hash;
}

void ChainCheck::Add(long long n, std::string_view line, Sha256 *hasher) {
    Line l{n, false, false, false, {}, {}};
    ChainedLine parts;
    l.chained = SplitChainedLine(line, &parts);
    if (l.chained) {
        std::string hash;
        l.hashed = ChainHash(parts.prev, parts.content, &hash, hasher);
        l.matches = l.hashed && hash == parts.hash;
        l.prev = std::move(parts.prev);
        l.hash = std::move(parts.hash);
    }
    lines_.push_back(std::move(l));
}

ChainVerdict ChainCheck::Finish() const {
    using Kind = ChainVerdict::Kind;
    ChainVerdict v;
    v.lines = lines_.size();
    std::size_t first = 0;
    while (first < lines_.size() && !lines_[first].chained) ++first;
    v.unchainedPrefix = first;
    if (first < lines_.size()) v.firstChained = lines_[first].number;

    const auto broken = [&v](Kind kind, long long line, long long other = 0) {
        v.kind = kind;
        v.line = line;
        v.other = other;
        return v;
    };

    // Where each hash stands, to tell a removal from an insertion or a move.
    std::map<std::string_view, long long> lineOf;
    for (std::size_t i = first; i < lines_.size(); ++i)
        if (lines_[i].chained) lineOf.emplace(lines_[i].hash, lines_[i].number);

    for (std::size_t i = first; i < lines_.size(); ++i) {
        const Line &l = lines_[i];
        if (!l.chained) return broken(Kind::kUnchained, l.number);
        if (!l.hashed) return broken(Kind::kNoHash, l.number);
        if (!l.matches) return broken(Kind::kChanged, l.number);
        const long long holder = lineOf[l.hash];
        if (holder != l.number) return broken(Kind::kRepeats, l.number, holder);
        if (i == first && start_.empty()) continue;  // what it follows cannot be known
        const std::string_view expected =
            i == first ? std::string_view(start_) : std::string_view(lines_[i - 1].hash);
        if (l.prev == expected) continue;
        if (l.prev == kChainStart) return broken(Kind::kOwnChain, l.number);
        const auto found = lineOf.find(l.prev);
        if (found == lineOf.end())
            return broken(i == first ? Kind::kHeadRemoved : Kind::kRemovedBefore, l.number);
        if (found->second > l.number) return broken(Kind::kReordered, l.number, found->second);
        return broken(Kind::kInsertedBetween, l.number, found->second);
    }
    return v;
}

std::string ChainVerdict::Describe() const {
    const std::string n = "line " + std::to_string(line);
    const std::string o = std::to_string(other);
    switch (kind) {
    case Kind::kIntact: return std::to_string(lines) + " lines, chain intact";
    case Kind::kChanged: return n + " was changed: its content does not match its hash";
    case Kind::kUnchained:
        return n + " has no chain members: inserted or edited after the chain began";
    case Kind::kRepeats: return n + " repeats line " + o + ": inserted";
    case Kind::kOwnChain: return n + " starts a chain of its own: inserted";
    case Kind::kHeadRemoved:
        return n + " does not start the chain: lines before it were removed";
    case Kind::kRemovedBefore:
        return n + " follows a line that is no longer in the trail: removed before it";
    case Kind::kReordered: return n + " belongs after line " + o + ": lines were reordered";
    case Kind::kInsertedBetween:
        return n + " belongs right after line " + o + ": the line(s) between were inserted";
    case Kind::kNoHash: return n + ": its SHA-256 could not be computed";
    }
    return n;
}

}  // namespace qz45trail
