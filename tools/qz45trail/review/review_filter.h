// The review page's filter: what a query string asks for (a period, a
// machine, a user, a record, a category, a text, where a page starts), read
// and checked, as plain values; the period an overview shows when none is
// given; and case folding as the console's filter compares texts.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "trail_row.h"
#include "trail_view.h"

namespace qz45trail {

// Reads a local time as a form gives it into UTC; false when it does not read.
using LocalTimeReader = std::function<bool(const std::string &, UtcTime *)>;

// Where a page of events starts: just after (or before) a row in the order
// shown, named by its event time (when it has one), machine and line.
struct SeekKey {
    bool given = false, hasTime = false;
    UtcTime time;
    std::string machine;
    long long line = 0;
};
// "2026-01-01T08:00:00.000Z,17,m1" (no time: ",17,m1"), and back; false when
// it does not read.
std::string SeekKeyText(const SeekKey &key);
bool ReadSeekKey(const std::string &text, SeekKey *key);

// A record's history as asked for: its descriptor (and property), on every
// machine unless one is named, from its page's first row on, oldest first.
struct HistoryQuery {
    std::string machine, descriptor, property;
    long long page = 0;     // as given, from 1 (0: not given, the first)
    SeekKey after, before;  // the page starts after, or ends before, this row
    std::vector<std::string> errors;
    // "descriptor=FIC101&property=SP" (and the machine): the record, no page.
    std::string Query() const;
};
HistoryQuery ReadHistoryQuery(const std::map<std::string, std::string> &form);

// Seconds an event may be stored off its event time unflagged: the console's.
constexpr long long kStoredTolerance = 300;

struct EventFilter {
    std::map<std::string, std::string> fields;  // as the form gave them
    std::vector<std::string> errors;            // one per field that does not read
    bool hasFrom = false, hasTo = false;
    UtcTime from, to;  // from included, to not
    // Each condition applies when not empty; the domain only when hasDomain
    // (a user given as DOMAIN\name, the domain possibly empty).
    std::string machine, domain, user, descriptor, property, text;
    bool hasDomain = false;
    bool hasCategory = false;
    long long category = 0;
    // Only events stored more than kStoredTolerance seconds off their event
    // time ("stored=off"): backdated, or stamped ahead.
    bool storedOff = false;
    long long page = 0;   // as given, from 1 (0: not given, the first)
    bool byLine = false;  // machine and line, else newest first
    SeekKey after, before;  // the page starts after, or ends before, this row
    // The console's filter of the same fields, which defines what they
    // select (texts in any case, "user" or "DOMAIN\user").
    RowFilter view;

    // A field as given, "" when not.
    std::string Get(const char *name) const;
    // The filter as a query string, without its page and the row it starts
    // from: names and values URL-encoded, empty ones left out.
    std::string Query() const;
    // "machine m1, user op2", or "all events".
    std::string Describe() const;
};

// A field of a form or query string as given, "" when not.
std::string FormField(const std::map<std::string, std::string> &fields, const char *name);

EventFilter ReadFilter(const std::string &query, const LocalTimeReader &localToUtc);

// Case folding as SameIgnoringCase compares texts: each code point of `from`
// stands for the one at the same place in `to` (both UTF-8), which folds a
// letter and its capital into one; any other code point is itself. Two texts
// are the same but for case exactly when their foldings are equal.
struct CaseFolding {
    std::string from, to;
};
const CaseFolding &TheCaseFolding();
std::string FoldCase(std::string_view text);

// A LIKE pattern (escape character \) that selects every text the same as
// `text` but for case, and few more, whatever the database takes for case:
// ASCII letters as they are (the pattern is to be compared ignoring case),
// every other code point any one character.
std::string CaseBlindPattern(std::string_view text);

// A LIKE pattern for a text found anywhere: %, _ and \ taken as themselves.
std::string ContainsPattern(std::string_view text);

// The period of an overview given none: the seven days up to now, of the
// machine given; the other conditions do not apply then.
void DefaultToLastWeek(EventFilter *filter, const UtcTime &now);

}  // namespace qz45trail
