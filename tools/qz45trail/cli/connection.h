// Where a command's connection string comes from: given (--odbc), in a file
// (--odbc-file), or in an environment variable (--odbc-env).
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace qz45trail {

class ConnectionOptions {
public:
    // Adds the three options to command; they exclude each other.
    void Add(CLI::App *command);
    bool Given() const { return !given_.empty() || !file_.empty() || !variable_.empty(); }

    // The string, and 0; said (never the string itself), the exit code when
    // it is not there: 3 for a file that cannot be read, 2 for an empty one.
    int Resolve(std::string *out) const;

    // Given(), resolved into *out; else a usage error saying that command
    // needs a database. An exit code.
    int Require(const char *command, std::string *out) const;

private:
    std::string given_, file_, variable_;
};

}  // namespace qz45trail
