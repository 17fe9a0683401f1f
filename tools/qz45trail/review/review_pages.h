// The review page's pages: plain values in, HTML out. No database, no clock,
// no time zone: times are shown by the function the caller gives.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "review_data.h"
#include "review_filter.h"

namespace qz45trail {

// How many rows a page, a printed copy, a record's history and a CSV copy
// hold at most.
constexpr long long kPageRows = 100;
constexpr long long kPrintRows = 10000;
constexpr long long kHistoryRows = 500;
// Rows counted for a page's total: beyond it, "more than 10,000" (counting
// every row of a large trail would cost more than the page).
constexpr long long kCountedRows = 10000;
constexpr long long kCsvRows = 100000;

// A UTC time as the reader sees it ("2026-12-08 10:15:00.000 +01:00").
using TimeText = std::function<std::string(const UtcTime &)>;

// What every page shows besides its content.
struct PageContext {
    std::string reader;  // the Windows user the page runs as
    TimeText timeText;
    std::string zone;    // the zone times are shown in: "W. Europe Standard Time, UTC+01:00"
};

// A page: title, navigation (`here` marked: "/", "/overview", "/reviews" or
// ""), the reader, the content.
std::string Frame(const PageContext &context, const std::string &title, const char *here,
                  const std::string &content);
std::string NotFoundPage(const PageContext &context);
std::string DatabaseErrorPage(const PageContext &context, const std::string &message);

// The events of a filter, a page of them: `events` as read from the page's
// first row on, up to kPageRows + 1 (one more tells there is a next page).
// A filter with errors shows its form and them, and takes no events.
// `machines` are the ones the form offers.
std::string EventsPage(const PageContext &context, const EventFilter &filter,
                       const std::vector<std::string> &machines, const std::vector<Event> &events);

// A page of events as read: its rows, whether there are more after them, and
// how many the filter selects in all (-1: not counted; above kCountedRows:
// more than that).
struct EventsPageRows {
    std::vector<Event> events;  // up to kPageRows
    bool more = false;
    long long total = -1;
};
// The same with the rows counted: "rows 101–200 of 2,171", the links to the
// pages before and after it above and below the rows, each continuing from
// the row next to it.
std::string CountedEventsPage(const PageContext &context, const EventFilter &filter,
                              const std::vector<std::string> &machines,
                              const EventsPageRows &rows);

// "2,171".
std::string Thousands(long long n);

// The events on one record (and property), oldest first, a page of up to
// kHistoryRows, counted and linked to the pages before and after it as the
// events page is; on every machine unless the query names one, the machine
// in each row and links to restrict it to each of them.
std::string HistoryPage(const PageContext &context, const HistoryQuery &q,
                        const EventsPageRows &page);

// The printable copy of a filter without errors: up to kPrintRows + 1
// events, under a head saying what was selected, when it was printed, by
// whom, and each machine's chain.
std::string PrintPage(const PageContext &context, const EventFilter &filter,
                      const std::vector<MachineStatus> &machines, bool chainChecked,
                      const std::vector<Event> &events, const UtcTime &printedAt);

// The CSV copy: a byte order mark, a head, one record per event.
std::string CsvBody(const std::vector<Event> &events, const TimeText &timeText);

// What the reviews page shows: an error to show above all (the review was
// not recorded), the review just recorded (its id, 0 when none), the form's
// fields as given (the form shows them again), the token the form carries,
// the machines there are, the reviews recorded, newest first.
struct ReviewsView {
    std::string said;
    long long recorded = 0;
    std::map<std::string, std::string> given;
    std::string token;
    std::vector<std::string> machines;
    std::vector<StoredReview> reviews;
};
std::string ReviewsPage(const PageContext &context, const ReviewsView &view);

// Whether an overview's chart counts per hour (a period of up to three
// days), else per day.
bool ChartByHour(const EventFilter &filter);

// The overview of a filter's period: the exceptions, each machine's trail,
// the events per hour or day and category, the events per user. A filter
// with errors shows its form and them only. chainChecked: whether this
// database's chains are checked here (PostgreSQL only).
std::string OverviewPage(const PageContext &context, const EventFilter &filter,
                         const std::vector<std::string> &machineNames, const Overview &overview,
                         const std::vector<MachineStatus> &machines, bool chainChecked);

// A machine's chain as its last full check found it, and when:
// "intact, lines 1–9, checked 10:15:00", "first bad line 5 (...), ...".
std::string ChainText(const MachineStatus &status, bool chainChecked, const TimeText &timeText);

}  // namespace qz45trail
