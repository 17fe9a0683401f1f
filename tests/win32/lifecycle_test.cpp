// Opening and closing uses, the apartment rules, and the recursive
// ServiceLock, through the static library against the audit double.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "frame_fixture.h"

using namespace qz45;
using audit::ApartmentProbe;

namespace {

constexpr HRESULT kNotRegistered = REGDB_E_CLASSNOTREG;

class Lifecycle : public FrameTest {};

}  // namespace

TEST_F(Lifecycle, OnlyTheFirstOpenConnectsAndOnlyTheLastCloseDisconnects) {
    const LibraryState &s = State();
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK) << "closing with no use open";
    EXPECT_EQ(s.InitCount, 0u);

    EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(audit::Count(audit::kAny, "Create"), 6);
    EXPECT_EQ(ApartmentProbe(), S_FALSE) << "the first open joined the multithreaded apartment";
    EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(s.InitCount, 3u);
    EXPECT_EQ(s.Connected, 1);
    EXPECT_EQ(s.InitJoinedApartment, 1);
    EXPECT_EQ(audit::Count(audit::kAny, "Create"), 6) << "further opens only count";

    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(audit::Count(audit::kAny, "Release"), 0);
    EXPECT_EQ(PointersSet(), 10);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(audit::Count(audit::kAny, "Release"), 10);
    EXPECT_EQ(audit::Live(), liveAtStart_) << "references balanced";
    EXPECT_EQ(s.InitCount, 0u);
    EXPECT_EQ(s.Connected, 0);
    EXPECT_EQ(s.InitJoinedApartment, 0);
    EXPECT_EQ(ApartmentProbe(), S_OK) << "the last close left the apartment";

    // Closed again: the next open is a first open.
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    AuditDoubleReset();
    EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(audit::Count(audit::kAny, "Create"), 6);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
}

TEST_F(Lifecycle, FirstOpenInAThreadsOwnApartmentIsBalanced) {
    for (DWORD model : {COINIT_APARTMENTTHREADED, COINIT_MULTITHREADED}) {
        SCOPED_TRACE(model == COINIT_MULTITHREADED ? "multithreaded" : "single-threaded");
        OnThread([model] {
            ASSERT_EQ(CoInitializeEx(nullptr, model), S_OK);
            const HRESULT inOwn = model == COINIT_MULTITHREADED ? S_FALSE : RPC_E_CHANGED_MODE;
            EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
            EXPECT_EQ(State().InitJoinedApartment, 1);
            EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
            EXPECT_EQ(ApartmentProbe(), inOwn) << "still in its own apartment";
            CoUninitialize();
            EXPECT_EQ(ApartmentProbe(), S_OK) << "the library's join was left exactly once";
        });
    }
}

TEST_F(Lifecycle, FailedFirstOpenLeavesNothingBehind) {
    audit::Fail(AUDIT_DOUBLE_CHANGE_EVENT, "Create", kNotRegistered, audit::Always);
    EXPECT_EQ(InitializeQZ45AlarmEvent(), kNotRegistered);
    const LibraryState &s = State();
    EXPECT_EQ(s.InitCount, 0u);
    EXPECT_EQ(s.Connected, 0);
    EXPECT_EQ(s.InitJoinedApartment, 0);
    EXPECT_EQ(PointersSet(), 0);
    EXPECT_EQ(audit::Live(), liveAtStart_);
    EXPECT_EQ(ApartmentProbe(), S_OK);

    // Also objects that were present before the open are released.
    AuditDoubleReset();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    AcquireServiceLock();
    EXPECT_EQ(CreateServiceObject(EventLoggerIndex), S_OK);
    ReleaseServiceLock();
    CoUninitialize();
    audit::Fail(AUDIT_DOUBLE_GENERAL_EVENT, "Create", kNotRegistered);
    EXPECT_EQ(InitializeQZ45AlarmEvent(), kNotRegistered);
    EXPECT_EQ(PointersSet(), 0);
    EXPECT_EQ(audit::Live(), liveAtStart_);
}

TEST_F(Lifecycle, SecondOpenFromAnotherThreadDoesNotJoinIt) {
    ASSERT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    OnThread([] {
        EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
        EXPECT_EQ(ApartmentProbe(), S_OK);
        EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    });
    EXPECT_EQ(State().InitCount, 1u);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
}

