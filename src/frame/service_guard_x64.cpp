// x86-64 structured exception handling is table-based: the system finds a
// frame's handler through the unwind data of the function that owns the
// frame, not through a chain on the stack. GCC on this target has no
// __try/__except, so the guard's frame is a small thunk written in assembly
// whose unwind data names the guard's handler (UNW_FLAG_EHANDLER).
//
// When anything is raised below the thunk and no frame closer to the fault
// handles it, the system asks the guard's handler, which records the
// exception's code and unwinds to a landing point inside the thunk
// (RtlUnwindEx, so that frames in between see their unwind); the landing
// point returns E_UNEXPECTED. Handlers of the service's own frames are asked
// first, as the system asks frames from the fault outwards: the guard is not
// a vectored handler.
//
// C++ exceptions of this module are caught by CatchCxx inside the thunk and
// never reach its handler.
#include "frame/service_guard_frame.h"

#if !defined(__x86_64__)
#error "this service guard is written for x86-64"
#endif

extern "C" {

// rcx: the function to call, rdx: its argument, r8: where the handler writes
// the exception's code. Frame: 32 bytes of home space for the callee, then
// the code's address at rsp + 32.
HRESULT qz45_GuardThunk(HRESULT (*invoke)(void *), void *argument, DWORD *exceptionCode);
// Where the handler's unwind resumes the thunk: rsp is the thunk's frame
// again and rax holds E_UNEXPECTED.
void qz45_GuardLanding();
EXCEPTION_DISPOSITION qz45_GuardHandler(EXCEPTION_RECORD *record, void *establisherFrame,
                                        CONTEXT *context, DISPATCHER_CONTEXT *dispatch);
}

__asm__(
    "    .text\n"
    "    .globl qz45_GuardThunk\n"
    "    .def qz45_GuardThunk; .scl 2; .type 32; .endef\n"
    "    .seh_proc qz45_GuardThunk\n"
    "qz45_GuardThunk:\n"
    "    subq $40, %rsp\n"
    "    .seh_stackalloc 40\n"
    "    .seh_handler qz45_GuardHandler, @except\n"
    "    .seh_endprologue\n"
    "    movq %r8, 32(%rsp)\n"
    "    movq %rcx, %rax\n"
    "    movq %rdx, %rcx\n"
    "    callq *%rax\n"
    // The return address must not fall on the epilogue, or the unwinder
    // would take this frame for one already leaving.
    "    nop\n"
    "    addq $40, %rsp\n"
    "    ret\n"
    "    .globl qz45_GuardLanding\n"
    "qz45_GuardLanding:\n"
    "    addq $40, %rsp\n"
    "    ret\n"
    "    .seh_endproc\n");

extern "C" EXCEPTION_DISPOSITION qz45_GuardHandler(EXCEPTION_RECORD *record,
                                                   void *establisherFrame, CONTEXT *,
                                                   DISPATCHER_CONTEXT *dispatch) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    DWORD *codeOut = *reinterpret_cast<DWORD **>(static_cast<char *>(establisherFrame) + 32);
    *codeOut = record->ExceptionCode;
    RtlUnwindEx(establisherFrame, reinterpret_cast<void *>(&qz45_GuardLanding), record,
                reinterpret_cast<void *>(static_cast<LONG_PTR>(E_UNEXPECTED)),
                dispatch->ContextRecord, dispatch->HistoryTable);
    return ExceptionContinueSearch;  // not reached: the unwind resumes the thunk
}

namespace qz45::detail {

namespace {

struct Call {
    HRESULT (*fn)(void *);
    void *context;
};

HRESULT Invoke(void *call) {
    auto *c = static_cast<Call *>(call);
    return CatchCxx(c->fn, c->context);
}

}  // namespace

HRESULT SehThunk(HRESULT (*fn)(void *), void *context, DWORD *exceptionCode) {
    Call call{fn, context};
    return qz45_GuardThunk(&Invoke, &call, exceptionCode);
}

}  // namespace qz45::detail
