#include "frame/connection_set.h"

#include "frame/library_state.h"
#include "frame/service_guard.h"

#include <type_traits>

namespace qz45 {

namespace {

// Where one object lives in LibraryState and how it is created.
struct ServiceSlot {
    const CLSID *clsid;
    const IID *iid;
    IUnknown **primary;         // the object's own interface
    ILoggableEvent **loggable;  // its ILoggableEvent; null for objects 0 and 1
};

// The primary pointers are stored through their IUnknown base: every
// interface of the audit service derives from IUnknown by single inheritance,
// so the base sits at the same address.
template <class I>
IUnknown **AsUnknownSlot(I **p) {
    static_assert(std::is_base_of_v<IUnknown, I>, "service interface");
    return reinterpret_cast<IUnknown **>(p);
}

bool SlotOf(ServiceObjectIndex index, ServiceSlot *slot) {
    LibraryState &s = State();
    switch (index) {
    case ClientContextIndex:
        *slot = {&CLSID_ClientContext, &IID_IClientContext, AsUnknownSlot(&s.ClientContext),
                 nullptr};
        return true;
    case EventLoggerIndex:
        *slot = {&CLSID_EventLogger, &IID_IEventLogger, AsUnknownSlot(&s.EventLogger), nullptr};
        return true;
    case SystemEventIndex:
        *slot = {&CLSID_SystemEvent, &IID_ISystemEvent, AsUnknownSlot(&s.SystemEvent),
                 &s.SystemEventLoggable};
        return true;
    case GeneralEventIndex:
        *slot = {&CLSID_GeneralEvent, &IID_IGeneralEvent, AsUnknownSlot(&s.GeneralEvent),
                 &s.GeneralEventLoggable};
        return true;
    case ChangeEventIndex:
        *slot = {&CLSID_ChangeEvent, &IID_IChangeEvent, AsUnknownSlot(&s.ChangeEvent),
                 &s.ChangeEventLoggable};
        return true;
    case HistoryChangeEventIndex:
        *slot = {&CLSID_HistoryChangeEvent, &IID_IHistoryChangeEvent,
                 AsUnknownSlot(&s.HistoryChangeEvent), &s.HistoryChangeEventLoggable};
        return true;
    }
    return false;
}

// The ten pointers in release order: each object in index order, its
// ILoggableEvent before its primary interface.
IUnknown **ReleaseOrder(int i) {
    LibraryState &s = State();
    switch (i) {
    case 0: return AsUnknownSlot(&s.ClientContext);
    case 1: return AsUnknownSlot(&s.EventLogger);
    case 2: return AsUnknownSlot(&s.SystemEventLoggable);
    case 3: return AsUnknownSlot(&s.SystemEvent);
    case 4: return AsUnknownSlot(&s.GeneralEventLoggable);
    case 5: return AsUnknownSlot(&s.GeneralEvent);
    case 6: return AsUnknownSlot(&s.ChangeEventLoggable);
    case 7: return AsUnknownSlot(&s.ChangeEvent);
    case 8: return AsUnknownSlot(&s.HistoryChangeEventLoggable);
    case 9: return AsUnknownSlot(&s.HistoryChangeEvent);
    default: return nullptr;
    }
}
constexpr int PointerCount = 10;

// Creates the object and, for event objects, gets its ILoggableEvent. Each
// pointer is stored only when its call succeeded, so a broken object that
// reports failure but writes its out pointer leaves nothing to release.
HRESULT CreateInto(const ServiceSlot &slot) {
    void *object = nullptr;
    HRESULT hr = CoCreateInstance(*slot.clsid, nullptr, CLSCTX_INPROC_SERVER, *slot.iid, &object);
    if (FAILED(hr)) return hr;
    *slot.primary = static_cast<IUnknown *>(object);
    if (slot.loggable == nullptr || object == nullptr) return hr;
    void *loggable = nullptr;
    hr = (*slot.primary)->QueryInterface(IID_ILoggableEvent, &loggable);
    if (SUCCEEDED(hr)) *slot.loggable = static_cast<ILoggableEvent *>(loggable);
    return hr;
}

// Releases one pointer under the guard and clears it when the release came
// back; a release that raised leaves the pointer set.
HRESULT ReleaseAndClear(IUnknown **pointer) {
    if (*pointer == nullptr) return S_OK;
    HRESULT hr = Guarded([pointer]() -> HRESULT {
        (*pointer)->Release();
        return S_OK;
    });
    if (SUCCEEDED(hr)) *pointer = nullptr;
    return hr;
}

bool AllPointersSet() {
    for (int i = 0; i < PointerCount; ++i)
        if (*ReleaseOrder(i) == nullptr) return false;
    return true;
}

}  // namespace

HRESULT CreateServiceObject(ServiceObjectIndex index) {
    ServiceSlot slot;
    if (!SlotOf(index, &slot)) return E_INVALIDARG;
    *slot.primary = nullptr;
    if (slot.loggable != nullptr) *slot.loggable = nullptr;
    return Guarded([&slot]() { return CreateInto(slot); });
}

HRESULT ReleaseServiceObject(ServiceObjectIndex index) {
    ServiceSlot slot;
    if (!SlotOf(index, &slot)) return E_INVALIDARG;
    if (slot.loggable != nullptr) {
        HRESULT hr = ReleaseAndClear(AsUnknownSlot(slot.loggable));
        if (FAILED(hr)) return hr;
    }
    return ReleaseAndClear(slot.primary);
}

HRESULT ConnectAll() {
    HRESULT result = S_OK;
    for (int i = 0; i < ServiceObjectCount; ++i) {
        auto index = static_cast<ServiceObjectIndex>(i);
        ServiceSlot slot;
        SlotOf(index, &slot);
        if (*slot.primary != nullptr) continue;
        result = CreateServiceObject(index);
        if (FAILED(result)) return result;
    }
    return result;
}

HRESULT DisconnectAll() {
    for (int i = 0; i < ServiceObjectCount; ++i) {
        auto index = static_cast<ServiceObjectIndex>(i);
        ServiceSlot slot;
        SlotOf(index, &slot);
        if (*slot.primary == nullptr) continue;
        HRESULT hr = ReleaseServiceObject(index);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT ResetConnections() {
    // One guard for the ten releases: the first one that raises ends the
    // pass, and the references not yet released are abandoned.
    Guarded([]() -> HRESULT {
        for (int i = 0; i < PointerCount; ++i) {
            IUnknown *p = *ReleaseOrder(i);
            if (p != nullptr) p->Release();
        }
        return S_OK;
    });
    for (int i = 0; i < PointerCount; ++i) *ReleaseOrder(i) = nullptr;

    HRESULT hr = ConnectAll();
    if (SUCCEEDED(hr)) return hr;
    DisconnectAll();
    return hr;
}

HRESULT EnsureConnected() {
    AcquireServiceLock();
    HRESULT hr = S_OK;
    if (!AllPointersSet()) hr = Guarded([]() { return ResetConnections(); });
    ReleaseServiceLock();
    return hr;
}

}  // namespace qz45
