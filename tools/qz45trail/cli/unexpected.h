// What qz45trail says of words on its command line that it did not expect:
// where each went wrong, and the command or option it was probably meant to be.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

namespace qz45trail {

// Says which words were not expected where, with the option or command each
// was probably meant to be; returns the usage error's exit code. args: the
// command line, last argument first (as the parser takes it).
int Unexpected(CLI::App &app, const std::vector<std::string> &reversedArgs,
               const CLI::ExtrasError &e);

}  // namespace qz45trail
