// What each event type requires of a record and the defaults it gets: the
// rules the library applies when it completes a record, and which the sender
// shows and names when a record is refused.
#pragma once

#include <cstdint>
#include <string>

#include "qz45alarmevent_api.h"

namespace qz45 {

// The service class that takes an event of the type.
enum class EventShape { General, Change, HistoryChange };

struct EventTypeRule {
    bool descriptorRequired;     // false: the computer's name when empty
    const char *descriptorType;  // default when empty
    const char *property;        // default when empty; nullptr: required
    EventShape shape;            // HistoryChange also requires History
};

// Longest computer name that makes the default Path.
constexpr int64_t kComputerNameLongest = 120;

// The rule of types 1..53; nullptr for any other type.
const EventTypeRule *EventRuleOf(uint32_t type);

// The fields a record lacks for its type, as the library checks them:
// "User, Domain, Property" ("" when none). Only the record is looked at: the
// computer name, which fills an empty Path and Descriptor, is not.
std::string MissingFields(const EventRecord &record);

}  // namespace qz45
