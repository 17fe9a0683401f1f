// What qz45trail's view needs of a trail's rows, platform-free: which rows a
// filter selects (the same for a file and for the database), how wide a text
// is on a terminal, and values as text.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "trail_row.h"
#include "utc_time.h"

namespace qz45trail {

// Whether two texts are the same but for the case of their letters, as the
// system compares account names: letter by letter, each lower-case letter of
// the Latin, Greek and Cyrillic alphabets (and the full-width Latin ones)
// taken for its capital, nothing else changed.
bool SameIgnoringCase(std::string_view a, std::string_view b);

// What the view selects. Texts are compared with SameIgnoringCase; an empty
// one, or a time or number not given, selects everything.
struct RowFilter {
    std::string machine;
    std::string domain, user;        // user: "DOMAIN\user" is both, "user" any domain
    std::string descriptor, property;
    std::optional<UtcTime> since;    // event time at or after
    std::optional<UtcTime> until;    // event time before
    std::string eventClass;          // exact
    std::optional<long long> category;
};

bool Matches(const RowFilter &filter, const Row &row);

// The columns a text takes on a terminal: a code point one, East Asian wide
// and full-width ones two, combining marks and zero-width ones none. A byte
// that is not UTF-8 counts one.
std::size_t TextWidth(std::string_view utf8);

// The text in exactly `width` columns: padded with blanks, or, when cut is
// set and it is wider, cut with "…" at its end (keepEnd: at its start, the
// end kept). Uncut, a wider text stays whole.
std::string Fitted(const std::string &text, std::size_t width, bool cut, bool keepEnd = false);

// A value's number or text ({"type": "VT_R4", "value": 0.1...}): a single
// precision value as the shortest text that reads back as the same single,
// a double the same for doubles; dates as their UTC text; other numbers as
// they are; texts as they are.
std::string ValueText(const nlohmann::json &value);

}  // namespace qz45trail
