#include "delivery/submission.h"

#include <windows.h>
#include <objbase.h>

#include "event/ole_date.h"
#include "delivery/value_conversion.h"
#include "event/event_types.h"
#include "event/record_text.h"
#include "frame/connection_set.h"
#include "frame/library_state.h"
#include "frame/ole_resources.h"
#include "frame/service_guard.h"
#include "qz45audit_service.h"

namespace qz45 {

const char kApplicationId[] = "{5B2E7C1A-93D4-4F6E-8A71-2C9D0E4B6F38}";

namespace {

// Everything a submission hands to the audit service, converted from the
// record before the service is touched. Owned here and freed on every exit.
struct WorkingValues {
    Bstr path, appName, user, domain, applicationId;
    DATE eventTime = 0.0;
    Bstr message;
    VARIANT_BOOL auditTrail = VARIANT_FALSE;
    LONG category = 0;
    Bstr refId, appKey;
    LONG severity = 0;
    Bstr descriptor, descriptorType, area, unit, property;
    Variant oldValue, newValue;
    DATE history = 0.0;
};

DATE ToDate(const TimeStamp &t) {
    double date = 0.0;
    UnixTimeToOleDate(t.secs, t.usecs, &date);
    return date;
}

// What sets one submitter apart: its event object and the trailing
// properties it sets after the thirteen common ones.
struct GeneralTraits {
    using Object = IGeneralEvent;
    static constexpr bool kNewValue = false, kHistory = false;
    static Object *EventObject(LibraryState &s) { return s.GeneralEvent; }
    static ILoggableEvent *Loggable(LibraryState &s) { return s.GeneralEventLoggable; }
    static void Trailing(Object *x, WorkingValues &v) { x->SetValue(v.oldValue.get()); }
};

// The old and the new value, as both change events take them.
template <class X>
void SetChangedValues(X *x, WorkingValues &v) {
    x->SetOldValue(v.oldValue.get());
    x->SetNewValue(v.newValue.get());
}

struct ChangeTraits {
    using Object = IChangeEvent;
    static constexpr bool kNewValue = true, kHistory = false;
    static Object *EventObject(LibraryState &s) { return s.ChangeEvent; }
    static ILoggableEvent *Loggable(LibraryState &s) { return s.ChangeEventLoggable; }
    static void Trailing(Object *x, WorkingValues &v) { SetChangedValues(x, v); }
};

struct HistoryChangeTraits {
    using Object = IHistoryChangeEvent;
    static constexpr bool kNewValue = true, kHistory = true;
    static Object *EventObject(LibraryState &s) { return s.HistoryChangeEvent; }
    static ILoggableEvent *Loggable(LibraryState &s) { return s.HistoryChangeEventLoggable; }
    static void Trailing(Object *x, WorkingValues &v) {
        SetChangedValues(x, v);
        x->SetHistory(v.history);
    }
};

template <typename Traits>
void BuildWorkingValues(const EventRecord &r, WorkingValues &v) {
    v.path = Bstr::FromAnsi(FieldText(r.Path));
    v.appName = Bstr::FromAnsi(FieldText(r.AppName));
    v.user = Bstr::FromAnsi(FieldText(r.User));
    v.domain = Bstr::FromAnsi(FieldText(r.Domain));
    v.applicationId = Bstr::FromAnsi(kApplicationId);
    v.eventTime = ToDate(r.EventTime);
    v.message = Bstr::FromAnsi(FieldText(r.Message));
    v.auditTrail = r.AuditTrail == 1 ? VARIANT_TRUE : VARIANT_FALSE;
    v.category = EventCategoryOf(static_cast<uint32_t>(r.Type));
    v.refId = Bstr::FromAnsi(FieldText(r.RefId));
    v.appKey = Bstr::FromAnsi(FieldText(r.AppKey));
    v.severity = r.Severity;
    v.descriptor = Bstr::FromAnsi(FieldText(r.Descriptor));
    v.descriptorType = Bstr::FromAnsi(FieldText(r.DescriptorType));
    v.area = Bstr::FromAnsi(FieldText(r.Area));
    v.unit = Bstr::FromAnsi(FieldText(r.Unit));
    v.property = Bstr::FromAnsi(FieldText(r.Property));
    v.oldValue = EventValueToVariant(r.OldValue);
    if (Traits::kNewValue) v.newValue = EventValueToVariant(r.NewValue);
    if (Traits::kHistory) v.history = ToDate(r.History);
}

template <typename Traits>
struct ServiceCalls {
    WorkingValues *v;

