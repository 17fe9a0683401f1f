// Pieces that several of the review page's pages are made of: a time cell,
// an event's row, the filter's form, a category's name and types.
#pragma once

#include <string>
#include <vector>

#include "review_data.h"
#include "review_filter.h"
#include "review_pages.h"

namespace qz45trail {

// A time cell: the reader's time, UTC in its tooltip.
std::string TimeCell(const PageContext &context, const UtcTime &t);

// The library's name of a category, "" when it has none.
std::string CategoryName(long long number);
// The library's event types of a category, by name.
std::string TypesOf(int category);

// "DOMAIN\user".
std::string Who(const Event &e);
// Old -> new as the console table shows them: "R8 1.5 -> R8 2.5", single
// and double precision numbers as their shortest text ("R4 0.1", "R8 45").
std::string Values(const Event &e);

// The value cell: old -> new, and a history change's sample time.
std::string ValueCell(const PageContext &context, const Event &e);

// Seconds from an event's time to when it was stored; false when either is
// not known.
bool StoredAfter(const Event &e, double *seconds);
// Whether it was stored more than kStoredTolerance seconds off its time.
bool StoredOffItsTime(const Event &e);
// The time it was stored, flagged "!" with the gap in its tooltip when off.
std::string SubmittedCell(const PageContext &context, const Event &e);

// The filter's form; all: every field, else the period and the machine only.
std::string FilterForm(const EventFilter &f, const char *action, bool all,
                       const std::vector<std::string> &machines);

// The head of an events table, and a row; links: the descriptor links to
// its record's history.
std::string EventHead();
std::string EventRow(const PageContext &context, const Event &e, bool links);

}  // namespace qz45trail
