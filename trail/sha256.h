// SHA-256 of the trail's lines and chain. On Windows computed with the
// system's cryptography API (CNG); the native build of the platform-free
// code and its tests has a portable implementation of its own.
#pragma once

#include <string>
#include <string_view>

namespace qz45trail {

// The SHA-256 of data as 64 lowercase hex digits; false when it could not be
// computed (hex is then left as it was).
bool Sha256Hex(std::string_view data, std::string *hex);

}  // namespace qz45trail
