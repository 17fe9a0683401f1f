// Archiving months of the trail table: each machine's lines of a month
// written as a trail file of its own, checked against the table byte for
// byte, then the month taken out of the table (and dropped, if asked);
// and a month taken out put back.
#pragma once

#include <string>

namespace qz45trail {

struct ArchiveOptions {
    std::string connection;  // ODBC connection string (the tables' owner)
    std::string folder;      // where the files and manifests go
    std::string before;      // "2026-01": the months before it
    bool drop = false;       // drop each month's table once out and checked again
};

// Archives the months before options.before, oldest first; the exit code.
int ArchiveMonths(const ArchiveOptions &options);

struct RestoreOptions {
    std::string connection;
    std::string month;  // "2026-01"
};

// Puts a month taken out by an archive back into the table; the exit code.
int RestoreMonth(const RestoreOptions &options);

}  // namespace qz45trail
