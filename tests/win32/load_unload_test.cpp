// Loading and unloading the DLL again and again: the ServiceLock is closed at
// every detach, so the process's handle count stays level, with or without a
// use left open, and nothing crashes.
#include <windows.h>

#include <gtest/gtest.h>

#include "audit_double_fixture.h"

namespace {

using HresultFn = long(__cdecl *)(void);
using SendFn = void(__cdecl *)(void *, void *);

DWORD Handles() {
    DWORD n = 0;
    GetProcessHandleCount(GetCurrentProcess(), &n);
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
    EXPECT_LE(afterPlain, before + 2) << "handles grew over 100 plain loads";
    EXPECT_LE(afterOpen, afterPlain + 2) << "handles grew over 100 loads left with a use open";
    // A use left open at unload keeps its service objects: the library does
    // not release them at detach (the process is going away anyway).
    ExpectLeakedObjects(audit::Live() - liveAtStart_);
}
