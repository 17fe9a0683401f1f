// Reading by position through a file handle someone else owns.
#pragma once

#include <windows.h>

#include "trail_lines.h"

namespace qz45trail {

class HandleSource : public ByteSource {
public:
    explicit HandleSource(HANDLE file) : file_(file) {}
    bool ReadAt(uint64_t offset, char *buffer, std::size_t n, std::size_t *got,
                std::string *error) override;
    bool Size(uint64_t *size, std::string *error) override;
    // The system's code of the last failure.
    DWORD ErrorCode() const { return code_; }

private:
    HANDLE file_;
    DWORD code_ = ERROR_SUCCESS;
};

}  // namespace qz45trail
