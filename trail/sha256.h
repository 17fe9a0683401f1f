// SHA-256 of the trail's lines and chain. On Windows computed with the
// system's cryptography API (CNG); the native build of the platform-free
// code and its tests has a portable implementation of its own.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace qz45trail {

// The SHA-256 of data as 64 lowercase hex digits; false when it could not be
// computed (hex is then left as it was). Opens what it needs each time: for
// a hash now and then; Sha256 below for many.
bool Sha256Hex(std::string_view data, std::string *hex);

// SHA-256 of one text after another, with what the system needs for it
// (CNG's algorithm provider, a reusable hash where the system has one)
// opened once and kept. Not shared between threads.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    // As Sha256Hex.
    bool Hex(std::string_view data, std::string *hex);
    // Of first followed by second, without joining them: the chain's hash
    // of a previous hash's digits and a line's content.
    bool Hex(std::string_view first, std::string_view second, std::string *hex);

private:
    struct System;
    std::unique_ptr<System> system_;
};

}  // namespace qz45trail