TEST_F(Lifecycle, CloseOfTheLastUseWithAFaultingReleaseStillCloses) {
    ASSERT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    audit::Fault(AUDIT_DOUBLE_CHANGE_EVENT, "Release");
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), E_UNEXPECTED);
    const LibraryState &s = State();
    EXPECT_EQ(s.InitCount, 0u);
    EXPECT_EQ(s.Connected, 0);
    EXPECT_EQ(s.InitJoinedApartment, 0);
    EXPECT_EQ(ApartmentProbe(), S_OK);
    EXPECT_EQ(PointersSet(), 4) << "ChangeEvent and HistoryChangeEvent stay held";
}

TEST_F(Lifecycle, CoInitFollowsTheApartmentPolicyAndLeavesOnlyWhatItJoined) {
    OnThread([] {
        EXPECT_EQ(QZ45AlarmEventCoUninit(), S_OK) << "nothing joined: calls nothing";
        EXPECT_EQ(ApartmentProbe(), S_OK);

        EXPECT_EQ(QZ45AlarmEventCoInit(), S_OK);
        EXPECT_EQ(QZ45AlarmEventCoInit(), S_FALSE);
        EXPECT_EQ(State().CoInitJoinedApartment.load(), 1);
        EXPECT_EQ(QZ45AlarmEventCoUninit(), S_OK);
        EXPECT_EQ(State().CoInitJoinedApartment.load(), 0);
        EXPECT_EQ(ApartmentProbe(), S_FALSE) << "one CoUninitialize for two joins";
        EXPECT_EQ(QZ45AlarmEventCoUninit(), S_OK);
        EXPECT_EQ(ApartmentProbe(), S_FALSE) << "the flag was cleared";
        CoUninitialize();
        EXPECT_EQ(ApartmentProbe(), S_OK);
    });
    OnThread([] {
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
        EXPECT_EQ(QZ45AlarmEventCoInit(), S_FALSE) << "joins the thread's own apartment again";
        EXPECT_EQ(QZ45AlarmEventCoUninit(), S_OK);
        EXPECT_EQ(ApartmentProbe(), RPC_E_CHANGED_MODE);
        CoUninitialize();
        EXPECT_EQ(ApartmentProbe(), S_OK);
    });
}

TEST_F(Lifecycle, ServiceLockIsRecursiveAndOwnedByItsThread) {
    HANDLE lock = State().ServiceLock;
    auto takenByOther = [lock] {
        bool taken = false;
        OnThread([lock, &taken] {
            DWORD r = WaitForSingleObject(lock, 0);
            taken = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
            if (taken) ReleaseMutex(lock);
        });
        return taken;
    };
    AcquireServiceLock();
    AcquireServiceLock();
    AcquireServiceLock();
    ReleaseServiceLock();
    ReleaseServiceLock();
    EXPECT_FALSE(takenByOther());
    ReleaseServiceLock();
    EXPECT_TRUE(takenByOther());
}

TEST_F(Lifecycle, SubmissionLikeNestingUnderTheLockDoesNotBlock) {
    // What a submission with no use open does: take the lock, open a use,
    // make sure of the set, close the use, give the lock back.
    OnThread([] {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        AcquireServiceLock();
        EXPECT_EQ(State().Connected, 0);
        EXPECT_EQ(InitializeQZ45AlarmEvent(), S_OK);
        EXPECT_EQ(EnsureConnected(), S_OK);
        EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
        ReleaseServiceLock();
        CoUninitialize();
    });
    EXPECT_EQ(audit::Count(audit::kAny, "Create"), 6);
    EXPECT_EQ(audit::Count(audit::kAny, "Release"), 10);
    EXPECT_EQ(PointersSet(), 0);
}

TEST_F(Lifecycle, DetachClosesTheLockAndNothingElse) {
    ASSERT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    DetachProcess();
    const LibraryState &s = State();
    EXPECT_EQ(s.ServiceLock, nullptr);
    EXPECT_EQ(s.InitCount, 1u);
    EXPECT_EQ(PointersSet(), 10);
    EXPECT_EQ(audit::Count(audit::kAny, "Release"), 0);
    AcquireServiceLock();  // absent: returns at once
    ReleaseServiceLock();
    ASSERT_TRUE(AttachProcess());
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
}
