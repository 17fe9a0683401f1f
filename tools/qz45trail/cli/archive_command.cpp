// qz45trail archive: the command line of taking months out of the trail
// table into files.
#include <memory>

#include "command.h"
#include "month_archive.h"

namespace qz45trail {

Command AddArchiveCommand(CLI::App *app) {
    auto archive = std::make_shared<DatabaseCommand<ArchiveOptions>>();
    ArchiveOptions &o = archive->options;
    CLI::App *command = app->add_subcommand(
        "archive", "Archives the months of the trail table before --before (by the month its "
                   "rows went in), oldest first: each machine's lines of a month as a trail file "
                   "in DIR\\<machine>\\ (the files of its months, and an empty current file "
                   "audit-trail.jsonl, read as one trail, which verify checks offline), and DIR\\manifest-<month>.json with each file's SHA-256 and "
                   "first and last line and hash. Only once the files match the table byte for "
                   "byte is the month taken out of it (kept as a table of its own; restore puts "
                   "it back); with --drop it is dropped after a second comparison. Each step is "
                   "recorded in audit_trail_archives. Run as the tables' owner.");
    command->add_option("DIR", o.folder, "the archive's folder")->required();
    archive->database.Add(command);
    command->add_option("--before", o.before, "the first month kept in the table")
        ->type_name("YYYY-MM")->required();
    command->add_flag("--drop", o.drop, "drop each month's table once it is out and checked again");
    return DatabaseCommand<ArchiveOptions>::Make(command, archive, "archive", ArchiveMonths);
}

}  // namespace qz45trail
