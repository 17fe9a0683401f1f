// The name of this computer, asked of the system.
#include "computer_name.h"

#include <windows.h>

#define SECURITY_WIN32
#include <security.h>
#include <wchar.h>

#include "win_text.h"

namespace qz45trail {

std::string ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD length = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &length)) return "unknown";
    return Utf8(name, length);
}

std::string WindowsUser() {
    wchar_t name[512] = {};
    ULONG n = 512;
    if (GetUserNameExW(NameSamCompatible, name, &n)) return Utf8(name, n);
    DWORD m = 512;
    if (GetUserNameW(name, &m)) return Utf8(name, wcsnlen(name, 512));
    return "unknown";
}

}  // namespace qz45trail
