// The trail file on the native build (its tests), by POSIX calls.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <time.h>

#include <cerrno>
#include <cstring>

#include "trail_file.h"
#include "trail_set.h"

namespace qz45trail {

// The one owner of the descriptor.
struct TrailFile::Impl {
    Impl() = default;
    Impl(const Impl &) = delete;
    Impl &operator=(const Impl &) = delete;
    ~Impl() {
        if (fd >= 0) close(fd);
    }
    int fd = -1;
};

namespace {

std::string Why() { return std::strerror(errno); }

TrailFile::OpenResult Failed(std::string *error) {
    const bool missing = errno == ENOENT || errno == ENOTDIR;
    *error = Why();
    return missing ? TrailFile::OpenResult::kMissing : TrailFile::OpenResult::kFailed;
}

}  // namespace

TrailFile::TrailFile(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
TrailFile::~TrailFile() = default;

std::unique_ptr<TrailFile> TrailFile::Open(const std::string &path, OpenResult *result,
                                           std::string *error) {
    auto impl = std::make_unique<Impl>();
    impl->fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (impl->fd < 0) {
        *result = Failed(error);
        return nullptr;
    }
    *result = OpenResult::kOpened;
    return std::unique_ptr<TrailFile>(new TrailFile(std::move(impl)));
}

TrailFile::OpenResult TrailFile::IdentityOf(const std::string &path, FileIdentity *id,
                                            std::string *error) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return Failed(error);
    id->volume = static_cast<uint64_t>(st.st_dev);
    id->index = static_cast<uint64_t>(st.st_ino);
    return OpenResult::kOpened;
}

bool TrailFile::ReadAt(uint64_t offset, char *buffer, std::size_t n, std::size_t *got,
                       std::string *error) {
    *got = 0;
    const ssize_t r = pread(impl_->fd, buffer, n, static_cast<off_t>(offset));
    if (r < 0) {
        *error = Why();
        return false;
    }
    *got = static_cast<std::size_t>(r);
    return true;
}

bool TrailFile::Size(uint64_t *size, std::string *error) {
    struct stat st {};
    if (fstat(impl_->fd, &st) != 0) {
        *error = Why();
        return false;
    }
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool TrailFile::Identity(FileIdentity *id, std::string *error) {
    struct stat st {};
    if (fstat(impl_->fd, &st) != 0) {
        *error = Why();
        return false;
    }
    id->volume = static_cast<uint64_t>(st.st_dev);
    id->index = static_cast<uint64_t>(st.st_ino);
    return true;
}

}  // namespace qz45trail

#include <dirent.h>

namespace qz45trail {

bool ListFolder(const std::string &folder, std::vector<std::string> *names, std::string *error) {
    names->clear();
    DIR *dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) {
        *error = "cannot list " + folder + ": " + std::strerror(errno);
        return false;
    }
    while (const dirent *entry = readdir(dir))
        if (entry->d_type != DT_DIR) names->push_back(entry->d_name);
    closedir(dir);
    return true;
}

void PauseMs(unsigned ms) {
    timespec t{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    nanosleep(&t, nullptr);
}

}  // namespace qz45trail
