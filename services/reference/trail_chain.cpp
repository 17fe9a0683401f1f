#include "trail_chain.h"

#include <bcrypt.h>

#include <algorithm>

namespace qz45trail {

const char kChainStart[kHashDigits + 1] =
    "0000000000000000000000000000000000000000000000000000000000000000";

namespace {

constexpr char kPrevField[] = ",\"prev\":\"";
constexpr char kHashField[] = "\",\"hash\":\"";
constexpr char kEnd[] = "\"}";
constexpr std::size_t kLen(const char *s) { return *s ? 1 + kLen(s + 1) : 0; }
constexpr std::size_t kSuffixLength =
    kLen(kPrevField) + kHashDigits + kLen(kHashField) + kHashDigits + kLen(kEnd);

bool IsHexDigits(const std::string &s, std::size_t at, std::size_t n) {
    for (std::size_t i = at; i < at + n; ++i) {
        const char c = s[i];
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

struct Algorithm {
    BCRYPT_ALG_HANDLE h = nullptr;
    ~Algorithm() {
        if (h != nullptr) BCryptCloseAlgorithmProvider(h, 0);
    }
};

struct Hash {
    BCRYPT_HASH_HANDLE h = nullptr;
    ~Hash() {
        if (h != nullptr) BCryptDestroyHash(h);
    }
};

HRESULT FromStatus(NTSTATUS status) {
    return status >= 0 ? S_OK : HRESULT_FROM_NT(status);
}

}  // namespace

HRESULT Sha256Hex(const std::string &data, std::string *hex) {
    Algorithm algorithm;
    HRESULT hr = FromStatus(BCryptOpenAlgorithmProvider(&algorithm.h, BCRYPT_SHA256_ALGORITHM,
                                                        nullptr, 0));
    Hash hash;
    if (SUCCEEDED(hr))
        hr = FromStatus(BCryptCreateHash(algorithm.h, &hash.h, nullptr, 0, nullptr, 0, 0));
    // Hash in pieces that a ULONG length can hold.
    for (std::size_t at = 0; SUCCEEDED(hr) && at < data.size();) {
        const ULONG n = static_cast<ULONG>(std::min<std::size_t>(data.size() - at, 1u << 30));
        hr = FromStatus(BCryptHashData(
            hash.h, reinterpret_cast<PUCHAR>(const_cast<char *>(data.data() + at)), n, 0));
        at += n;
    }
    unsigned char digest[32] = {};
    if (SUCCEEDED(hr)) hr = FromStatus(BCryptFinishHash(hash.h, digest, sizeof digest, 0));
    if (FAILED(hr)) return hr;
    static const char kDigits[] = "0123456789abcdef";
    hex->clear();
    for (unsigned char b : digest) {
        hex->push_back(kDigits[b >> 4]);
        hex->push_back(kDigits[b & 15]);
    }
    return S_OK;
}

HRESULT ChainHash(const std::string &prev, const std::string &content, std::string *hash) {
    return Sha256Hex(prev + content, hash);
}

HRESULT ChainLine(const std::string &prev, const std::string &content, std::string *line) {
    // A content object with at least one member: the chain fields follow a comma.
    if (content.size() < 3 || content.front() != '{' || content.back() != '}' ||
        prev.size() != kHashDigits)
        return E_INVALIDARG;
    std::string hash;
    HRESULT hr = ChainHash(prev, content, &hash);
    if (FAILED(hr)) return hr;
    *line = content.substr(0, content.size() - 1) + kPrevField + prev + kHashField + hash + kEnd;
    return S_OK;
}

bool SplitChainedLine(const std::string &line, ChainedLine *out) {
    if (line.size() < kSuffixLength + 1 || line.front() != '{') return false;
    const std::size_t at = line.size() - kSuffixLength;
    const std::size_t prevAt = at + kLen(kPrevField);
    const std::size_t hashAt = prevAt + kHashDigits + kLen(kHashField);
    if (line.compare(at, kLen(kPrevField), kPrevField) != 0 ||
        line.compare(prevAt + kHashDigits, kLen(kHashField), kHashField) != 0 ||
        line.compare(hashAt + kHashDigits, kLen(kEnd), kEnd) != 0 ||
        !IsHexDigits(line, prevAt, kHashDigits) || !IsHexDigits(line, hashAt, kHashDigits))
        return false;
    out->content = line.substr(0, at) + "}";
    out->prev = line.substr(prevAt, kHashDigits);
    out->hash = line.substr(hashAt, kHashDigits);
    return true;
}

}  // namespace qz45trail
