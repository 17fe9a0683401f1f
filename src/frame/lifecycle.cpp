// The four lifecycle exports: opening and closing a use of the library, and
// joining and leaving a COM apartment with the library's apartment policy.
#include <windows.h>
#include <objbase.h>

#include "frame/connection_set.h"
#include "frame/library_state.h"
#include "qz45alarmevent_api.h"

namespace qz45 {
namespace {

// Joins the calling thread to the multithreaded apartment, or, when it
// already lives in a single-threaded one, joins that again. Every
// non-negative result (S_OK, S_FALSE) must be balanced by one CoUninitialize.
HRESULT JoinApartment() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (hr == RPC_E_CHANGED_MODE) hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    return hr;
}

}  // namespace
}  // namespace qz45

using qz45::State;

extern "C" QZ45_API QZ45_HRESULT QZ45_CALL InitializeQZ45AlarmEvent(void) {
    qz45::LibraryState &s = State();
    qz45::AcquireServiceLock();
    if (s.InitCount != 0) {
        ++s.InitCount;
        qz45::ReleaseServiceLock();
        return S_OK;
    }
    HRESULT hr = qz45::JoinApartment();
    if (FAILED(hr)) {
        s.InitJoinedApartment = 0;
        qz45::ReleaseServiceLock();
        return hr;
    }
    s.InitJoinedApartment = 1;
    hr = qz45::ConnectAll();
    if (FAILED(hr)) {
        qz45::DisconnectAll();
        CoUninitialize();
        s.InitJoinedApartment = 0;
        qz45::ReleaseServiceLock();
        return hr;
    }
    s.Connected = 1;
    s.InitCount = 1;
    qz45::ReleaseServiceLock();
    return hr;
}

extern "C" QZ45_API QZ45_HRESULT QZ45_CALL UninitializeQZ45AlarmEvent(void) {
    qz45::LibraryState &s = State();
    qz45::AcquireServiceLock();
    HRESULT hr = S_OK;
    if (s.InitCount == 1) {
        hr = qz45::DisconnectAll();
        if (s.InitJoinedApartment == 1) {
            CoUninitialize();
            s.InitJoinedApartment = 0;
        }
        s.Connected = 0;
    }
    if (s.InitCount > 0) --s.InitCount;
    qz45::ReleaseServiceLock();
    return hr;
}

extern "C" QZ45_API QZ45_HRESULT QZ45_CALL QZ45AlarmEventCoInit(void) {
    HRESULT hr = qz45::JoinApartment();
    State().CoInitJoinedApartment = SUCCEEDED(hr) ? 1 : 0;
    return hr;
}

extern "C" QZ45_API QZ45_HRESULT QZ45_CALL QZ45AlarmEventCoUninit(void) {
    if (State().CoInitJoinedApartment.exchange(0) == 1) CoUninitialize();
    return S_OK;
}
