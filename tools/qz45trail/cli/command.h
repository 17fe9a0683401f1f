// What every command of qz45trail's command line is: its CLI11 subcommand
// (the app itself for the view, which has none), and what runs it once the
// command line has been read, returning the exit code.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "connection.h"

namespace qz45trail {

struct Command {
    CLI::App *app;
    std::function<int()> run;
};

// The program's description and the footer of its help.
extern const char kAbout[];
extern const char kFooter[];

// The command line as UTF-8, whatever the code page, last argument first
// (as the parser takes it).
std::vector<std::string> ReversedArguments();

// Says a usage error ("qz45trail: <what> (try --help)") and returns its code.
int Usage(const std::string &what);

// The --machine option of a command that stores a trail file as a machine.
void AddMachineOption(CLI::App *command, std::string *machine);

// A command that works on the database: its options (with their
// `connection`), where the connection string comes from, and the function
// that runs it once the string is resolved.
template <typename Options>
struct DatabaseCommand {
    Options options;
    ConnectionOptions database;

    static Command Make(CLI::App *command, std::shared_ptr<DatabaseCommand> self,
                        const char *name, int (*run)(const Options &)) {
        return {command, [self, name, run] {
                    if (const int failed = self->database.Require(name, &self->options.connection))
                        return failed;
                    return run(self->options);
                }};
    }
};

// One per command, each in a file of its own.
Command AddViewCommand(CLI::App *app);
Command AddVerifyCommand(CLI::App *app);
Command AddShipCommand(CLI::App *app);
Command AddPruneCommand(CLI::App *app);
Command AddSchemaCommand(CLI::App *app);
Command AddReviewCommand(CLI::App *app);
Command AddArchiveCommand(CLI::App *app);
Command AddRestoreCommand(CLI::App *app);

}  // namespace qz45trail
