#include "frame/library_state.h"

#include "frame/service_guard.h"

namespace qz45 {

namespace {
// Zero-initialised before any code of the module runs.
LibraryState g_state;
}  // namespace

LibraryState &State() { return g_state; }

void AcquireServiceLock() {
    HANDLE lock = g_state.ServiceLock;
    if (lock == nullptr) return;
    GuardedCall(
        [](void *h) -> HRESULT {
            WaitForSingleObject(static_cast<HANDLE>(h), INFINITE);
            return S_OK;
        },
        lock);
}

void ReleaseServiceLock() {
    HANDLE lock = g_state.ServiceLock;
    if (lock == nullptr) return;
    GuardedCall(
        [](void *h) -> HRESULT {
            ReleaseMutex(static_cast<HANDLE>(h));
            return S_OK;
        },
        lock);
}

bool AttachProcess() {
    if (g_state.ServiceLock == nullptr) g_state.ServiceLock = CreateMutexA(nullptr, FALSE, nullptr);
    return g_state.ServiceLock != nullptr;
}

void DetachProcess() {
    if (g_state.ServiceLock != nullptr) {
        CloseHandle(g_state.ServiceLock);
        g_state.ServiceLock = nullptr;
    }
}

}  // namespace qz45
