// Loading and unloading the DLL again and again: the ServiceLock is closed at
// every detach, so the process's handle count stays level, with or without a
// use left open, and nothing crashes.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>

#include "audit_double_fixture.h"

namespace {

using HresultFn = long(__cdecl *)(void);
using SendFn = void(__cdecl *)(void *, void *);

// The process's handle count; where the system does not keep one (Wine
// answers 0), the slot the next new handle takes, which grows by one for
// every handle left open since handles fill the lowest free slot.
DWORD Handles() {
    DWORD n = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &n) && n != 0) return n;
    HANDLE probe = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    n = static_cast<DWORD>(reinterpret_cast<uintptr_t>(probe) / 4);
    CloseHandle(probe);
    return n;
}

// Loads the DLL, optionally opens a use (and leaves it open), sends one
// event, and unloads it.
void Cycle(bool openUse) {
    HMODULE dll = LoadLibraryA("qz45alarmevent_api.dll");
    ASSERT_NE(dll, nullptr);
    auto init = reinterpret_cast<HresultFn>(
        reinterpret_cast<void *>(GetProcAddress(dll, "InitializeQZ45AlarmEvent")));
    auto send = reinterpret_cast<SendFn>(
        reinterpret_cast<void *>(GetProcAddress(dll, "SendQZ45Event")));
    ASSERT_NE(init, nullptr);
    ASSERT_NE(send, nullptr);
    if (openUse) EXPECT_EQ(init(), S_OK);
    unsigned char record[6364] = {};
    unsigned char status[8] = {};
    send(record, status);  // an all-zero record: refused, no service call
    EXPECT_EQ(static_cast<unsigned char>(status[0]), 0xA1);  // -95
    ASSERT_TRUE(FreeLibrary(dll));
    EXPECT_EQ(GetModuleHandleA("qz45alarmevent_api.dll"), nullptr) << "still loaded";
}

}  // namespace

using LoadUnload = AuditDoubleTest;

TEST_F(LoadUnload, HandleCountStaysLevel) {
    // Warm up: the first load and the first apartment join make what the
    // process keeps anyway.
    Cycle(false);
    Cycle(true);
    const DWORD before = Handles();
    for (int i = 0; i < 100; ++i) {
        Cycle(false);
        if (HasFatalFailure()) return;
    }
    const DWORD afterPlain = Handles();
    for (int i = 0; i < 100; ++i) {
        Cycle(true);
        if (HasFatalFailure()) return;
    }
    const DWORD afterOpen = Handles();
    // The statically linked threading runtime keeps two handles of the
    // loading thread each time the DLL is loaded and unloaded (a minimal
    // C++ DLL built the same way does too); the library's own handle, the
    // ServiceLock, must not add a third.
    constexpr DWORD kRuntimeHandlesPerLoad = 2;
    EXPECT_LE(afterPlain, before + 100 * kRuntimeHandlesPerLoad + 4)
        << "handles grew over 100 plain loads";
    EXPECT_LE(afterOpen, afterPlain + 100 * kRuntimeHandlesPerLoad + 4)
        << "handles grew over 100 loads left with a use open";
    // A use left open at unload keeps its service objects: the library does
    // not release them at detach (the process is going away anyway).
    ExpectLeakedObjects(audit::Live() - liveAtStart_);
}
