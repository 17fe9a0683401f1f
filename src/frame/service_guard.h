// The guard around every call into an audit-service object.
//
// A service object is foreign code: it may throw, raise a structured
// exception, or fault (write through a null pointer). GuardedCall runs one
// function and turns any of these into E_UNEXPECTED, so that the library
// and the calling process keep working.
//
// Rules for the guarded function: keep it to the call itself. When a
// structured exception or fault is caught, the stack between the guard and
// the fault is abandoned without running destructors, so the function must
// own nothing that needs cleaning up (no RAII objects, no lock taken inside).
// Create BSTRs, VARIANTs and locks outside and pass them in.
#pragma once

#include <windows.h>

#include <type_traits>

namespace qz45 {

// Calls fn(context) and returns its result, or E_UNEXPECTED (0x8000FFFF)
// when it raises a C++ exception of any type, a processor fault (such as an
// access violation) or any other structured exception (RaiseException).
// Usable on any thread, and nested.
HRESULT GuardedCall(HRESULT (*fn)(void *context), void *context);

// As above; *exceptionCode receives the code of the structured exception
// caught, 0 when none was (fn returned or threw a C++ exception).
HRESULT GuardedCall(HRESULT (*fn)(void *context), void *context, DWORD *exceptionCode);

// Guarded(f) runs f() (no arguments, returns HRESULT) under GuardedCall.
template <class F>
HRESULT Guarded(F &&f) {
    using Callable = std::remove_reference_t<F>;
    return GuardedCall([](void *c) -> HRESULT { return (*static_cast<Callable *>(c))(); },
                       const_cast<void *>(static_cast<const void *>(&f)));
}

}  // namespace qz45
