// GoogleTest's port hook for the Windows tiers, found before GoogleTest's own
// (empty) one. The tiers' C++ runtime has no std::mutex or
// std::condition_variable, of which GoogleTest's default Notification is
// made; this one waits on a slim lock and a condition variable of Windows.
// GoogleTest's Mutex and ThreadLocal are its Windows ones already.
#ifndef QZ45_GTEST_CUSTOM_GTEST_PORT_H
#define QZ45_GTEST_CUSTOM_GTEST_PORT_H

#include <windows.h>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

// Lets the thread that made it hold back the threads it starts until it
// notifies them.
class Notification {
public:
    Notification() = default;
    Notification(const Notification &) = delete;
    Notification &operator=(const Notification &) = delete;

    void Notify() {
        {
            Exclusive hold(&lock_);
            notified_ = true;
        }
        WakeAllConditionVariable(&changed_);
    }

    void WaitForNotification() {
        Exclusive hold(&lock_);
        while (!notified_) SleepConditionVariableSRW(&changed_, &lock_, INFINITE, 0);
    }

private:
    class Exclusive {
    public:
        explicit Exclusive(SRWLOCK *lock) : lock_(lock) { AcquireSRWLockExclusive(lock_); }
        ~Exclusive() { ReleaseSRWLockExclusive(lock_); }
        Exclusive(const Exclusive &) = delete;
        Exclusive &operator=(const Exclusive &) = delete;

    private:
        SRWLOCK *lock_;
    };

    SRWLOCK lock_ = SRWLOCK_INIT;
    CONDITION_VARIABLE changed_ = CONDITION_VARIABLE_INIT;
    bool notified_ = false;
};

}  // namespace internal
}  // namespace testing

#endif  // QZ45_GTEST_CUSTOM_GTEST_PORT_H
