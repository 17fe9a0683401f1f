// A rotated file's copy in the archive folder, checked byte for byte.
#include "archive_copy.h"

#include <windows.h>

#include <cstring>
#include <memory>
#include <vector>

#include "trail_file.h"
#include "win_handle.h"
#include "win_text.h"

namespace qz45trail {
namespace {

// Whether two files hold the same bytes; false with the reason when one
// cannot be read.
bool SameBytes(const std::string &a, const std::string &b, bool *same, std::string *why) {
    TrailFile::OpenResult opened;
    const std::unique_ptr<TrailFile> fa = TrailFile::Open(a, &opened, why);
    if (fa == nullptr) return false;
    const std::unique_ptr<TrailFile> fb = TrailFile::Open(b, &opened, why);
    if (fb == nullptr) return false;
    uint64_t sa = 0, sb = 0;
    if (!fa->Size(&sa, why) || !fb->Size(&sb, why)) return false;
    *same = sa == sb;
    std::vector<char> ba(1 << 16), bb(1 << 16);
    for (uint64_t at = 0; *same && at < sa;) {
        std::size_t ga = 0, gb = 0;
        if (!fa->ReadAt(at, ba.data(), ba.size(), &ga, why) ||
            !fb->ReadAt(at, bb.data(), bb.size(), &gb, why))
            return false;
        if (ga == 0 || ga != gb || std::memcmp(ba.data(), bb.data(), ga) != 0) *same = false;
        at += ga;
    }
    return true;
}

std::string InFolder(std::string folder, const std::string &name) {
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += "\\";
    return folder + name;
}

}  // namespace

Archived CopyToArchive(const TrailPart &part, const std::string &folder, bool dryRun,
                       std::string *why) {
    const std::string target = InFolder(folder, part.name);
    const std::string partial = target + ".partial";
    bool same = false;
    FileIdentity id;
    if (TrailFile::IdentityOf(target, &id, why) == TrailFile::OpenResult::kOpened) {
        if (!SameBytes(part.path, target, &same, why)) return Archived::kFailed;
        if (same) return Archived::kAlready;
        *why = "the archive already holds another file named " + part.name + " (" + target +
               "), which is not overwritten";
        return Archived::kConflict;
    }
    if (dryRun) return Archived::kCopied;
    if (!CopyFileW(Wide(part.path).c_str(), Wide(partial).c_str(), FALSE)) {
        *why = "cannot copy it to " + partial + ": " + ErrorText(GetLastError());
        return Archived::kFailed;
    }
    {
        UniqueHandle copy(CreateFileW(Wide(partial).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!copy.Valid() || !FlushFileBuffers(copy.Get())) {
            *why = "cannot flush " + partial + ": " + ErrorText(GetLastError());
            return Archived::kFailed;
        }
    }
    if (!SameBytes(part.path, partial, &same, why)) return Archived::kFailed;
    if (!same) {
        DeleteFileW(Wide(partial).c_str());
        *why = "the copy in " + partial + " differs from the file";
        return Archived::kFailed;
    }
    // No MOVEFILE_REPLACE_EXISTING: a file that appeared under the name
    // meanwhile stays.
    if (!MoveFileExW(Wide(partial).c_str(), Wide(target).c_str(), MOVEFILE_WRITE_THROUGH)) {
        *why = "cannot name the copy " + target + ": " + ErrorText(GetLastError());
        return Archived::kFailed;
    }
    return Archived::kCopied;
}

}  // namespace qz45trail
