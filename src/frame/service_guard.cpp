// The service guard's entry points, shared by both architectures; the
// structured-exception frame itself is in service_guard_i686.cpp and
// service_guard_x64.cpp.
#include "frame/service_guard.h"

#include "frame/service_guard_frame.h"

namespace qz45 {

namespace detail {

HRESULT CatchCxx(HRESULT (*fn)(void *), void *context) noexcept {
    try {
        return fn(context);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

}  // namespace detail

HRESULT GuardedCall(HRESULT (*fn)(void *context), void *context, DWORD *exceptionCode) {
    DWORD code = 0;
    HRESULT hr = detail::SehThunk(fn, context, &code);
    if (exceptionCode != nullptr) *exceptionCode = code;
    return hr;
}

HRESULT GuardedCall(HRESULT (*fn)(void *context), void *context) {
    return GuardedCall(fn, context, nullptr);
}

}  // namespace qz45
