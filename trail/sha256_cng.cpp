#include "sha256.h"

#include <windows.h>

#include <bcrypt.h>

#include <algorithm>

namespace qz45trail {
namespace {

// One owner per CNG handle, never copied.
class Algorithm {
public:
    Algorithm() {
        if (BCryptOpenAlgorithmProvider(&h_, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0)
            h_ = nullptr;
    }
    ~Algorithm() {
        if (h_ != nullptr) BCryptCloseAlgorithmProvider(h_, 0);
    }
    Algorithm(const Algorithm &) = delete;
    Algorithm &operator=(const Algorithm &) = delete;
    BCRYPT_ALG_HANDLE Get() const { return h_; }

private:
    BCRYPT_ALG_HANDLE h_ = nullptr;
};

class Hash {
public:
    explicit Hash(const Algorithm &algorithm) {
        if (algorithm.Get() == nullptr ||
            BCryptCreateHash(algorithm.Get(), &h_, nullptr, 0, nullptr, 0, 0) < 0)
            h_ = nullptr;
    }
    ~Hash() {
        if (h_ != nullptr) BCryptDestroyHash(h_);
    }
    Hash(const Hash &) = delete;
    Hash &operator=(const Hash &) = delete;
    BCRYPT_HASH_HANDLE Get() const { return h_; }

private:
    BCRYPT_HASH_HANDLE h_ = nullptr;
};

}  // namespace

bool Sha256Hex(std::string_view data, std::string *hex) {
    Algorithm algorithm;
    Hash hash(algorithm);
    if (hash.Get() == nullptr) return false;
    // In pieces that a ULONG length can hold.
    for (std::size_t at = 0; at < data.size();) {
        const ULONG n = static_cast<ULONG>(std::min<std::size_t>(data.size() - at, 1u << 30));
        if (BCryptHashData(hash.Get(),
                           reinterpret_cast<PUCHAR>(const_cast<char *>(data.data() + at)), n,
                           0) < 0)
            return false;
        at += n;
    }
    unsigned char digest[32] = {};
    if (BCryptFinishHash(hash.Get(), digest, sizeof digest, 0) < 0) return false;
    static const char kDigits[] = "0123456789abcdef";
    hex->clear();
    for (unsigned char b : digest) {
        hex->push_back(kDigits[b >> 4]);
        hex->push_back(kDigits[b & 15]);
    }
    return true;
}

}  // namespace qz45trail
