#include "delivery/event_completion.h"

#include <cstdio>
#include <string_view>

#include "event/record_text.h"

namespace qz45 {

const char kFixedAppName[] = "Oskel Zentrova.45";

namespace {

constexpr uint32_t kLastType = 53;
constexpr uint32_t kPathNameCapacity = 255;       // computer name read for Path
constexpr int64_t kPathNameLongest = 120;         // longest name accepted for Path
constexpr uint32_t kDescriptorNameCapacity = 511; // computer name read for Descriptor
constexpr uint32_t kExecutablePathCapacity = 255; // executable path read for AppKey

enum class DescriptorRule { ComputerName, Required };

struct RouteRow {
    uint32_t first, last;          // the types of this row, inclusive
    DescriptorRule descriptor;
    const char *descriptorType;    // default when empty
    const char *property;          // default when empty; nullptr: required
    Submitter submitter;
};

constexpr const char kDatabase[] = "DATABASE";
constexpr const char kRecord[] = "RECORD";
constexpr const char kAdmin[] = "QZ45 Admin";
constexpr const char kAcl[] = "ACL";
constexpr const char kAuditTrail[] = "QZ45 Audit Trail";
constexpr const char kCfr11[] = "QZ45 CFR11 Mode";
constexpr const char kTaskList[] = "QZ45 TaskList";

constexpr DescriptorRule kComputer = DescriptorRule::ComputerName;
constexpr DescriptorRule kNamed = DescriptorRule::Required;
constexpr const char *kRequired = nullptr;

// Types 1..53. Events about the whole database name the computer; events
// about one record must name it.
constexpr RouteRow kRoutes[] = {
    {1, 2, kComputer, kDatabase, kAdmin, Submitter::General},
    {3, 3, kComputer, kDatabase, kAdmin, Submitter::Change},
    {4, 11, kComputer, kDatabase, kAdmin, Submitter::General},
    {12, 12, kComputer, kDatabase, kAcl, Submitter::General},
    {13, 14, kComputer, kDatabase, kAuditTrail, Submitter::General},
    {15, 16, kComputer, kDatabase, kCfr11, Submitter::General},
    {17, 17, kComputer, kDatabase, kAdmin, Submitter::General},
    {18, 24, kNamed, kRecord, kRequired, Submitter::General},
    {25, 25, kNamed, kRecord, kAcl, Submitter::General},
    {26, 30, kNamed, kRecord, kRequired, Submitter::General},
    {31, 31, kComputer, kDatabase, kAcl, Submitter::Change},
    {32, 32, kNamed, kRecord, kAcl, Submitter::Change},
    {33, 34, kComputer, kDatabase, kAuditTrail, Submitter::General},
    {35, 36, kComputer, kDatabase, kCfr11, Submitter::General},
    {37, 37, kNamed, kRecord, kRequired, Submitter::Change},
    {38, 38, kNamed, kRecord, kRequired, Submitter::HistoryChange},
    {39, 47, kComputer, kDatabase, kTaskList, Submitter::General},
    {48, 53, kComputer, kDatabase, kAdmin, Submitter::General},
};

const RouteRow *RouteOf(uint32_t type) {
    for (const RouteRow &row : kRoutes)
        if (type >= row.first && type <= row.last) return &row;
    return nullptr;
}

}  // namespace

Submitter SubmitterOf(uint32_t type) {
    const RouteRow *row = RouteOf(type);
    return row == nullptr ? Submitter::None : row->submitter;
}

namespace {

std::string_view LastComponent(std::string_view text) {
    std::size_t slash = text.rfind('\\');
    return slash == std::string_view::npos ? text : text.substr(slash + 1);
}

// Reads the computer name with the given capacity; false when there is none
// or it is longer than `longest`.
bool ReadComputerName(const CompletionPlatform &platform, char *buf, uint32_t capacity,
                      int64_t longest) {
    buf[0] = '\0';
    int64_t reported = platform.ComputerName(buf, capacity);
    if (reported < 0 || reported > longest) return false;
    buf[reported] = '\0';
    return true;
}

Submitter Refuse(EventStatus &status, int16_t code) {
    status.status = code;
    return Submitter::None;
}

}  // namespace

Submitter CompleteEvent(EventRecord &r, EventStatus &status, const CompletionPlatform &platform) {
    status.status = EVT_SUCCESS;

    if (FieldEmpty(r.Path)) {
        char name[kPathNameCapacity + 1];
        if (!ReadComputerName(platform, name, kPathNameCapacity, kPathNameLongest))
            return Refuse(status, EVT_E_INVALID);
        std::snprintf(r.Path, sizeof r.Path, "%s/QZ.45/%s", name, name);
    }

    if (FieldEmpty(r.AppKey)) {
        if (!FieldEmpty(r.AppName)) {
            SetFieldText(r.AppKey, LastComponent(FieldText(r.AppName)));
        } else {
            char path[kExecutablePathCapacity + 1];
            uint32_t len = platform.ExecutablePath(path, kExecutablePathCapacity);
            if (len > kExecutablePathCapacity - 1) len = kExecutablePathCapacity - 1;
            SetFieldText(r.AppKey, LastComponent(std::string_view(path, len)));
        }
    }

    SetFieldText(r.AppName, kFixedAppName);

    if (FieldEmpty(r.Domain) || FieldEmpty(r.User)) return Refuse(status, EVT_E_INVALID);

    if (r.EventTime.secs == 0 && r.EventTime.usecs == 0) r.EventTime.secs = platform.Now();

    const uint32_t type = static_cast<uint32_t>(r.Type);
    const RouteRow *row = type == 0 || type > kLastType ? nullptr : RouteOf(type);
    if (row == nullptr) return Refuse(status, EVT_E_BAD_TYPE);

    if (FieldEmpty(r.Descriptor)) {
        if (row->descriptor == DescriptorRule::Required) return Refuse(status, EVT_E_INVALID);
        char name[kDescriptorNameCapacity + 1];
        if (!ReadComputerName(platform, name, kDescriptorNameCapacity,
                              kDescriptorNameCapacity))
            return Refuse(status, EVT_E_INVALID);
        SetFieldText(r.Descriptor, name);
    }

    if (FieldEmpty(r.DescriptorType)) SetFieldText(r.DescriptorType, row->descriptorType);

    if (FieldEmpty(r.Property)) {
        if (row->property == kRequired) return Refuse(status, EVT_E_INVALID);
        SetFieldText(r.Property, row->property);
    }

    if (row->submitter == Submitter::HistoryChange && r.History.secs == 0 && r.History.usecs == 0)
        return Refuse(status, EVT_E_INVALID);

    return row->submitter;
}

}  // namespace qz45
