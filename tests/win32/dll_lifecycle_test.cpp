// The lifecycle exports through the DLL itself, as a caller uses them, with
// the audit double behind them.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "audit_double_fixture.h"
#include "qz45alarmevent_api.h"

namespace {

class DllLifecycle : public AuditDoubleTest {};

DWORD WINAPI OpenCloseMany(void *) {
    for (int i = 0; i < 100; ++i) {
        if (FAILED(InitializeQZ45AlarmEvent())) return 1;
        if (FAILED(UninitializeQZ45AlarmEvent())) return 2;
    }
    return 0;
}

}  // namespace

TEST_F(DllLifecycle, ThreeOpensThreeClosesConnectOnceAndBalanceReferences) {
    EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(audit::Count(audit::kAny, "Create"), 6);
    EXPECT_EQ(audit::Refs(), 10);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(audit::Count(audit::kAny, "Release"), 0);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(audit::Count(audit::kAny, "Release"), 10);
    EXPECT_EQ(audit::Live(), liveAtStart_);
    EXPECT_EQ(audit::ApartmentProbe(), S_OK);
}

TEST_F(DllLifecycle, FailedFirstOpenReturnsTheCreationFailure) {
    audit::Fail(AUDIT_DOUBLE_SYSTEM_EVENT, "Create", REGDB_E_CLASSNOTREG);
    EXPECT_EQ(InitializeQZ45AlarmEvent(), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(audit::Live(), liveAtStart_);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK) << "no use is open";
    EXPECT_EQ(audit::Count(audit::kAny, "Release"), 2);
}

TEST_F(DllLifecycle, OpensAndClosesOnTwoThreadsKeepOneConsistentCount) {
    // The lock created at process attach serialises the count: every first
    // open is matched by the last close that follows it.
    HANDLE threads[2];
    for (HANDLE &t : threads) t = CreateThread(nullptr, 0, &OpenCloseMany, nullptr, 0, nullptr);
    ASSERT_EQ(WaitForMultipleObjects(2, threads, TRUE, 120000), WAIT_OBJECT_0);
    for (HANDLE t : threads) {
        DWORD rc = 99;
        GetExitCodeThread(t, &rc);
        EXPECT_EQ(rc, 0u);
        CloseHandle(t);
    }
    EXPECT_EQ(audit::Live(), liveAtStart_);
    EXPECT_EQ(audit::Count(audit::kAny, "Create") * 10, audit::Count(audit::kAny, "Release") * 6);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(audit::Count(audit::kAny, "Release") % 10, 0);
}

TEST_F(DllLifecycle, CoInitAndCoUninitPair) {
    EXPECT_EQ(QZ45AlarmEventCoUninit(), S_OK);
    EXPECT_EQ(QZ45AlarmEventCoInit(), S_OK);
    EXPECT_EQ(audit::ApartmentProbe(), S_FALSE);
    EXPECT_EQ(QZ45AlarmEventCoUninit(), S_OK);
    EXPECT_EQ(audit::ApartmentProbe(), S_OK);
    EXPECT_EQ(AuditDoubleCallCount(), 0) << "the apartment exports do not touch the service";
}
