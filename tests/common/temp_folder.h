// A folder of a test's own under the test's temporary folder, emptied and
// removed again when the test is done (host tests, POSIX).
#pragma once

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "trail_set.h"

class TempFolder {
public:
    explicit TempFolder(const std::string &prefix) {
        std::string dir = ::testing::TempDir() + prefix + "_XXXXXX";
        EXPECT_NE(mkdtemp(&dir[0]), nullptr);
        path_ = dir + "/";
    }
    ~TempFolder() {
        std::vector<std::string> names;
        std::string error;
        qz45trail::ListFolder(path_, &names, &error);
        for (const std::string &n : names) unlink((path_ + n).c_str());
        rmdir(path_.c_str());
    }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    // The folder, with a slash at its end.
    const std::string &Path() const { return path_; }

    // Writes bytes as the file name there; its path.
    std::string Write(const std::string &name, const std::string &bytes) const {
        const std::string path = path_ + name;
        FILE *f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr) << path;
        if (f != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }

private:
    std::string path_;
};
