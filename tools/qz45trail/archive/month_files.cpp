// Archive files: written through a partial name, hashed as they go, read
// back line by line.
#include "month_files.h"

#include <windows.h>

#include <bcrypt.h>

#include <memory>
#include <vector>

#include "trail_file.h"
#include "trail_lines.h"
#include "win_handle.h"
#include "win_text.h"

namespace qz45trail {
namespace {

// SHA-256 of bytes fed in pieces (CNG).
class Sha256Stream {
public:
    Sha256Stream() {
        ok_ = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm_, BCRYPT_SHA256_ALGORITHM,
                                                         nullptr, 0)) &&
              BCRYPT_SUCCESS(BCryptCreateHash(algorithm_, &hash_, nullptr, 0, nullptr, 0, 0));
    }
    ~Sha256Stream() {
        if (hash_ != nullptr) BCryptDestroyHash(hash_);
        if (algorithm_ != nullptr) BCryptCloseAlgorithmProvider(algorithm_, 0);
    }
    Sha256Stream(const Sha256Stream &) = delete;
    Sha256Stream &operator=(const Sha256Stream &) = delete;

    void Add(const char *data, std::size_t n) {
        while (ok_ && n > 0) {
            const ULONG piece = n > (1u << 30) ? (1u << 30) : static_cast<ULONG>(n);
            ok_ = BCRYPT_SUCCESS(BCryptHashData(
                hash_, reinterpret_cast<PUCHAR>(const_cast<char *>(data)), piece, 0));
            data += piece;
            n -= piece;
        }
    }
    bool Hex(std::string *hex) {
        unsigned char digest[32];
        if (!ok_ || !BCRYPT_SUCCESS(BCryptFinishHash(hash_, digest, sizeof digest, 0)))
            return false;
        static const char kDigits[] = "0123456789abcdef";
        hex->clear();
        for (const unsigned char b : digest) {
            hex->push_back(kDigits[b >> 4]);
            hex->push_back(kDigits[b & 15]);
        }
        ok_ = false;  // finished
        return true;
    }

private:
    BCRYPT_ALG_HANDLE algorithm_ = nullptr;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
    bool ok_ = false;
};

bool WriteAll(HANDLE file, const std::string &bytes) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        DWORD wrote = 0;
        const DWORD n = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - at, 1u << 20));
        if (!WriteFile(file, bytes.data() + at, n, &wrote, nullptr) || wrote == 0) return false;
        at += wrote;
    }
    return true;
}

}  // namespace

bool MakeFolder(const std::string &folder, std::string *why) {
    if (folder.empty()) return true;
    std::string path;
    for (std::size_t i = 0; i <= folder.size(); ++i) {
        if (i == folder.size() || folder[i] == '\\' || folder[i] == '/') {
            if (!path.empty() && path.back() != ':' &&
                !CreateDirectoryW(Wide(path).c_str(), nullptr) &&
                GetLastError() != ERROR_ALREADY_EXISTS) {
                *why = "cannot make the folder " + path + ": " + ErrorText(GetLastError());
                return false;
            }
        }
        if (i < folder.size()) path += folder[i];
    }
    return true;
}

bool MakeEmptyFile(const std::string &path, std::string *why) {
    UniqueHandle file(CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Valid() || GetLastError() == ERROR_FILE_EXISTS) return true;
    *why = "cannot make " + path + ": " + ErrorText(GetLastError());
    return false;
}

bool WriteLines(const std::string &path, const Lines &lines, std::string *sha256,
                unsigned long long *bytes, std::string *why) {
    const std::string partial = path + ".partial";
    Sha256Stream hash;
    *bytes = 0;
    {
        UniqueHandle file(CreateFileW(Wide(partial).c_str(), GENERIC_WRITE, 0, nullptr,
                                      CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            *why = "cannot write " + partial + ": " + ErrorText(GetLastError());
            return false;
        }
        std::string buffer;
        bool failed = false;
        lines([&](const std::string &line) {
            buffer += line;
            buffer += '\n';
            if (failed || buffer.size() < (1u << 20)) return;
            hash.Add(buffer.data(), buffer.size());
            *bytes += buffer.size();
            failed = !WriteAll(file.Get(), buffer);
            buffer.clear();
        });
        if (failed) {
            *why = "cannot write " + partial + ": " + ErrorText(GetLastError());
            return false;
        }
        hash.Add(buffer.data(), buffer.size());
        *bytes += buffer.size();
        if (!WriteAll(file.Get(), buffer) || !FlushFileBuffers(file.Get())) {
            *why = "cannot write " + partial + ": " + ErrorText(GetLastError());
            return false;
        }
    }
    if (!hash.Hex(sha256)) {
        *why = "cannot compute the SHA-256 of " + partial;
        return false;
    }
    // No MOVEFILE_REPLACE_EXISTING: a file under the name stays as it is.
    if (!MoveFileExW(Wide(partial).c_str(), Wide(path).c_str(), MOVEFILE_WRITE_THROUGH)) {
        *why = "cannot name " + partial + " " + path + " (" + ErrorText(GetLastError()) +
               "): a file of that name is not replaced";
        return false;
    }
    return true;
}

bool SameLines(const std::string &path, const Lines &lines, bool *same, std::string *sha256,
               std::string *why) {
    TrailFile::OpenResult opened;
    const std::unique_ptr<TrailFile> file = TrailFile::Open(path, &opened, why);
    if (file == nullptr) return false;
    TrailReader reader(*file);
    Sha256Stream hash;
    std::string got;
    bool failed = false;
    *same = true;
    lines([&](const std::string &expected) {
        if (failed || !*same) return;
        const LineResult r = reader.Next(&got);
        if (r == LineResult::kError) {
            failed = true;
            *why = "cannot read " + path + ": " + reader.Error();
        } else if (r != LineResult::kLine || got != expected) {
            *same = false;
        } else {
            hash.Add(got.data(), got.size());
            hash.Add("\n", 1);
        }
    });
    if (failed) return false;
    if (!*same) return true;
    if (reader.Next(&got) != LineResult::kEnd || reader.Unfinished() != 0) *same = false;
    if (*same && !hash.Hex(sha256)) {
        *why = "cannot compute the SHA-256 of " + path;
        return false;
    }
    return true;
}

}  // namespace qz45trail
