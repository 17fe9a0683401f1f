// A trail line as one row of the audit_trail table: the columns, and the row
// a line makes. Shipping inserts these rows; verify --odbc checks that the
// stored columns are still the ones the stored line makes.
//
// A database cannot store every text a line may hold: U+0000, which a line
// holds escaped as \u0000, is refused by PostgreSQL's text and jsonb alike.
// Such a line is stored all the same: line_text holds it exactly (the escape
// is plain text), the decoded columns show U+2400 (a visible
// NUL symbol) in its place, and the row is marked (replaced = 1).
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include <nlohmann/json.hpp>

namespace qz45trail {

class Sha256;

// A member of a JSON object as text: strings as they are, anything else as
// JSON ("" when absent).
std::string JsonText(const nlohmann::json &j, const char *key);

// The text of a value object: its "utc" for dates, else its "value".
std::string ValueShown(const nlohmann::json &value);

// A UTC time as the trail writes it.
struct UtcTime {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    long nanoseconds = 0;
};

// "2000-01-01T12:00:00.250Z" (1 to 9 fraction digits, or none); with
// dateOnly also "2000-01-01" (midnight).
bool ParseUtc(const std::string &text, UtcTime *out, bool dateOnly = false);
std::string UtcText(const UtcTime &t);

// Whole seconds from 1970-01-01T00:00:00Z to t (its fraction left out), by
// the proleptic Gregorian calendar.
long long UnixSeconds(const UtcTime &t);

enum class ColumnKind { kText, kLongText, kInteger, kBigInt, kTime, kHash };

// A column of a line's row. The trail table keeps the `stored` ones: what
// readers look for lines by, and the line itself; the others are the line's
// own values, read from its text again (RowFromLine) where they are shown.
struct Column {
    const char *name;
    ColumnKind kind;
    bool notNull;
    bool stored;
};

enum ColumnIndex {
    kMachine, kLineNo, kSubmitted, kEventClass, kAppName, kUserName, kDomainName, kApplicationId,
    kCategory, kDescriptor, kProperty, kMessage, kEventTime, kOldType, kOldValue, kNewType,
    kNewValue, kPrevHash, kLineHash, kLineSha256, kLineText, kReplaced, kColumnCount
};

extern const Column kColumns[kColumnCount];

struct Field {
    bool null = true;
    std::string text;        // kText, kLongText, kHash (UTF-8)
    long long number = 0;    // kInteger, kBigInt
    UtcTime time;            // kTime
};

using Row = std::array<Field, kColumnCount>;

// What stands for U+0000 in the decoded columns: U+2400.
extern const char kNulShown[];

// A line as JSON, discarded when it is not JSON (a line holding a NUL byte
// never is, though the parser would stop reading at it).
nlohmann::json ParseLine(const std::string &line);

// Whether line is a line of a trail: a JSON object with an event class.
bool IsTrailLine(const std::string &line);

// The row of line number lineNo of machine's trail; false with the reason
// when the line is not a trail line (not a JSON object, no event class, a
// time or category that does not read, nested deeper than a trail's lines).
// line_sha256 is computed with hasher when one is given.
bool RowFromLine(const std::string &machine, long long lineNo, const std::string &line, Row *row,
                 std::string *why, Sha256 *hasher = nullptr);

// The name of the first stored column in which a and b differ, or nullptr
// when they agree: the others are read from the line, which line_text
// compares.
const char *FirstDifference(const Row &a, const Row &b);

}  // namespace qz45trail
