// Inside the service guard: the part every architecture shares and the part
// each one builds its own way.
#pragma once

#include <windows.h>

namespace qz45::detail {

// Calls fn(context) and turns any C++ exception into E_UNEXPECTED. Runs
// inside the guard's frame; nothing escapes it by C++ unwinding.
HRESULT CatchCxx(HRESULT (*fn)(void *), void *context) noexcept;

// The architecture's guarded region: runs CatchCxx(fn, context) under a
// structured-exception handler of the guard's own. When anything is raised
// below it, the frames in between are unwound, *exceptionCode receives the
// exception's code and the result is E_UNEXPECTED; otherwise *exceptionCode
// is left alone.
HRESULT SehThunk(HRESULT (*fn)(void *), void *context, DWORD *exceptionCode);

}  // namespace qz45::detail
