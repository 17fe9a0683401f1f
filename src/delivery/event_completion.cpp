#include "delivery/event_completion.h"

#include <cstdio>
#include <string_view>

#include "event/event_rules.h"
#include "event/record_text.h"

namespace qz45 {

const char kFixedAppName[] = "Oskel Zentrova.45";

namespace {

constexpr uint32_t kPathNameCapacity = 255;       // computer name read for Path
constexpr uint32_t kDescriptorNameCapacity = 511; // computer name read for Descriptor
constexpr uint32_t kExecutablePathCapacity = 255; // executable path read for AppKey

Submitter SubmitterOf(EventShape shape) {
    switch (shape) {
    case EventShape::Change: return Submitter::Change;
    case EventShape::HistoryChange: return Submitter::HistoryChange;
    case EventShape::General: break;
    }
    return Submitter::General;
}

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
        if (!ReadComputerName(platform, name, kPathNameCapacity, kComputerNameLongest))
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

    const EventTypeRule *rule = EventRuleOf(static_cast<uint32_t>(r.Type));
    if (rule == nullptr) return Refuse(status, EVT_E_BAD_TYPE);

    if (FieldEmpty(r.Descriptor)) {
        if (rule->descriptorRequired) return Refuse(status, EVT_E_INVALID);
        char name[kDescriptorNameCapacity + 1];
        if (!ReadComputerName(platform, name, kDescriptorNameCapacity,
                              kDescriptorNameCapacity))
            return Refuse(status, EVT_E_INVALID);
        SetFieldText(r.Descriptor, name);
    }

    if (FieldEmpty(r.DescriptorType)) SetFieldText(r.DescriptorType, rule->descriptorType);

    if (FieldEmpty(r.Property)) {
        if (rule->property == nullptr) return Refuse(status, EVT_E_INVALID);
        SetFieldText(r.Property, rule->property);
    }

    if (rule->shape == EventShape::HistoryChange && r.History.secs == 0 && r.History.usecs == 0)
        return Refuse(status, EVT_E_INVALID);

    return SubmitterOf(rule->shape);
}

}  // namespace qz45
