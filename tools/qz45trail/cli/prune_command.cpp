// qz45trail prune: the command line of the removal of rotated files the
// database holds.
#include <memory>

#include "command.h"
#include "prune.h"

namespace qz45trail {

Command AddPruneCommand(CLI::App *app) {
    auto prune = std::make_shared<DatabaseCommand<PruneOptions>>();
    PruneOptions &o = prune->options;
    CLI::App *command = app->add_subcommand(
        "prune", "Removes the oldest rotated files of the trail whose current file is FILE, one "
                 "after another, as long as the database holds every line of each for the "
                 "machine, byte for byte at its position, and (with --keep-days) its last line "
                 "is older than N days. Never the current file, nor a file after one that is "
                 "kept. Each file is recorded in <trail>.pruned<extension> (its name, its lines, "
                 "its last line's hash) before it goes, so that verify still checks what remains "
                 "as one chain.");
    command->add_option("FILE", o.file, "the trail's current file")->required();
    prune->database.Add(command);
    AddMachineOption(command, &o.machine);
    command->add_option("--keep-days", o.keepDays,
                        "keep files whose last line is younger than N days")
        ->type_name("N")->check(CLI::NonNegativeNumber);
    command->add_option("--archive", o.archive, "move the files to FOLDER instead of deleting them")
        ->type_name("FOLDER");
    command->add_flag("--dry-run", o.dryRun, "say what would be pruned, change nothing");
    return DatabaseCommand<PruneOptions>::Make(command, prune, "prune", Prune);
}

}  // namespace qz45trail
