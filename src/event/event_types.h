// Event types, their names and the category the audit service receives.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qz45 {

struct EventTypeInfo {
    int32_t type;
    const char *name;
    int32_t category;
};

// Types 0 to 53, in order.
constexpr std::size_t kEventTypeCount = 54;
extern const EventTypeInfo kEventTypes[kEventTypeCount];

// The category of a type; every type outside 0..53 (compared unsigned) is 0.
int32_t EventCategoryOf(uint32_t type);

// The name of a type, or nullptr outside 0..53.
const char *EventTypeName(uint32_t type);

// The short name of a category ("create" for 201), or "" for any other number.
const char *EventCategoryName(int32_t category);

}  // namespace qz45
