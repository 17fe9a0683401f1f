// The double's own frame-based handler, on i686 a registration record linked
// into the thread's chain (fs:[0]) and on x86-64 a frame whose unwind data
// names the handler. Either way the system asks it before any handler of a
// frame further out, such as a caller's guard around the call.
#include "own_handler.h"

#include <windows.h>

namespace audit_double {

namespace {

volatile LONG g_handled = 0;
thread_local char *t_lazyPage = nullptr;
thread_local bool t_handled = false;

constexpr SIZE_T kPage = 4096;

}  // namespace

}  // namespace audit_double

extern "C" EXCEPTION_DISPOSITION __cdecl qz45double_OwnHandler(EXCEPTION_RECORD *record, void *,
                                                               CONTEXT *, void *) {
    using namespace audit_double;
    if (record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND))
        return ExceptionContinueSearch;
    if (record->ExceptionCode != EXCEPTION_ACCESS_VIOLATION || record->NumberParameters < 2)
        return ExceptionContinueSearch;
    char *address = reinterpret_cast<char *>(record->ExceptionInformation[1]);
    char *page = t_lazyPage;
    if (page == nullptr || address < page || address >= page + kPage)
        return ExceptionContinueSearch;
    DWORD old = 0;
    if (!VirtualProtect(page, kPage, PAGE_READWRITE, &old)) return ExceptionContinueSearch;
    InterlockedIncrement(&g_handled);
    t_handled = true;
    return ExceptionContinueExecution;  // the write runs again, and succeeds
}

extern "C" void qz45double_WithOwnHandler(void (*fn)(char *), char *argument);

#if defined(__x86_64__)
__asm__(
    "    .text\n"
    "    .globl qz45double_WithOwnHandler\n"
    "    .def qz45double_WithOwnHandler; .scl 2; .type 32; .endef\n"
    "    .seh_proc qz45double_WithOwnHandler\n"
    "qz45double_WithOwnHandler:\n"
    "    subq $40, %rsp\n"
    "    .seh_stackalloc 40\n"
    "    .seh_handler qz45double_OwnHandler, @except\n"
    "    .seh_endprologue\n"
    "    movq %rcx, %rax\n"
    "    movq %rdx, %rcx\n"
    "    callq *%rax\n"
    "    nop\n"
    "    addq $40, %rsp\n"
    "    ret\n"
    "    .seh_endproc\n");
#elif defined(__i386__)
extern "C" __attribute__((noinline)) void qz45double_WithOwnHandler(void (*fn)(char *),
                                                                   char *argument) {
    struct Registration {
        Registration *next;
        void *handler;
    } registration;
    registration.handler = reinterpret_cast<void *>(&qz45double_OwnHandler);
    __asm__ __volatile__("movl %%fs:0, %0" : "=r"(registration.next));
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(&registration) : "memory");
    fn(argument);
    __asm__ __volatile__("movl %0, %%fs:0" : : "r"(registration.next) : "memory");
}
#else
#error "no frame-based handler for this architecture"
#endif

namespace audit_double {

namespace {

__attribute__((noinline)) void WriteTo(char *page) { *reinterpret_cast<volatile int *>(page) = 1; }

}  // namespace

bool FaultAndHandleIt() {
    char *page = static_cast<char *>(
        VirtualAlloc(nullptr, kPage, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS));
    if (page == nullptr) return false;
    t_handled = false;
    t_lazyPage = page;
    qz45double_WithOwnHandler(&WriteTo, page);
    t_lazyPage = nullptr;
    VirtualFree(page, 0, MEM_RELEASE);
    return t_handled;
}

long HandledFaults() { return g_handled; }

}  // namespace audit_double
