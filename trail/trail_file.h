// A trail file opened for reading by its name, shared with the writers that
// append to it, renamers and deleters. Paths are UTF-8 here; on Windows the
// file is opened by its UTF-16 name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "trail_lines.h"

namespace qz45trail {

// Which file a name stands for: a file replaced under the same name has
// another identity.
struct FileIdentity {
    uint64_t volume = 0;
    uint64_t index = 0;
    bool operator==(const FileIdentity &o) const { return volume == o.volume && index == o.index; }
    bool operator!=(const FileIdentity &o) const { return !(*this == o); }
};

class TrailFile : public ByteSource {
public:
    enum class OpenResult { kOpened, kMissing, kFailed };

    // Opens path for reading; null with the reason when it cannot (kMissing:
    // there is no such file, or no such folder).
    static std::unique_ptr<TrailFile> Open(const std::string &path, OpenResult *result,
                                           std::string *error);
    // The identity of the file a name stands for now.
    static OpenResult IdentityOf(const std::string &path, FileIdentity *id, std::string *error);

    ~TrailFile() override;
    TrailFile(const TrailFile &) = delete;
    TrailFile &operator=(const TrailFile &) = delete;

    bool ReadAt(uint64_t offset, char *buffer, std::size_t n, std::size_t *got,
                std::string *error) override;
    bool Size(uint64_t *size, std::string *error) override;
    bool Identity(FileIdentity *id, std::string *error);

private:
    struct Impl;
    explicit TrailFile(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

}  // namespace qz45trail
