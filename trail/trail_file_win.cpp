#include <windows.h>

#include "trail_file.h"
#include "trail_set.h"
#include "win_handle.h"
#include "win_source.h"
#include "win_text.h"

namespace qz45trail {

struct TrailFile::Impl {
    explicit Impl(UniqueHandle h) : file(std::move(h)), source(file.Get()) {}
    UniqueHandle file;
    HandleSource source;
};

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool Missing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool IdentityOfHandle(HANDLE h, FileIdentity *id, std::string *error) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) {
        *error = ErrorText(GetLastError());
        return false;
    }
    id->volume = info.dwVolumeSerialNumber;
    id->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

UniqueHandle OpenShared(const std::string &path, DWORD access, TrailFile::OpenResult *result,
                        std::string *error) {
    UniqueHandle h(CreateFileW(Wide(path).c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
    if (h.Valid()) {
        *result = TrailFile::OpenResult::kOpened;
    } else {
        const DWORD e = GetLastError();
        *result = Missing(e) ? TrailFile::OpenResult::kMissing : TrailFile::OpenResult::kFailed;
        *error = ErrorText(e);
    }
    return h;
}

}  // namespace

TrailFile::TrailFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TrailFile::~TrailFile() = default;

std::unique_ptr<TrailFile> TrailFile::Open(const std::string &path, OpenResult *result,
                                           std::string *error) {
    UniqueHandle h = OpenShared(path, GENERIC_READ, result, error);
    if (!h.Valid()) return nullptr;
    return std::unique_ptr<TrailFile>(new TrailFile(std::make_unique<Impl>(std::move(h))));
}

TrailFile::OpenResult TrailFile::IdentityOf(const std::string &path, FileIdentity *id,
                                            std::string *error) {
    OpenResult result;
    // No access asked for: the identity only, whatever the file's sharing.
    const UniqueHandle h = OpenShared(path, 0, &result, error);
    if (h.Valid() && !IdentityOfHandle(h.Get(), id, error)) return OpenResult::kFailed;
    return result;
}

bool HandleSource::ReadAt(uint64_t offset, char *buffer, std::size_t n, std::size_t *got,
                          std::string *error) {
    *got = 0;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    const DWORD want = n > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n);
    if (!ReadFile(file_, buffer, want, &read, &at)) {
        const DWORD e = GetLastError();
        if (e == ERROR_HANDLE_EOF) return true;
        code_ = e;
        *error = ErrorText(e);
        return false;
    }
    *got = read;
    return true;
}

bool HandleSource::Size(uint64_t *size, std::string *error) {
    LARGE_INTEGER s{};
    if (!GetFileSizeEx(file_, &s)) {
        code_ = GetLastError();
        *error = ErrorText(code_);
        return false;
    }
    *size = static_cast<uint64_t>(s.QuadPart);
    return true;
}

bool TrailFile::ReadAt(uint64_t offset, char *buffer, std::size_t n, std::size_t *got,
                       std::string *error) {
    return impl_->source.ReadAt(offset, buffer, n, got, error);
}

bool TrailFile::Size(uint64_t *size, std::string *error) { return impl_->source.Size(size, error); }

bool TrailFile::Identity(FileIdentity *id, std::string *error) {
    return IdentityOfHandle(impl_->file.Get(), id, error);
}

}  // namespace qz45trail

namespace qz45trail {

bool ListFolder(const std::string &folder, std::vector<std::string> *names, std::string *error) {
    names->clear();
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = Wide(folder.empty() ? std::string(".\\") : folder) + L"*";
    const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        const DWORD e = GetLastError();
        if (e == ERROR_FILE_NOT_FOUND) return true;
        *error = "cannot list " + (folder.empty() ? std::string(".") : folder) + ": " + ErrorText(e);
        return false;
    }
    // A search handle has its own close: FindClose.
    struct Search {
        HANDLE h;
        ~Search() { FindClose(h); }
        Search(const Search &) = delete;
        Search &operator=(const Search &) = delete;
    } owner{search};
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names->push_back(Utf8(found.cFileName, wcsnlen(found.cFileName, MAX_PATH)));
    } while (FindNextFileW(owner.h, &found));
    return true;
}

void PauseMs(unsigned ms) { Sleep(ms); }

}  // namespace qz45trail
