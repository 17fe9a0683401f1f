// What the review page shows, as plain values: the database's queries return
// them, the pages turn them into HTML. Nothing here knows either.
#pragma once

#include <string>
#include <vector>

#include "line_census.h"
#include "trail_row.h"

namespace qz45trail {

// One row of the trail as the page shows it.
struct Event {
    std::string machine, eventClass, domain, user, descriptor, property, oldType, oldValue,
        newType, newValue, message;
    long long line = 0, category = 0;
    bool hasTime = false, hasCategory = false, hasSubmitted = false;
    UtcTime time, submitted;
    // The event time as stored, which the rows are ordered and paged by, even
    // when a forged column has the line's own time shown instead.
    bool hasStoredTime = false;
    UtcTime storedTime;
    std::string lineText;             // the stored line the columns came from
    std::vector<std::string> forged;  // columns shown from the line: the stored ones disagreed
    // A history change's sample: the time the value it changed was sampled.
    bool hasSample = false;
    UtcTime sample;
};

// What an auditor looks at first, each a kind of event.
// kStoredOff: events stored far off their event time (backdated, or stamped
// ahead), of any category.
enum class ExceptionKind { kRefused, kSecurity, kDeletions, kSwitches, kStartups, kStoredOff };
constexpr ExceptionKind kExceptionKinds[] = {
    ExceptionKind::kRefused,  ExceptionKind::kSecurity, ExceptionKind::kDeletions,
    ExceptionKind::kSwitches, ExceptionKind::kStartups, ExceptionKind::kStoredOff};

// How many events of a kind a period has, and the latest of them (up to ten).
struct ExceptionCount {
    ExceptionKind kind;
    long long count = 0;
    std::vector<Event> latest;
};

// Events of one category in one quarter hour (its start, in UTC); the
// overview adds them up by the reader's local hour or day.
struct CategoryCount {
    UtcTime start;
    long long category = 0;
    long long count = 0;
};

struct UserCount {
    std::string domain, user;
    long long count = 0;
};

// What the shipment log says of a machine, and what the last full check of
// its stored rows found (each row's columns against its line, the numbers
// without gaps, the chain, the shipment log), and when.
struct MachineStatus {
    std::string machine;
    long long lines = 0;  // the last line shipped, by the shipment log
    bool hasLastShipped = false;
    UtcTime lastShipped;
    bool silent = false;  // nothing shipped for longer than the page allows

    bool checked = false;  // a full check has finished
    UtcTime checkedAt;
    long long stored = 0;        // the rows it found
    long long archived = 0;      // lines 1..archived are archived (out of the table)
    std::string archivedIn;      // the archive's manifest
    long long lastLine = 0;      // the last line it knew of, stored or logged
    long long missingLines = 0;  // numbers up to lastLine without a row
    std::vector<LineSpan> missing;  // the first spans of them
    long long firstBad = 0;  // the first line that failed, 0 when none
    bool unproved = false;   // lines without chain members not accepted
    std::string problem;     // the check's first finding, "" when intact
    std::string failure;     // why the last check could not finish, "" when it did
};

// The overview of a period, but for its machines.
struct Overview {
    std::vector<ExceptionCount> exceptions;  // one per kind, in kExceptionKinds' order
    std::vector<CategoryCount> chart;        // by start, then category
    std::vector<UserCount> users;            // the most active first
};

// A review as stored.
struct StoredReview {
    long long id = 0;
    bool hasAt = false, hasFrom = false, hasUntil = false;
    UtcTime at, from, until;
    std::string dbUser, windowsUser, machines, remark, positions;
    std::string meaning;  // "" for a review recorded before meanings were
};

// Where a machine's trail stood when a review was recorded: its last line
// shipped and that line's hashes.
struct TrailPosition {
    std::string machine;
    long long line = 0;
    std::string hash, sha256;
};

}  // namespace qz45trail
