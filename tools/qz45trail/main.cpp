// qz45trail: the audit trail of the reference audit service. Its commands
// (cli/) view a trail file or the plant database as a table, verify a trail's
// hash chain, ship a trail into the database, prune rotated files the
// database holds, print the database's tables as SQL, serve the review
// page, and archive months of the database into files and restore them. This file makes the command line, reads it, and runs the command.
#include <windows.h>

#include <io.h>

#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>
#include <vector>

#include "command.h"
#include "exit_codes.h"
#include "unexpected.h"

using namespace qz45trail;

int main() {
    if (_isatty(_fileno(stdout))) SetConsoleOutputCP(CP_UTF8);
    CLI::App app{kAbout, "qz45trail"};
    app.footer(kFooter);
    // Options start with - only: a FILE may be /path/to/trail (the parser on
    // Windows would take it for an option /path).
    app.allow_windows_style_options(false);
    app.require_subcommand(0, 1);
    const Command view = AddViewCommand(&app);
    const std::vector<Command> commands = {AddVerifyCommand(&app), AddShipCommand(&app),
                                           AddSchemaCommand(&app), AddPruneCommand(&app),
                                           AddReviewCommand(&app), AddArchiveCommand(&app),
                                           AddRestoreCommand(&app)};

    const std::vector<std::string> given = ReversedArguments();
    std::vector<std::string> args = given;  // the parser consumes them
    try {
        app.parse(args);
    } catch (const CLI::ExtrasError &e) {
        return Unexpected(app, given, e);
    } catch (const CLI::ParseError &e) {
        return app.exit(e) == 0 ? kExitOk : kExitUsage;
    }
    try {
        for (const Command &command : commands)
            if (*command.app) return command.run();
        return view.run();
    } catch (const std::exception &e) {
        std::fprintf(stderr, "qz45trail: %s\n", e.what());
        return kExitFailed;
    }
}
