// qz45trail schema: the database's tables as SQL, for an administrator to run.
#include <cstdio>
#include <memory>

#include "command.h"
#include "exit_codes.h"
#include "schema.h"

namespace qz45trail {

Command AddSchemaCommand(CLI::App *app) {
    auto roles = std::make_shared<Roles>();
    CLI::App *command = app->add_subcommand(
        "schema", "Prints the SQL (PostgreSQL) that creates the tables, their indexes and the "
                  "triggers that refuse UPDATE, DELETE and TRUNCATE; with role names, the grants "
                  "of the plant set-up.");
    command->add_option("--shipper", roles->shipper,
                        "the role that ships: SELECT and INSERT on the trail only");
    command->add_option("--auditor", roles->auditor, "the role that reads: SELECT only");
    command->add_option("--reviewer", roles->reviewer,
                        "the role of the review page: SELECT, and INSERT on the reviews only");
    return {command, [roles] {
                std::printf("-- The plant database's audit trail tables (PostgreSQL), as qz45trail "
                            "ship\n-- creates them when they are missing, with the plant set-up's "
                            "grants.\n-- Run as the role that is to own them (not the shipper's), "
                            "e.g. psql -f.\n");
                for (const std::string &s : SchemaStatements(true, *roles))
                    std::printf("%s;\n", s.c_str());
                return kExitOk;
            }};
}

}  // namespace qz45trail
