#include "trail_space.h"

namespace qz45trail {

HRESULT CheckSpace(const std::wstring &, std::size_t) { return S_OK; }

}  // namespace qz45trail
