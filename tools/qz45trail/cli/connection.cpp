// The connection-string options, and reading the string from where they say.
#include "connection.h"

#include <windows.h>

#include <cstdio>
#include <memory>

#include "command.h"
#include "exit_codes.h"
#include "trail_file.h"
#include "trail_lines.h"
#include "win_text.h"

namespace qz45trail {
namespace {

// The first line of a file, or false (said) when it cannot be read.
bool FirstLineOf(const std::string &path, std::string *line) {
    TrailFile::OpenResult opened;
    std::string error;
    bool complete = false;
    const std::unique_ptr<TrailFile> f = TrailFile::Open(path, &opened, &error);
    if (f == nullptr || !ReadFirstLine(*f, line, &complete, &error)) {
        std::fprintf(stderr, "qz45trail: cannot read the connection string from %s: %s\n",
                     path.c_str(), error.c_str());
        return false;
    }
    return true;
}

std::string EnvironmentVariable(const std::string &name) {
    const std::wstring wide = Wide(name);
    const DWORD n = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    std::wstring value(n, L'\0');
    const DWORD got = n > 0 ? GetEnvironmentVariableW(wide.c_str(), &value[0], n) : 0;
    return Utf8(value.data(), got < n ? got : 0);
}

}  // namespace

void ConnectionOptions::Add(CLI::App *command) {
    CLI::Option *given = command->add_option("--odbc", given_, "the database's ODBC connection string")
                             ->type_name("CONNECTION");
    CLI::Option *file = command->add_option("--odbc-file", file_,
                                            "read the connection string from the first line of FILE")
                            ->type_name("FILE");
    CLI::Option *variable = command->add_option("--odbc-env", variable_,
                                                "read the connection string from environment "
                                                "variable NAME")
                                ->type_name("NAME");
    given->excludes(file)->excludes(variable);
    file->excludes(variable);
}

int ConnectionOptions::Resolve(std::string *out) const {
    if (!given_.empty()) *out = given_;
    else if (!file_.empty() && !FirstLineOf(file_, out)) return kExitFailed;
    else if (file_.empty()) *out = EnvironmentVariable(variable_);
    while (!out->empty() && (out->back() == '\n' || out->back() == '\r' || out->back() == ' '))
        out->pop_back();
    if (out->empty()) {
        std::fprintf(stderr, "qz45trail: the connection string is empty%s%s\n",
                     variable_.empty() ? "" : ": no environment variable ", variable_.c_str());
        return kExitUsage;
    }
    return kExitOk;
}

int ConnectionOptions::Require(const char *command, std::string *out) const {
    if (!Given())
        return Usage(std::string(command) + " needs a database: --odbc, --odbc-file or --odbc-env");
    return Resolve(out);
}

}  // namespace qz45trail
