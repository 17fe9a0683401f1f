// i686 structured exception handling by hand: GCC on this target has no
// __try/__except, so the guard links an exception registration record of its
// own into the thread's handler chain (fs:[0]) for the length of one call.
//
// When anything is raised below it, the handler unwinds the frames between
// the fault and the record (RtlUnwind, so that handlers registered by the
// faulting code see their unwind), unlinks the record, and jumps back into
// the thunk that registered it, which reports E_UNEXPECTED.
//
// C++ exceptions of this module unwind by DWARF tables and never pass through
// the handler chain; a try/catch inside the registered region catches them,
// so they never cross the thunk that has a record linked in.
#include "frame/service_guard_frame.h"

#include <cstdint>

namespace qz45::detail {

namespace {

#if !defined(__i386__)
#error "the service guard is written for 32-bit x86"
#endif

EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD *record, void *establisher,
                                           CONTEXT *, void *);

// The registration record. The first two members are what the system reads
// (next record, handler); the rest is ours. Lives on the thunk's stack, and
// is 4-byte aligned like every stack slot of pointers.
struct GuardRecord {
    GuardRecord *next;
    decltype(&GuardHandler) handler;
    void *resume[5];  // __builtin_setjmp buffer: frame, resume label, stack
    volatile DWORD code;
};
static_assert(alignof(GuardRecord) >= 4, "registration record alignment");

GuardRecord *ChainHead() {
    GuardRecord *head;
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(head));
    return head;
}

void SetChainHead(GuardRecord *head) {
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(head) : "memory");
}

}  // namespace

// The guarded region: link the record, call, unlink. No destructors and no
// lock in here: a caught fault comes back through __builtin_longjmp.
__attribute__((noinline)) HRESULT SehThunk(HRESULT (*fn)(void *), void *context,
                                           DWORD *exceptionCode) {
    GuardRecord record;
    record.handler = &GuardHandler;
    record.code = 0;
    if (__builtin_setjmp(record.resume) != 0) {
        // Back from the handler: the chain is already restored.
        *exceptionCode = record.code;
        return E_UNEXPECTED;
    }
    record.next = ChainHead();
    SetChainHead(&record);
    HRESULT hr = CatchCxx(fn, context);
    SetChainHead(record.next);
    return hr;
}

namespace {

EXCEPTION_DISPOSITION __cdecl GuardHandler(EXCEPTION_RECORD *record, void *establisher,
                                           CONTEXT *, void *) {
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    // RtlUnwind may clobber the callee-saved registers; keep what is needed
    // afterwards in memory.
    GuardRecord *volatile frame = static_cast<GuardRecord *>(establisher);
    frame->code = record->ExceptionCode;
    RtlUnwind(establisher, nullptr, record, nullptr);
    // The unwind leaves our record at the head; unlink it and resume the
    // thunk. The handler's own stack is abandoned.
    GuardRecord *self = frame;
    SetChainHead(self->next);
    __builtin_longjmp(self->resume, 1);
}

}  // namespace

}  // namespace qz45::detail
