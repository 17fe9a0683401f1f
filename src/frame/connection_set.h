// The connection set: the six audit-service objects the library holds for the
// whole process, through the ten interface pointers of LibraryState.
//
// Every operation but EnsureConnected expects the caller to hold the
// ServiceLock. Results are COM's, or E_UNEXPECTED (0x8000FFFF) when a call
// into an object raised an exception or faulted.
#pragma once

#include <windows.h>

namespace qz45 {

// The objects, in the fixed order of creation and release.
enum ServiceObjectIndex {
    ClientContextIndex = 0,
    EventLoggerIndex,
    SystemEventIndex,
    GeneralEventIndex,
    ChangeEventIndex,
    HistoryChangeEventIndex,
};
constexpr int ServiceObjectCount = 6;

// Creates one object (in process) into its primary pointer and, for the four
// event objects, asks it for ILoggableEvent into its second pointer. Clears
// both pointers first without releasing them: call it only for an absent
// object. A failed QueryInterface leaves the object present with a null
// second pointer. E_INVALIDARG for an index outside 0..5.
HRESULT CreateServiceObject(ServiceObjectIndex index);

// Releases one object: its second pointer first, then its primary pointer,
// each only when set, each cleared right after its release. S_OK, or
// E_UNEXPECTED when a release raised; that pointer and any not yet reached
// keep their values. E_INVALIDARG for an index outside 0..5.
HRESULT ReleaseServiceObject(ServiceObjectIndex index);

// Creates every object whose primary pointer is null, in order 0..5, and
// stops at the first failure, which it returns. S_OK when all were present.
HRESULT ConnectAll();

// Releases every object whose primary pointer is set, in order 0..5, and
// stops at the first failure, which it returns; the later objects stay held.
HRESULT DisconnectAll();

// Drops and re-creates the whole set: releases each non-null pointer (a
// fault abandons the rest), clears all ten, then ConnectAll. When that fails,
// releases what it created (DisconnectAll) and returns the ConnectAll failure.
HRESULT ResetConnections();

// Under the ServiceLock: S_OK at once when all ten pointers are set (the
// objects are not probed); otherwise the result of ResetConnections.
HRESULT EnsureConnected();

}  // namespace qz45
