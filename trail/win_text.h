// UTF-8 and UTF-16, and the system's words for an error code.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace qz45trail {

std::wstring Wide(const std::string &utf8);
std::string Utf8(const wchar_t *text, std::size_t length);

// "The system cannot find the file specified (error 2)", or "error N" when
// the system has no words for it.
std::string ErrorText(DWORD error);

}  // namespace qz45trail
