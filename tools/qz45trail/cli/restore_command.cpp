// qz45trail restore: the command line of putting an archived month back
// into the trail table.
#include <memory>

#include "command.h"
#include "month_archive.h"

namespace qz45trail {

Command AddRestoreCommand(CLI::App *app) {
    auto restore = std::make_shared<DatabaseCommand<RestoreOptions>>();
    RestoreOptions &o = restore->options;
    CLI::App *command = app->add_subcommand(
        "restore", "Puts MONTH, taken out of the trail table by archive (and not dropped), back "
                   "into it, and records that in audit_trail_archives. Run as the tables' owner.");
    command->add_option("MONTH", o.month, "the month")->type_name("YYYY-MM")->required();
    restore->database.Add(command);
    return DatabaseCommand<RestoreOptions>::Make(command, restore, "restore", RestoreMonth);
}

}  // namespace qz45trail
