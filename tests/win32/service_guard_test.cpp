// The fault guard: C++ exceptions, raised exceptions and access violations,
// on the main thread and on others, inside our code and inside a service
// object reached through COM.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>

#include "audit_double_fixture.h"
#include "frame/library_state.h"
#include "frame/service_guard.h"
#include "qz45audit_service.h"

using qz45::Guarded;
using qz45::GuardedCall;

namespace {

constexpr DWORD kAccessViolation = 0xC0000005;
constexpr DWORD kForeignCxxThrow = 0xE06D7363;

void FaultSeveralTimes();

// i686: the head of the thread's handler chain (fs:[0]), which the guard links
// its record into and must leave as it found it. x86-64 keeps no such chain:
// handlers are found through unwind data (see GuardsUnwindDataNamesItsHandler).
void *HandlerChainHead() {
#if defined(__i386__)
    return reinterpret_cast<NT_TIB *>(NtCurrentTeb())->ExceptionList;
#else
    return nullptr;
#endif
}

DWORD WINAPI FaultingThread(void *) {
    FaultSeveralTimes();
    return 0;
}

HRESULT WriteToZero(void *) {
    static volatile uintptr_t zero = 0;
    *reinterpret_cast<volatile int *>(zero) = 7;
    return S_OK;
}

HRESULT RaiseForeignThrow(void *) {
    RaiseException(kForeignCxxThrow, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    return S_OK;
}

// Faults repeatedly and checks after each that the guard reported it and
// that the thread's handler chain is back where it was.
void FaultSeveralTimes() {
    void *chain = HandlerChainHead();
    for (int i = 0; i < 5; ++i) {
        DWORD code = 0;
        EXPECT_EQ(GuardedCall(&WriteToZero, nullptr, &code), E_UNEXPECTED);
        EXPECT_EQ(code, kAccessViolation);
        EXPECT_EQ(HandlerChainHead(), chain);
        code = 0;
        EXPECT_EQ(GuardedCall(&RaiseForeignThrow, nullptr, &code), E_UNEXPECTED);
        EXPECT_EQ(code, kForeignCxxThrow);
        EXPECT_EQ(HandlerChainHead(), chain);
    }
    // The thread goes on working, guarded and unguarded.
    EXPECT_EQ(Guarded([] { return S_FALSE; }), S_FALSE);
    EXPECT_EQ(HandlerChainHead(), chain);
}

}  // namespace

TEST(ServiceGuard, PassesTheResultThroughAndCatchesOwnCxxExceptions) {
    EXPECT_EQ(Guarded([] { return S_OK; }), S_OK);
    EXPECT_EQ(Guarded([] { return static_cast<HRESULT>(0x80070005); }), 0x80070005);
    int calls = 0;
    EXPECT_EQ(Guarded([&calls]() -> HRESULT {
                  ++calls;
                  throw std::runtime_error("from this module");
              }),
              E_UNEXPECTED);
    EXPECT_EQ(Guarded([]() -> HRESULT { throw 42; }), E_UNEXPECTED);
    DWORD code = 1;
    EXPECT_EQ(GuardedCall([](void *) -> HRESULT { throw 1.5; }, nullptr, &code), E_UNEXPECTED);
    EXPECT_EQ(code, 0u) << "a C++ exception is not a structured one";
    EXPECT_EQ(calls, 1);
}

TEST(ServiceGuard, CatchesFaultsOnTheMainThreadRepeatedly) { FaultSeveralTimes(); }

TEST(ServiceGuard, CatchesFaultsOnOtherThreadsAtTheSameTime) {
    HANDLE threads[2];
    for (HANDLE &t : threads) {
        t = CreateThread(nullptr, 0, &FaultingThread, nullptr, 0, nullptr);
        ASSERT_NE(t, nullptr);
    }
    EXPECT_EQ(WaitForMultipleObjects(2, threads, TRUE, 30000), WAIT_OBJECT_0);
    for (HANDLE t : threads) CloseHandle(t);
    FaultSeveralTimes();
}

TEST(ServiceGuard, NestedGuardsEachCatchTheirOwn) {
    void *chain = HandlerChainHead();
    int afterInner = 0;
    HRESULT outer = Guarded([&afterInner]() -> HRESULT {
        EXPECT_EQ(GuardedCall(&WriteToZero, nullptr), E_UNEXPECTED);
        ++afterInner;
        return WriteToZero(nullptr);
    });
    EXPECT_EQ(outer, E_UNEXPECTED);
    EXPECT_EQ(afterInner, 1);
    EXPECT_EQ(HandlerChainHead(), chain);
}

#if defined(__x86_64__)
extern "C" HRESULT qz45_GuardThunk(HRESULT (*)(void *), void *, DWORD *);
extern "C" EXCEPTION_DISPOSITION qz45_GuardHandler(EXCEPTION_RECORD *, void *, CONTEXT *,
                                                   DISPATCHER_CONTEXT *);

// The system finds the guard through the thunk's unwind data: it must carry
// an exception handler (UNW_FLAG_EHANDLER), and that handler is the guard's.
TEST(ServiceGuard, GuardsUnwindDataNamesItsHandler) {
    DWORD64 base = 0;
    auto thunk = reinterpret_cast<DWORD64>(&qz45_GuardThunk);
    RUNTIME_FUNCTION *entry = RtlLookupFunctionEntry(thunk, &base, nullptr);
    ASSERT_NE(entry, nullptr) << "the thunk has no unwind data";
    const auto *info = reinterpret_cast<const unsigned char *>(base + entry->UnwindData);
    const unsigned flags = info[0] >> 3;
    ASSERT_TRUE(flags & UNW_FLAG_EHANDLER) << "flags " << flags;
    const unsigned codes = info[2];
    const auto *handlerRva = reinterpret_cast<const DWORD *>(info + 4 + 2 * ((codes + 1) & ~1u));
    EXPECT_EQ(base + *handlerRva, reinterpret_cast<DWORD64>(&qz45_GuardHandler));
}
#endif

TEST(ServiceGuard, LockOperationsToleratesAnAbsentLock) {
    // Without process attach (this is a static link) the lock is absent:
    // taking and giving it back return at once.
    ASSERT_EQ(qz45::State().ServiceLock, nullptr);
    qz45::AcquireServiceLock();
    qz45::ReleaseServiceLock();
}

class ServiceGuardCom : public AuditDoubleTest {};

// A broken service object, reached through COM, on two threads.
TEST_F(ServiceGuardCom, CatchesFaultsInsideAServiceObjectOnTwoThreads) {
    auto run = [] {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        IGeneralEvent *event = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_GeneralEvent, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IGeneralEvent, reinterpret_cast<void **>(&event)),
                  S_OK);
        BSTR area = SysAllocString(L"north");
        for (int i = 0; i < 3; ++i) {
            DWORD code = 0;
            EXPECT_EQ(GuardedCall([](void *e) { return static_cast<IGeneralEvent *>(e)->Reset(); },
                                  event, &code),
                      E_UNEXPECTED);
            EXPECT_EQ(code, kAccessViolation);
            EXPECT_EQ(Guarded([&] { return event->SetArea(area); }), E_UNEXPECTED);
        }
        SysFreeString(area);
        event->Release();
        CoUninitialize();
    };
    audit::Fault(AUDIT_DOUBLE_GENERAL_EVENT, "Reset", audit::Always);
    audit::Throw(AUDIT_DOUBLE_GENERAL_EVENT, "SetArea", audit::Always);
    run();
    OnThread(run);
    EXPECT_EQ(audit::Count(AUDIT_DOUBLE_GENERAL_EVENT, "Reset"), 6) << audit::Log();
}

