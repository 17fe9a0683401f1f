// The hash chain of an audit trail: each line carries the SHA-256 of the
// line before it ("prev") and its own ("hash"), so that a line changed,
// removed, inserted or moved after it was written shows.
//
// A chained line is the event's JSON object as the service wrote it, with
// the two fields appended as its last members:
//
//   {<content members>,"prev":"<64 hex digits>","hash":"<64 hex digits>"}
//
// hash = SHA-256 of prev's 64 hex digits followed by the content object's
// bytes exactly as written ("{<content members>}"); the first chained line
// of a trail has prev = 64 zeros. Computed with the system's cryptography
// API.
#pragma once

#include <windows.h>

#include <string>

namespace qz45trail {

constexpr std::size_t kHashDigits = 64;
extern const char kChainStart[kHashDigits + 1];  // 64 zeros

// The SHA-256 of data as 64 lowercase hex digits.
HRESULT Sha256Hex(const std::string &data, std::string *hex);

// The chain hash of a content object (as written) that follows prev.
HRESULT ChainHash(const std::string &prev, const std::string &content, std::string *hash);

// The line (without its line end) that chains content after prev.
HRESULT ChainLine(const std::string &prev, const std::string &content, std::string *line);

// A chained line taken apart; false when the line does not end in the two
// chain fields (a line written before chaining, or one edited by hand).
struct ChainedLine {
    std::string content;  // the content object as written
    std::string prev;
    std::string hash;
};
bool SplitChainedLine(const std::string &line, ChainedLine *out);

}  // namespace qz45trail
