// The trail writers' lock, taken on the file the trail's name stands for.
#include "writers_lock.h"

#include "trail_file.h"
#include "win_text.h"

namespace qz45trail {

WritersLock::WritersLock(const std::string &current) {
    overlapped_.OffsetHigh = 0x40000000;  // byte 2^62, as the writers have it
    for (int attempt = 0; attempt < 16 && !held_; ++attempt) {
        file_ = UniqueHandle(CreateFileW(Wide(current).c_str(), GENERIC_READ,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_.Valid() ||
            !LockFileEx(file_.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &overlapped_))
            return;
        held_ = true;
        BY_HANDLE_FILE_INFORMATION mine{};
        FileIdentity named;
        std::string why;
        if (GetFileInformationByHandle(file_.Get(), &mine) &&
            TrailFile::IdentityOf(current, &named, &why) == TrailFile::OpenResult::kOpened &&
            named.volume == mine.dwVolumeSerialNumber &&
            named.index ==
                ((static_cast<uint64_t>(mine.nFileIndexHigh) << 32) | mine.nFileIndexLow))
            return;
        Release();  // rotated meanwhile: the new file's lock is the one
    }
}

void WritersLock::Release() {
    if (held_) UnlockFileEx(file_.Get(), 0, 1, 0, &overlapped_);
    held_ = false;
}

}  // namespace qz45trail