    // The calls into the audit service, in their fixed order. Runs inside the
    // guard, so it owns nothing that needs destroying. Returns the HRESULT
    // that decides the submission: a failure of Reset or SetIdentity, the
    // result of Submit, or E_UNEXPECTED for an absent object.
    static HRESULT Run(void *context) {
        WorkingValues &v = *static_cast<ServiceCalls *>(context)->v;
        LibraryState &s = State();
        typename Traits::Object *x = Traits::EventObject(s);
        if (x == nullptr) return E_UNEXPECTED;
        HRESULT hr = x->Reset();
        if (FAILED(hr)) return hr;

        IClientContext *context_ = s.ClientContext;
        if (context_ == nullptr) return E_UNEXPECTED;
        context_->SetAppName(v.appName.get());
        hr = context_->SetIdentity(v.user.get(), v.domain.get(), v.applicationId.get());
        if (FAILED(hr)) return hr;
        x->SetContext(context_);

        x->SetPath(v.path.get());
        x->SetEventTime(v.eventTime);
        x->SetMessage(v.message.get());
        x->SetAuditTrail(v.auditTrail);
        x->SetCategory(v.category);
        x->SetRefId(v.refId.get());
        x->SetAppKey(v.appKey.get());
        x->SetSeverity(v.severity);
        x->SetDescriptor(v.descriptor.get());
        x->SetDescriptorType(v.descriptorType.get());
        x->SetArea(v.area.get());
        x->SetUnit(v.unit.get());
        x->SetProperty(v.property.get());
        Traits::Trailing(x, v);

        IEventLogger *logger = s.EventLogger;
        ILoggableEvent *loggable = Traits::Loggable(s);
        if (logger == nullptr || loggable == nullptr) return E_UNEXPECTED;
        return logger->Submit(loggable);
    }
};

void SetOutcome(EventStatus &status, int16_t code, HRESULT hr) {
    status.status = code;
    status.hresult = static_cast<int32_t>(hr);
}

template <typename Traits>
void Submit(const EventRecord &record, EventStatus &status) {
    SetOutcome(status, EVT_E_SERVICE, E_FAIL);

    // A conversion that runs out of memory leaves the preset outcome.
    WorkingValues v;
    try {
        BuildWorkingValues<Traits>(record, v);
    } catch (...) {
        return;
    }

    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const bool joined = SUCCEEDED(hr);
    if (!joined && hr != RPC_E_CHANGED_MODE) {
        SetOutcome(status, EVT_E_APARTMENT, hr);
        return;
    }

    AcquireServiceLock();
    bool initialisedHere = false;
    if (!State().Connected) {
        hr = InitializeQZ45AlarmEvent();
        if (FAILED(hr)) {
            SetOutcome(status, EVT_E_SERVICE, hr);
            ReleaseServiceLock();
            if (joined) CoUninitialize();
            return;
        }
        initialisedHere = true;
    }

    hr = EnsureConnected();
    if (FAILED(hr)) {
        SetOutcome(status, EVT_E_SERVICE, hr);
    } else {
        ServiceCalls<Traits> calls{&v};
        hr = GuardedCall(&ServiceCalls<Traits>::Run, &calls);
        SetOutcome(status, SUCCEEDED(hr) ? EVT_SUCCESS : EVT_E_SERVICE, hr);
    }

    if (initialisedHere) UninitializeQZ45AlarmEvent();
    ReleaseServiceLock();
    if (joined) CoUninitialize();
}

}  // namespace

void SubmitGeneralEvent(const EventRecord &record, EventStatus &status) {
    Submit<GeneralTraits>(record, status);
}

void SubmitChangeEvent(const EventRecord &record, EventStatus &status) {
    Submit<ChangeTraits>(record, status);
}

void SubmitHistoryChangeEvent(const EventRecord &record, EventStatus &status) {
    Submit<HistoryChangeTraits>(record, status);
}

}  // namespace qz45
