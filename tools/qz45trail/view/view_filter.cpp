// The console view's options read into its filter, with what is wrong with them.
#include "view_filter.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "event/event_rules.h"
#include "event/event_types.h"

namespace qz45trail {
namespace {

// The class of the service's event object that a type is submitted as.
const char *ClassOf(qz45::EventShape s) {
    switch (s) {
    case qz45::EventShape::Change: return "ChangeEvent";
    case qz45::EventShape::HistoryChange: return "HistoryChangeEvent";
    case qz45::EventShape::General: break;
    }
    return "GeneralEvent";
}

bool WholeNumber(const std::string &text, long long *out) {
    if (text.empty()) return false;
    char *end = nullptr;
    errno = 0;
    *out = std::strtoll(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && *out >= INT32_MIN && *out <= INT32_MAX;
}

bool ReadTime(const char *option, const std::string &text, std::optional<UtcTime> *out,
              std::string *error) {
    if (text.empty()) return true;
    UtcTime t;
    if (!ParseUtc(text, &t, true)) {
        *error = std::string(option) + " " + text + " is not a UTC time (2000-01-01 or "
                 "2000-01-01T12:00:00Z)";
        return false;
    }
    *out = t;
    return true;
}

}  // namespace

ViewFilterReading ReadViewFilter(const ViewOptions &o) {
    ViewFilterReading reading;
    RowFilter &f = reading.filter;
    f.machine = o.machine;
    f.user = o.user;
    f.domain = o.domain;
    f.descriptor = o.descriptor;
    f.property = o.property;
    if (!ReadTime("--since", o.since, &f.since, &reading.error) ||
        !ReadTime("--until", o.until, &f.until, &reading.error))
        return reading;

    long long category = 0;
    if (!o.category.empty()) {
        bool found = WholeNumber(o.category, &category);
        std::string names;
        for (int32_t c = 201; c <= 401 && !found; ++c) {
            const char *name = qz45::EventCategoryName(c);
            if (*name == '\0') continue;
            names += (names.empty() ? "" : ", ") + std::string(name) + " (" + std::to_string(c) + ")";
            if (qz45::NameKey(name) == qz45::NameKey(o.category)) found = true, category = c;
        }
        if (!found) {
            reading.error = "--category " + o.category + " is neither a number nor a category's "
                            "name: " + names;
            return reading;
        }
        f.category = category;
    }

    if (!o.type.empty()) {
        // A name two types share (48 and 49) is fine here: they are written alike.
        std::optional<int32_t> type = qz45::ParseEventType(o.type);
        const std::vector<int32_t> named = qz45::EventTypesNamed(o.type);
        if (!type && !named.empty()) type = named.front();
        const qz45::EventTypeRule *rule =
            type && *type > 0 ? qz45::EventRuleOf(static_cast<uint32_t>(*type)) : nullptr;
        if (rule == nullptr) {
            std::string names;
            for (const auto &t : qz45::kEventTypes)
                if (t.type > 0 && names.find(t.name) == std::string::npos)
                    names += (names.empty() ? "" : ", ") + std::string(t.name);
            reading.error = "--type " + o.type + " is not an event type that is written: a "
                            "number from 1 to " + std::to_string(qz45::kEventTypeCount - 1) +
                            " or a name (qz45event types lists them): " + names;
            return reading;
        }
        const int32_t typeCategory = qz45::EventCategoryOf(static_cast<uint32_t>(*type));
        if (f.category && *f.category != typeCategory) {
            reading.error = "--type " + o.type + " is of category " + std::to_string(typeCategory) +
                            ", --category " + o.category + " another: no line is both";
            return reading;
        }
        f.category = typeCategory;
        f.eventClass = ClassOf(rule->shape);
        // The types a line of this type cannot be told from: written alike.
        std::vector<int32_t> alike;
        for (const auto &t : qz45::kEventTypes)
            if (t.type > 0 && t.category == typeCategory &&
                qz45::EventRuleOf(static_cast<uint32_t>(t.type))->shape == rule->shape)
                alike.push_back(t.type);
        if (alike.size() > 1) {
            std::string list;
            for (std::size_t i = 0; i < alike.size(); ++i)
                list += (i == 0 ? "" : i + 1 == alike.size() ? " and " : ", ") +
                        std::to_string(alike[i]);
            const char *kind = rule->shape == qz45::EventShape::Change    ? "change"
                               : rule->shape == qz45::EventShape::General ? "general"
                                                                          : "history change";
            reading.note = "--type " + o.type + " (" +
                           qz45::EventTypeName(static_cast<uint32_t>(*type)) + ") selects " + kind +
                           " events of category " + std::to_string(typeCategory) + ": types " +
                           list + " are written alike";
        }
    }
    return reading;
}

}  // namespace qz45trail
