// qz45trail verify: the command line of the check of a trail file, of what
// the database holds, or of both against each other.
#include <memory>

#include "command.h"
#include "connection.h"
#include "exit_codes.h"
#include "verify.h"

namespace qz45trail {
namespace {

struct VerifyCommand {
    VerifyOptions options;
    ConnectionOptions database;

    int Run() {
        if (options.file.empty() && !database.Given())
            return Usage("verify needs a FILE, a database, or both");
        if (!database.Given() && !options.machine.empty())
            return Usage("--machine names the machine in a database (--odbc ...)");
        if (database.Given())
            if (const int failed = database.Resolve(&options.connection)) return failed;
        return Verify(options);
    }
};

}  // namespace

Command AddVerifyCommand(CLI::App *app) {
    auto verify = std::make_shared<VerifyCommand>();
    VerifyOptions &o = verify->options;
    CLI::App *command = app->add_subcommand(
        "verify", "Checks a trail's hash chain in FILE; with a database, also the lines stored "
                  "for its machine (their columns, gaps, the chain, the shipment log) and, given "
                  "FILE too, that every stored line is FILE's line at its position, byte for "
                  "byte, and which of FILE's lines are not shipped yet. Without FILE, every "
                  "machine in the database (or --machine's) is checked.");
    command->add_option("FILE", o.file,
                        "the trail file: the current one stands for the whole trail, its rotated "
                        "files (found beside it by name) with it; a rotated one is checked alone");
    verify->database.Add(command);
    command->add_option("--machine", o.machine,
                        "the machine whose stored lines are checked (with FILE: the computer's "
                        "name unless given)");
    command->add_option("--unchained", o.unchained,
                        "accept exactly N lines without chain members before the chain (a trail "
                        "begun before chaining)")->type_name("N")->check(CLI::NonNegativeNumber);
    command->add_flag("--single", o.single, "check FILE alone, without the trail's rotated files");
    return {command, [verify] { return verify->Run(); }};
}

}  // namespace qz45trail
