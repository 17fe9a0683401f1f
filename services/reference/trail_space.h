// The free space on the trail's volume, checked before each append.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace qz45trail {

// S_OK when bytes more fit above the floor; HRESULT_FROM_WIN32(ERROR_DISK_FULL)
// when they do not. Below the warning threshold it writes a warning to the
// Windows event log, at most one an hour.
HRESULT CheckSpace(const std::wstring &trail, std::size_t bytes);

}  // namespace qz45trail
