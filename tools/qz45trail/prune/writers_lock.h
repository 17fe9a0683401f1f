// The trail writers' lock, as prune holds it while files are recorded as
// pruned and go.
#pragma once

#include <windows.h>

#include <string>

#include "win_handle.h"

namespace qz45trail {

// The writers' lock on the trail (one byte far beyond the end of the current
// file), held while files are recorded and go, so that no writer looks for
// the newest rotated file or the pruned record meanwhile. It is taken on the
// file the name stands for once the lock is held: a writer may rotate the
// file between the opening and the locking.
class WritersLock {
public:
    explicit WritersLock(const std::string &current);
    ~WritersLock() { Release(); }
    WritersLock(const WritersLock &) = delete;
    WritersLock &operator=(const WritersLock &) = delete;

private:
    void Release();

    UniqueHandle file_;
    OVERLAPPED overlapped_{};
    bool held_ = false;
};

}  // namespace qz45trail