// A service method that faults and handles the fault itself: the system asks
// the service's own handler first, the method goes on, and the guard passes
// its result through. A guard that stepped in before the service's handler
// would return E_UNEXPECTED here.
TEST_F(ServiceGuardCom, LeavesAServiceItsOwnHandlerFirst) {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    IGeneralEvent *event = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_GeneralEvent, nullptr, CLSCTX_INPROC_SERVER,
                               IID_IGeneralEvent, reinterpret_cast<void **>(&event)),
              S_OK);
    const long handledBefore = AuditDoubleHandledFaults();
    audit::Script(AUDIT_DOUBLE_GENERAL_EVENT, "Reset", AUDIT_DOUBLE_FAULT_HANDLED, S_FALSE,
                  audit::Always);
    for (int i = 0; i < 3; ++i) {
        DWORD code = 1;
        EXPECT_EQ(GuardedCall([](void *e) { return static_cast<IGeneralEvent *>(e)->Reset(); },
                              event, &code),
                  S_FALSE);
        EXPECT_EQ(code, 0u) << "the guard saw the service's own fault";
    }
    EXPECT_EQ(AuditDoubleHandledFaults() - handledBefore, 3);
    // A fault the service leaves unhandled still reaches the guard.
    audit::Fault(AUDIT_DOUBLE_GENERAL_EVENT, "SetArea");
    EXPECT_EQ(Guarded([&] { return event->SetArea(nullptr); }), E_UNEXPECTED);
    event->Release();
    CoUninitialize();
}
