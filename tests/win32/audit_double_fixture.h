// The audit service's test double as the Wine tests use it: registered once
// per process, cleared before each test, read back as lines of text.
//
//   AuditDoubleTest        fixture: registers the double, clears log and scripts,
//                          and checks that no object outlives the test
//   audit::Lines(cls)      the calls as "GeneralEvent.SetArea(\"x\")", optionally of one class
//   audit::Count(cls, op)  how many calls of op (cls may be AUDIT_DOUBLE_ANY_CLASS)
//   audit::Script(...)     script an operation; audit::Fail/Fault/Throw shorthands
//   audit::Log()           the whole log, for failure messages
#pragma once

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audit_double.h"

namespace audit {

constexpr int kAny = AUDIT_DOUBLE_ANY_CLASS;

struct Call {
    int cls;
    unsigned id;
    DWORD thread;
    std::string op;
    std::string args;
};

inline const char *ClassName(int cls) {
    static const char *const names[] = {"ClientContext", "EventLogger", "SystemEvent",
                                        "GeneralEvent",  "ChangeEvent", "HistoryChangeEvent"};
    return cls >= 0 && cls < 6 ? names[cls] : "?";
}

inline std::vector<Call> Calls() {
    std::vector<Call> calls;
    int n = AuditDoubleCallCount();
    for (int i = 0; i < n; ++i) {
        AuditDoubleCall c{};
        int len = AuditDoubleGetCall(i, &c, nullptr, 0);
        if (len < 0) break;
        std::string args(static_cast<size_t>(len) + 1, '\0');
        AuditDoubleGetCall(i, &c, args.data(), args.size());
        args.resize(static_cast<size_t>(len));
        calls.push_back({c.ClassIndex, c.InstanceId, c.ThreadId, c.Operation, args});
    }
    return calls;
}

inline std::string Line(const Call &c) {
    return std::string(ClassName(c.cls)) + "." + c.op + "(" + c.args + ")";
}

inline std::vector<std::string> Lines(int cls = kAny) {
    std::vector<std::string> lines;
    for (const Call &c : Calls())
        if (cls == kAny || c.cls == cls) lines.push_back(Line(c));
    return lines;
}

inline int Count(int cls, const std::string &op) {
    int n = 0;
    for (const Call &c : Calls())
        if ((cls == kAny || c.cls == cls) && c.op == op) ++n;
    return n;
}

inline std::string Log() {
    size_t n = AuditDoubleFormatLog(nullptr, 0);
    std::string text(n + 1, '\0');
    AuditDoubleFormatLog(text.data(), text.size());
    text.resize(n);
    return "call log:\n" + text;
}

inline long Live() { return AuditDoubleLiveObjects(); }
inline long Refs() { return AuditDoubleOutstandingRefs(); }

enum Times { Once, Always };

inline void Script(int cls, const char *op, int action, HRESULT hr, Times times,
                   DWORD sleepMs = 0) {
    AuditDoubleScript(cls, op, action, hr, sleepMs, times == Once ? 1 : 0);
}
inline void Fail(int cls, const char *op, HRESULT hr, Times times = Once) {
    Script(cls, op, AUDIT_DOUBLE_RETURN, hr, times);
}
inline void Fault(int cls, const char *op, Times times = Once) {
    Script(cls, op, AUDIT_DOUBLE_FAULT, S_OK, times);
}
inline void Throw(int cls, const char *op, Times times = Once) {
    Script(cls, op, AUDIT_DOUBLE_THROW, S_OK, times);
}

inline void EnsureRegistered() {
    static const long registered = AuditDoubleRegister();
    ASSERT_EQ(registered, S_OK) << "registering the audit double";
}

// Whether the calling thread is in an apartment: S_OK (none), S_FALSE (the
// multithreaded one) or RPC_E_CHANGED_MODE (a single-threaded one). Leaves
// the thread as it found it.
inline HRESULT ApartmentProbe() {
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(hr)) CoUninitialize();
    return hr;
}

}  // namespace audit

class AuditDoubleTest : public ::testing::Test {
protected:
    void SetUp() override {
        audit::EnsureRegistered();
        AuditDoubleReset();
        liveAtStart_ = audit::Live();
    }
    void TearDown() override {
        AuditDoubleReset();
        EXPECT_EQ(audit::Live(), liveAtStart_ + leakedObjects_) << "objects outlived the test";
    }
    // A test that abandons references on purpose says how many objects stay.
    void ExpectLeakedObjects(long n) { leakedObjects_ = n; }

    long liveAtStart_ = 0;
    long leakedObjects_ = 0;
};

// Runs fn on a new thread and waits for it (at most 30 s).
template <class F>
void OnThread(F fn) {
    struct Box {
        F *fn;
        static DWORD WINAPI Run(void *p) {
            (*static_cast<Box *>(p)->fn)();
            return 0;
        }
    } box{&fn};
    HANDLE thread = CreateThread(nullptr, 0, &Box::Run, &box, 0, nullptr);
    ASSERT_NE(thread, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0) << "thread did not finish";
    CloseHandle(thread);
}
