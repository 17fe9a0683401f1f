// Counters the reference audit service exports beside its COM entry points.
#pragma once

extern "C" {
// Calls made on the service's objects (all operations but IUnknown's).
long __cdecl AuditServiceCalls(void);
// Events submitted and stored.
long __cdecl AuditServiceSubmits(void);
}
