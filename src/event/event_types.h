// Event types, their names and the category the audit service receives.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace qz45 {

struct EventTypeInfo {
    int32_t type;
    const char *name;
    int32_t category;
};

// Types 0 to 53, in order.
constexpr std::size_t kEventTypeCount = 54;
extern const EventTypeInfo kEventTypes[kEventTypeCount];

// "37", "Change Value", "change-value" -> 37: a whole 32-bit number as it is,
// or the name of a type in the table (case, blanks, dashes and underscores do
// not matter). Nothing when it is neither.
std::optional<int32_t> ParseEventType(const std::string &text);

// The category of a type; every type outside 0..53 (compared unsigned) is 0.
int32_t EventCategoryOf(uint32_t type);

// The name of a type, or nullptr outside 0..53.
const char *EventTypeName(uint32_t type);

// The name of a category ("change" for 301), or "" when unknown.
const char *EventCategoryName(int32_t category);

}  // namespace qz45
