// The hash chain of an audit trail: each line carries the SHA-256 of the
// line before it ("prev") and its own ("hash"), so that a line changed,
// removed, inserted or moved after it was written shows.
//
// A chained line is the event's JSON object as the service wrote it, with
// the two members appended as its last members:
//
//   {<content members>,"prev":"<64 hex digits>","hash":"<64 hex digits>"}
//
// hash = SHA-256 of prev's 64 hex digits followed by the content object's
// bytes exactly as written ("{<content members>}"); the first chained line
// of a trail has prev = 64 zeros.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qz45trail {

class Sha256;

constexpr std::size_t kHashDigits = 64;
extern const char kChainStart[kHashDigits + 1];  // 64 zeros

// The chain hash of a content object (as written) that follows prev; false
// when the hash could not be computed. With a hasher, computed with it.
bool ChainHash(std::string_view prev, std::string_view content, std::string *hash,
               Sha256 *hasher = nullptr);

// The line (without its line end) that chains content after prev; false when
// content is not an object with at least one member, prev is not 64 digits,
// or the hash could not be computed.
bool ChainLine(std::string_view prev, std::string_view content, std::string *line);

// A chained line taken apart; false when the line does not end in the two
// chain members (a line written before chaining, or one edited by hand).
struct ChainedLine {
    std::string content;  // the content object as written
    std::string prev;
    std::string hash;
};
bool SplitChainedLine(std::string_view line, ChainedLine *out);

// Whether line is a chained line that follows prev and whose content matches
// its hash: a line this trail's writer wrote after the line whose hash is prev.
bool ChainsAfter(std::string_view line, std::string_view prev);

// The verdict on the chain of a trail's lines, in order. Lines without chain
// members before the first chained line are counted, not judged: whether they
// are acceptable (a trail begun before chaining) is the caller's decision.
struct ChainVerdict {
    enum class Kind {
        kIntact,
        kChanged,          // content does not match its hash
        kUnchained,        // no chain members after the chain began
        kRepeats,          // repeats line `other`
        kOwnChain,         // starts a chain of its own
        kHeadRemoved,      // the first chained line does not start the chain
        kRemovedBefore,    // follows a line that is no longer there
        kReordered,        // belongs after the later line `other`
        kInsertedBetween,  // belongs right after line `other`
        kNoHash,           // the hash could not be computed
    };
    Kind kind = Kind::kIntact;
    long long line = 0;   // the line the verdict names
    long long other = 0;  // the line it refers to
    std::size_t lines = 0;            // lines checked
    std::size_t unchainedPrefix = 0;  // lines without chain members before the first chained one
    long long firstChained = 0;       // number of the first chained line (0: none)

    bool Intact() const { return kind == Kind::kIntact; }
    // "line 3 was changed: its content does not match its hash", or for an
    // intact chain "5 lines, chain intact".
    std::string Describe() const;
};

// Checks a trail's lines one by one, keeping only their chain members.
class ChainCheck {
public:
    // The hash the first chained line must follow: 64 zeros unless set;
    // "" when it cannot be known (a file checked on its own from the middle
    // of a trail).
    void StartAfter(std::string prev) { start_ = std::move(prev); }
    // The next line, numbered n (numbers rise, not necessarily by one); its
    // hash computed with hasher when one is given.
    void Add(long long n, std::string_view line, Sha256 *hasher = nullptr);
    ChainVerdict Finish() const;

private:
    struct Line {
        long long number;
        bool chained;
        bool matches;  // content matches hash
        bool hashed;   // the hash could be computed
        std::string prev, hash;
    };
    std::vector<Line> lines_;
    std::string start_ = kChainStart;
};

}  // namespace qz45trail
