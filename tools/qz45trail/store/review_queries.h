// Every SQL statement of the review page: the events of a filter, a record's
// history, the overview's counts, the machines and their shipment log, a step
// of the chain check, the reviews listed and recorded. ODBC in, plain values
// out (review_data.h). Each runs in the connection's transaction of the
// moment, but for RecordReview, which commits its own.
#pragma once

#include <string>
#include <vector>

#include "odbc.h"
#include "review_data.h"
#include "review_filter.h"
#include "review_record.h"

namespace qz45trail {

// The events of a filter, newest first (or by machine and line when it says
// so): up to limit of them, from the offset-th on; from just after the
// filter's `after` row, or the last up to limit just before its `before` row,
// when it names one.
std::vector<Event> FilteredEvents(const OdbcConnection &connection, const EventFilter &filter,
                                  long long limit, long long offset);

// How many events a filter selects (its page's rows aside), counted up to
// upTo + 1: a count above upTo says "more than upTo".
long long CountEvents(const OdbcConnection &connection, const EventFilter &filter,
                      long long upTo);

// The events on a descriptor, on every machine (on one when the query names
// it; of a property, when it names one), oldest first: up to limit from the
// first, or just after the query's `after` row, or the last up to limit just
// before its `before` row.
std::vector<Event> RecordHistory(const OdbcConnection &connection, const HistoryQuery &q,
                                 long long limit);
// How many events the history holds in all, counted up to upTo + 1.
long long CountHistory(const OdbcConnection &connection, const HistoryQuery &q, long long upTo);

// The machines the shipment log knows, by name.
std::vector<std::string> ShippedMachines(const OdbcConnection &connection);

// The overview of a filter's period: the count of each kind of exception and
// its latest ten, the events per quarter hour (of UTC) and category, the 50
// most active users.
Overview ReadOverview(const OdbcConnection &connection, const EventFilter &filter);

// Each machine of the shipment log, by name: its last line shipped and when
// it last shipped; nothing of its chain.
std::vector<MachineStatus> ShipmentLogStatus(const OdbcConnection &connection);

// A step of a machine's chain check, lines after..through: the first line
// that does not check out (its number not the one before's plus one, its
// hash not that of its text, its prev not the hash before it), else the last
// line there is (`after` and "" when none).
struct ChainStep {
    long long firstBad = 0;
    long long lastLine = 0;
    std::string lastHash;
};
ChainStep CheckChainLines(const OdbcConnection &connection, const std::string &machine,
                          long long after, const std::string &hashBefore, long long through);

// The latest 200 reviews, newest first, with their meaning where the table
// keeps it apart.
std::vector<StoredReview> RecentReviews(const OdbcConnection &connection);

// Records a review with where each machine's trail stands now, read in the
// same transaction, and commits it; its id. A reviews table without the
// meaning's column (an earlier release's) gets it at the remark's head.
long long RecordReview(const OdbcConnection &connection, const NewReview &review,
                       const std::string &windowsUser);

}  // namespace qz45trail
