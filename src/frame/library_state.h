// The library's one process-wide state and its lock.
//
// The ten interface pointers, Connected, InitJoinedApartment and InitCount are
// guarded by the ServiceLock: read or write them only while holding it.
// CoInitJoinedApartment and FailureCount are atomic and read without it.
#pragma once

#include <windows.h>

#include <atomic>

#include "qz45audit_service.h"

namespace qz45 {

struct LibraryState {
    // The connection set: each non-null pointer holds one reference that the
    // library owns. Only the connection set creates and releases them.
    IClientContext *ClientContext;
    IEventLogger *EventLogger;
    ISystemEvent *SystemEvent;
    ILoggableEvent *SystemEventLoggable;
    IGeneralEvent *GeneralEvent;
    ILoggableEvent *GeneralEventLoggable;
    IChangeEvent *ChangeEvent;
    ILoggableEvent *ChangeEventLoggable;
    IHistoryChangeEvent *HistoryChangeEvent;
    ILoggableEvent *HistoryChangeEventLoggable;

    // Recursive, thread-owned mutex; created at process attach, closed at
    // process detach.
    HANDLE ServiceLock;
    // 1 while a use opened by InitializeQZ45AlarmEvent is open.
    LONG Connected;
    // 1 when the first open joined an apartment that the last close leaves.
    LONG InitJoinedApartment;
    // 1 when the last QZ45AlarmEventCoInit joined an apartment that
    // QZ45AlarmEventCoUninit leaves.
    std::atomic<LONG> CoInitJoinedApartment;
    // Number of open uses.
    ULONG InitCount;
    // Consecutive deliveries that failed in the audit service.
    std::atomic<ULONG> FailureCount;
};

// The one instance; every field is zero when the library is loaded.
LibraryState &State();

// Takes the ServiceLock, waiting without a time limit; a nested take by the
// holding thread succeeds at once. Does nothing while the lock is absent.
// A fault raised while waiting is dropped.
void AcquireServiceLock();

// Gives back one hold of the ServiceLock. A fault raised is dropped.
void ReleaseServiceLock();

// Process attach: creates the ServiceLock if it is absent. False when the
// mutex cannot be created (the load fails).
bool AttachProcess();

// Process detach: closes the ServiceLock if present. Nothing else: open
// uses stay counted and the service objects are not released.
void DetachProcess();

}  // namespace qz45
