#include "frame/library_state.h"

#include <cstdint>

#include "frame/service_guard.h"

namespace qz45 {

namespace {
// Zero-initialised before any code of the module runs.
LibraryState g_state;

// How many holds of the ServiceLock the calling thread has, kept in a
// thread-local slot: only the outermost take waits on the mutex and only the
// outermost give-back releases it, so a nested take costs no kernel call.
// The count lives and dies with its thread, so a thread that ends while
// holding the lock leaves nothing behind but the abandoned mutex, which the
// next waiter takes. Without a slot every take and give-back goes to the
// mutex, which is recursive itself.
DWORD g_holdSlot = TLS_OUT_OF_INDEXES;

unsigned Holds() {
    if (g_holdSlot == TLS_OUT_OF_INDEXES) return 0;
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(TlsGetValue(g_holdSlot)));
}

void SetHolds(unsigned holds) {
    if (g_holdSlot != TLS_OUT_OF_INDEXES)
        TlsSetValue(g_holdSlot, reinterpret_cast<void *>(static_cast<uintptr_t>(holds)));
}
}  // namespace

LibraryState &State() { return g_state; }

void AcquireServiceLock() {
    HANDLE lock = g_state.ServiceLock;
    if (lock == nullptr) return;
    const unsigned holds = Holds();
    if (holds > 0) {
        SetHolds(holds + 1);
        return;
    }
    // The wait's result is not examined: a lock abandoned by a thread that
    // ended while holding it counts as taken.
    GuardedCall(
        [](void *h) -> HRESULT {
            WaitForSingleObject(static_cast<HANDLE>(h), INFINITE);
            return S_OK;
        },
        lock);
    SetHolds(1);
}

void ReleaseServiceLock() {
    HANDLE lock = g_state.ServiceLock;
    if (lock == nullptr) return;
    const unsigned holds = Holds();
    if (holds > 1) {
        SetHolds(holds - 1);
        return;
    }
    if (holds == 1) SetHolds(0);
    GuardedCall(
        [](void *h) -> HRESULT {
            ReleaseMutex(static_cast<HANDLE>(h));
            return S_OK;
        },
        lock);
}

bool AttachProcess() {
    if (g_holdSlot == TLS_OUT_OF_INDEXES) g_holdSlot = TlsAlloc();
    if (g_state.ServiceLock == nullptr) g_state.ServiceLock = CreateMutexA(nullptr, FALSE, nullptr);
    return g_state.ServiceLock != nullptr;
}

void DetachProcess() {
    if (g_state.ServiceLock != nullptr) {
        CloseHandle(g_state.ServiceLock);
        g_state.ServiceLock = nullptr;
    }
    if (g_holdSlot != TLS_OUT_OF_INDEXES) {
        TlsFree(g_holdSlot);
        g_holdSlot = TLS_OUT_OF_INDEXES;
    }
}

}  // namespace qz45
