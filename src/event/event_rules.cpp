#include "event/event_rules.h"

#include "event/record_text.h"

namespace qz45 {
namespace {

struct RuleRow {
    uint32_t first, last;  // the types of this row, inclusive
    EventTypeRule rule;
};

constexpr const char kDatabase[] = "DATABASE";
constexpr const char kRecord[] = "RECORD";
constexpr const char kAdmin[] = "QZ45 Admin";
constexpr const char kAcl[] = "ACL";
constexpr const char kAuditTrail[] = "QZ45 Audit Trail";
constexpr const char kCfr11[] = "QZ45 CFR11 Mode";
constexpr const char kTaskList[] = "QZ45 TaskList";

constexpr bool kComputer = false;
constexpr bool kNamed = true;
constexpr const char *kRequired = nullptr;
constexpr EventShape kGeneral = EventShape::General;
constexpr EventShape kChange = EventShape::Change;

// Types 1..53. Events about the whole database name the computer; events
// about one record must name it.
constexpr RuleRow kRules[] = {
    {1, 2, {kComputer, kDatabase, kAdmin, kGeneral}},
    {3, 3, {kComputer, kDatabase, kAdmin, kChange}},
    {4, 11, {kComputer, kDatabase, kAdmin, kGeneral}},
    {12, 12, {kComputer, kDatabase, kAcl, kGeneral}},
    {13, 14, {kComputer, kDatabase, kAuditTrail, kGeneral}},
    {15, 16, {kComputer, kDatabase, kCfr11, kGeneral}},
    {17, 17, {kComputer, kDatabase, kAdmin, kGeneral}},
    {18, 24, {kNamed, kRecord, kRequired, kGeneral}},
    {25, 25, {kNamed, kRecord, kAcl, kGeneral}},
    {26, 30, {kNamed, kRecord, kRequired, kGeneral}},
    {31, 31, {kComputer, kDatabase, kAcl, kChange}},
    {32, 32, {kNamed, kRecord, kAcl, kChange}},
    {33, 34, {kComputer, kDatabase, kAuditTrail, kGeneral}},
    {35, 36, {kComputer, kDatabase, kCfr11, kGeneral}},
    {37, 37, {kNamed, kRecord, kRequired, kChange}},
    {38, 38, {kNamed, kRecord, kRequired, EventShape::HistoryChange}},
    {39, 47, {kComputer, kDatabase, kTaskList, kGeneral}},
    {48, 53, {kComputer, kDatabase, kAdmin, kGeneral}},
};

}  // namespace

const EventTypeRule *EventRuleOf(uint32_t type) {
    for (const RuleRow &row : kRules)
        if (type >= row.first && type <= row.last) return &row.rule;
    return nullptr;
}

std::string MissingFields(const EventRecord &r) {
    std::string out;
    auto lacks = [&out](const char *name) { out += (out.empty() ? "" : ", ") + std::string(name); };
    if (FieldEmpty(r.User)) lacks("User");
    if (FieldEmpty(r.Domain)) lacks("Domain");
    if (const EventTypeRule *rule = EventRuleOf(static_cast<uint32_t>(r.Type))) {
        if (rule->descriptorRequired && FieldEmpty(r.Descriptor)) lacks("Descriptor");
        if (rule->property == nullptr && FieldEmpty(r.Property)) lacks("Property");
        if (rule->shape == EventShape::HistoryChange && r.History.secs == 0 && r.History.usecs == 0)
            lacks("History");
    }
    return out;
}

}  // namespace qz45
