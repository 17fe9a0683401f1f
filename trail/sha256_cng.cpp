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
    // flags: BCRYPT_HASH_REUSABLE_FLAG for a hash that starts again after each
    // result (Windows 8 on; refused before).
    explicit Hash(const Algorithm &algorithm, ULONG flags = 0) {
        if (algorithm.Get() == nullptr ||
            BCryptCreateHash(algorithm.Get(), &h_, nullptr, 0, nullptr, 0, flags) < 0)
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

bool Feed(const Hash &hash, std::string_view data) {
    // In pieces that a ULONG length can hold.
    for (std::size_t at = 0; at < data.size();) {
        const ULONG n = static_cast<ULONG>(std::min<std::size_t>(data.size() - at, 1u << 30));
        if (BCryptHashData(hash.Get(),
                           reinterpret_cast<PUCHAR>(const_cast<char *>(data.data() + at)), n,
                           0) < 0)
            return false;
        at += n;
    }
    return true;
}

bool Finish(const Hash &hash, std::string *hex) {
    unsigned char digest[32] = {};
    if (BCryptFinishHash(hash.Get(), digest, sizeof digest, 0) < 0) return false;
    static const char kDigits[] = "0123456789abcdef";
    hex->resize(2 * sizeof digest);
    for (std::size_t i = 0; i < sizeof digest; ++i) {
        (*hex)[2 * i] = kDigits[digest[i] >> 4];
        (*hex)[2 * i + 1] = kDigits[digest[i] & 15];
    }
    return true;
}

bool HexOf(const Hash &hash, std::string_view first, std::string_view second, std::string *hex) {
    return hash.Get() != nullptr && Feed(hash, first) && Feed(hash, second) && Finish(hash, hex);
}

}  // namespace

bool Sha256Hex(std::string_view data, std::string *hex) {
    Algorithm algorithm;
    Hash hash(algorithm);
    return HexOf(hash, data, {}, hex);
}

// The provider, and a reusable hash on it when the system has them (null
// otherwise: a hash of its own for each result).
struct Sha256::System {
    Algorithm algorithm;
    std::unique_ptr<Hash> reusable;
};

Sha256::Sha256() : system_(std::make_unique<System>()) {
    system_->reusable = std::make_unique<Hash>(system_->algorithm, BCRYPT_HASH_REUSABLE_FLAG);
    if (system_->reusable->Get() == nullptr) system_->reusable.reset();
}

Sha256::~Sha256() = default;

bool Sha256::Hex(std::string_view data, std::string *hex) { return Hex(data, {}, hex); }

bool Sha256::Hex(std::string_view first, std::string_view second, std::string *hex) {
    if (system_->reusable == nullptr) {
        Hash hash(system_->algorithm);
        return HexOf(hash, first, second, hex);
    }
    if (HexOf(*system_->reusable, first, second, hex)) return true;
    // A failure midway may leave data in it: a fresh one for the next hash.
    system_->reusable = std::make_unique<Hash>(system_->algorithm, BCRYPT_HASH_REUSABLE_FLAG);
    if (system_->reusable->Get() == nullptr) system_->reusable.reset();
    return false;
}

}  // namespace qz45trail
