// The two population exports: fill a caller's record from separate arguments.
#include "qz45alarmevent_api.h"

#include <cstring>

#include "event/record_text.h"

namespace qz45 {
namespace {

// Copies one optional text argument into its field. A text longer than the
// field can hold (N - 1 characters) is refused; it is measured no further
// than one byte past that limit.
template <std::size_t N>
bool CopyTextArg(char (&field)[N], const char *text) {
    if (text == nullptr) return true;
    std::size_t len = BoundedLength(text, N);
    if (len > N - 1) return false;
    std::memcpy(field, text, len + 1);
    return true;
}

void CopyInt(int32_t &field, const int32_t *value) {
    if (value != nullptr) field = *value;
}

void CopyStamp(TimeStamp &field, const TimeStamp *value) {
    if (value != nullptr) field = *value;
}

struct GeneralArgs {
    const char *path, *appName, *user, *domain;
    const TimeStamp *eventTime;
    const char *message;
    const int32_t *auditTrail, *type;
    const char *refId, *appKey;
    const int32_t *severity;
};

struct DescriptorArgs {
    const char *descriptor, *descriptorType, *area, *unit, *property;
    const TimeStamp *history;
    const EventValue *oldValue, *newValue;
};

// Walks the general arguments in their order; false at the first text that
// does not fit, with every earlier field filled and every later one zero.
bool FillGeneral(EventRecord &r, const GeneralArgs &a) {
    if (!CopyTextArg(r.Path, a.path)) return false;
    if (!CopyTextArg(r.AppName, a.appName)) return false;
    if (!CopyTextArg(r.User, a.user)) return false;
    if (!CopyTextArg(r.Domain, a.domain)) return false;
    CopyStamp(r.EventTime, a.eventTime);
    if (!CopyTextArg(r.Message, a.message)) return false;
    r.AuditTrail = a.auditTrail != nullptr ? *a.auditTrail : 1;
    CopyInt(r.Type, a.type);
    if (!CopyTextArg(r.RefId, a.refId)) return false;
    if (!CopyTextArg(r.AppKey, a.appKey)) return false;
    CopyInt(r.Severity, a.severity);
    return true;
}

bool FillDescriptor(EventRecord &r, const DescriptorArgs &a) {
    if (!CopyTextArg(r.Descriptor, a.descriptor)) return false;
    if (!CopyTextArg(r.DescriptorType, a.descriptorType)) return false;
    if (!CopyTextArg(r.Area, a.area)) return false;
    if (!CopyTextArg(r.Unit, a.unit)) return false;
    if (!CopyTextArg(r.Property, a.property)) return false;
    CopyStamp(r.History, a.history);
    if (a.oldValue != nullptr) std::memcpy(&r.OldValue, a.oldValue, sizeof r.OldValue);
    if (a.newValue != nullptr) std::memcpy(&r.NewValue, a.newValue, sizeof r.NewValue);
    return true;
}

// Common frame of both exports. A null status leaves nothing to report to,
// so nothing is done; a null record is refused as invalid.
template <typename Fill>
void Populate(EventRecord *record, int16_t *status, Fill fill) {
    if (status == nullptr) return;
    *status = EVT_SUCCESS;
    if (record == nullptr) {
        *status = EVT_E_INVALID;
        return;
    }
    std::memset(record, 0, sizeof *record);
    if (!fill(*record)) *status = EVT_E_TOO_LONG;
}

}  // namespace
}  // namespace qz45

extern "C" void QZ45_CALL PopulateGeneralSystemEvent(
    EventRecord *record, const char *path, const char *appName, const char *user,
    const char *domain, const TimeStamp *eventTime, const char *message,
    const int32_t *auditTrail, const int32_t *type, const char *refId,
    const char *appKey, const int32_t *severity, int16_t *status) {
    const qz45::GeneralArgs general{path,       appName,    user,  domain, eventTime, message,
                                    auditTrail, type,       refId, appKey, severity};
    qz45::Populate(record, status,
                   [&](EventRecord &r) { return qz45::FillGeneral(r, general); });
}

extern "C" void QZ45_CALL PopulateChangeValueEvent(
    EventRecord *record, const char *path, const char *appName, const char *user,
    const char *domain, const TimeStamp *eventTime, const char *message,
    const int32_t *auditTrail, const int32_t *type, const char *refId,
    const char *appKey, const int32_t *severity, const char *descriptor,
    const char *descriptorType, const char *area, const char *unit,
    const char *property, const TimeStamp *history, const EventValue *oldValue,
    const EventValue *newValue, int16_t *status) {
    const qz45::GeneralArgs general{path,       appName,    user,  domain, eventTime, message,
                                    auditTrail, type,       refId, appKey, severity};
    const qz45::DescriptorArgs desc{descriptor, descriptorType, area,     unit,
                                    property,   history,        oldValue, newValue};
    qz45::Populate(record, status, [&](EventRecord &r) {
        return qz45::FillGeneral(r, general) && qz45::FillDescriptor(r, desc);
    });
}
