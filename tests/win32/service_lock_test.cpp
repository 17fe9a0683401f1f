// The ServiceLock's two promises beyond plain recursion: a nested take by
// the holding thread goes nowhere near the kernel object, and a lock left
// behind by a thread that ended while holding it does not block the next
// sender.
#include "frame_fixture.h"

using qz45::AcquireServiceLock;
using qz45::ReleaseServiceLock;
using qz45::State;

using ServiceLock = FrameTest;

TEST_F(ServiceLock, NestedTakesDoNotTouchTheMutex) {
    OnThread([] {
        AcquireServiceLock();
        // Swap the mutex for an event that is never signalled: a nested take
        // that waited on it would hang (OnThread fails after 30 s), and a
        // nested give-back that released it would do nothing visible, so
        // the mutex is checked for ownership afterwards.
        HANDLE mutex = State().ServiceLock;
        HANDLE never = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        State().ServiceLock = never;
        for (int i = 0; i < 3; ++i) AcquireServiceLock();
        for (int i = 0; i < 3; ++i) ReleaseServiceLock();
        State().ServiceLock = mutex;
        CloseHandle(never);
        // Still owned by this thread: another thread cannot take it.
        bool takenByOther = true;
        OnThread([&] {
            DWORD r = WaitForSingleObject(mutex, 0);
            takenByOther = r == WAIT_OBJECT_0 || r == WAIT_ABANDONED;
            if (takenByOther) ReleaseMutex(mutex);
        });
        EXPECT_FALSE(takenByOther);
        ReleaseServiceLock();
    });
}

TEST_F(ServiceLock, ThreadEndingWhileHoldingItDoesNotBlockTheNext) {
    OnThread([] {
        AcquireServiceLock();
        AcquireServiceLock();  // nested: the thread ends with two holds
    });
    // Taken as abandoned, counted from one on this thread.
    OnThread([] {
        AcquireServiceLock();
        AcquireServiceLock();
        ReleaseServiceLock();
        ReleaseServiceLock();
    });
    // ...and given back completely: a third thread takes it at once.
    OnThread([] {
        EXPECT_EQ(WaitForSingleObject(State().ServiceLock, 0), static_cast<DWORD>(WAIT_OBJECT_0));
        ReleaseMutex(State().ServiceLock);
    });
}

TEST_F(ServiceLock, SendAfterAThreadDiedHoldingTheLock) {
    OnThread([] { AcquireServiceLock(); });
    ASSERT_EQ(InitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(UninitializeQZ45AlarmEvent(), S_OK);
    EXPECT_EQ(audit::Count(audit::kAny, "Create"), 6);
}
