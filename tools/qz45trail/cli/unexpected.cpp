// The answer to words on the command line that CLI11 did not expect.
#include "unexpected.h"

#include <algorithm>
#include <cstdio>

#include "exit_codes.h"
#include "suggest.h"

namespace qz45trail {
namespace {

// The words CLI11 did not expect, from its message ("... not expected: A B").
std::vector<std::string> UnexpectedWords(const CLI::ExtrasError &e) {
    std::vector<std::string> words;
    const std::string what = e.what();
    const std::size_t colon = what.find(": ");
    std::size_t at = colon == std::string::npos ? what.size() : colon + 2;
    while (at < what.size()) {
        const std::size_t end = std::min(what.find(' ', at), what.size());
        if (end > at) words.push_back(what.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

}  // namespace

int Unexpected(CLI::App &app, const std::vector<std::string> &reversedArgs,
               const CLI::ExtrasError &e) {
    // The command the words were given to: the first argument that names one.
    CLI::App *command = &app;
    std::vector<std::string> commands;
    for (CLI::App *sub : app.get_subcommands([](CLI::App *) { return true; }))
        commands.push_back(sub->get_name());
    for (auto it = reversedArgs.rbegin(); it != reversedArgs.rend() && command == &app; ++it)
        for (CLI::App *sub : app.get_subcommands([](CLI::App *) { return true; }))
            if (*it == sub->get_name()) command = sub;
    std::vector<std::string> options;
    for (const CLI::Option *o : command->get_options()) {
        for (const std::string &n : o->get_lnames()) options.push_back("--" + n);
        for (const std::string &n : o->get_snames()) options.push_back("-" + n);
    }
    const std::string where = command == &app ? "qz45trail" : "qz45trail " + command->get_name();
    const std::vector<std::string> words = UnexpectedWords(e);
    const bool anOption = std::any_of(words.begin(), words.end(), [](const std::string &w) {
        return w.size() > 1 && w[0] == '-';
    });
    // A mistyped command is taken for FILE, and what follows it is unexpected.
    const std::string first = reversedArgs.empty() ? "" : reversedArgs.back();
    const std::string command1 = command == &app && !anOption ? Nearest(first, commands) : "";
    if (!command1.empty()) {
        std::fprintf(stderr, "qz45trail: %s is not a command; did you mean %s?\n", first.c_str(),
                     command1.c_str());
    } else {
        for (const std::string &word : words) {
            const bool option = word.size() > 1 && word[0] == '-';
            // The value of an unknown option is taken for an argument of its own.
            if (!option && anOption) continue;
            const std::string name = option ? word.substr(0, word.find('=')) : word;
            const std::string guess = option ? Nearest(name, options) : "";
            if (option)
                std::fprintf(stderr, "qz45trail: %s is not an option of %s%s%s\n", name.c_str(),
                             where.c_str(), guess.empty() ? "" : "; did you mean ",
                             guess.empty() ? "" : (guess + "?").c_str());
            else
                std::fprintf(stderr, "qz45trail: %s was not expected\n", word.c_str());
        }
    }
    std::fprintf(stderr, "(%s --help lists what it takes)\n", where.c_str());
    return kExitUsage;
}

}  // namespace qz45trail
