// Event types, their names and the category the audit service receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qz45 {

struct EventTypeInfo {
    int32_t type;
    const char *name;
    int32_t category;
};

// Types 0 to 53, in order.
constexpr std::size_t kEventTypeCount = 54;
extern const EventTypeInfo kEventTypes[kEventTypeCount];

// A name as names are compared: lower case, without blanks, dashes,
// underscores and commas ("Change Value", "change-value" and "CHANGE_VALUE"
// alike).
std::string NameKey(const std::string &name);

// The types whose name is text (two share one: 48 and 49).
std::vector<int32_t> EventTypesNamed(const std::string &text);

// "37", "Change Value", "change-value" -> 37: a whole 32-bit number as it is,
// or the name of exactly one type in the table. Nothing when it is neither,
// or names more than one type (EventTypesNamed lists them).
std::optional<int32_t> ParseEventType(const std::string &text);

// The category of a type; every type outside 0..53 (compared unsigned) is 0.
int32_t EventCategoryOf(uint32_t type);

// The name of a type, or nullptr outside 0..53.
const char *EventTypeName(uint32_t type);

// The short name of a category ("create" for 201), or "" for any other number.
const char *EventCategoryName(int32_t category);

}  // namespace qz45
