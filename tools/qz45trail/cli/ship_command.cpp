// qz45trail ship: the command line of the shipper.
#include <memory>

#include "command.h"
#include "ship.h"

namespace qz45trail {

Command AddShipCommand(CLI::App *app) {
    auto ship = std::make_shared<DatabaseCommand<ShipOptions>>();
    ShipOptions &o = ship->options;
    CLI::App *command = app->add_subcommand(
        "ship", "Stores the lines of FILE that the database does not hold yet in its table "
                "audit_trail (created when missing), in order, exactly once, each batch logged in "
                "audit_trail_shipments. First checks that the stored lines are FILE's, and refuses "
                "a trail that another machine's rows hold already (naming it). --follow "
                "keeps shipping what is appended until stopped: it waits for a trail that does "
                "not exist yet, retries a lost connection with back-off, and stops when FILE is "
                "replaced, removed or cut short.");
    command->add_option("FILE", o.file, "the trail file")->required();
    ship->database.Add(command);
    AddMachineOption(command, &o.machine);
    command->add_flag("--follow", o.follow, "keep shipping what is appended");
    command->add_option("--log", o.log,
                        "append what happens (the start, each batch, retries, the end, a failure) "
                        "to FILE as timestamped lines, for a shipper nobody watches; a failure also "
                        "goes to the Application event log (source qz45trail)")
        ->type_name("FILE");
    return DatabaseCommand<ShipOptions>::Make(command, ship, "ship", Ship);
}

}  // namespace qz45trail
