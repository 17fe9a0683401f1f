// What archiving a month of the trail table asks of the database: its
// months, each machine's run of lines in one, the lines themselves, taking
// a month out of the table and back, and the record of it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "database.h"
#include "month_window.h"

namespace qz45trail {

// A month of the trail table (its partition), by its first day.
struct TableMonth {
    std::string name;   // "audit_trail_2026_01"
    std::string month;  // "2026-01"
    UtcTime start, end;
};

// The months in the table (attached), in order; *others (when given) says
// whether a partition of it is not named by its month. The detached ones,
// by name.
std::vector<TableMonth> AttachedMonths(const OdbcConnection &connection, bool *others = nullptr);
bool DetachedMonth(const Database &db, const std::string &month, TableMonth *found);

// "2026-01" as a month of the table, false when it does not read.
bool MonthNamed(const std::string &month, TableMonth *m);

// One machine's lines in a month: from first to last, count of them.
struct MachineRun {
    std::string machine;
    long long first = 0, last = 0, count = 0;
};
std::vector<MachineRun> MachineRuns(const Database &db, const TableMonth &m);

// The first line of machine in the months after m's; 0 when none.
long long FirstLineAfter(const Database &db, const std::string &machine, const TableMonth &m);

// A machine's lines in a month, in order: its number, its submission (UTC
// text, "" when none) and its text. From the table, or (detached) from the
// month's own table.
void ForEachMonthLine(const Database &db, const TableMonth &m, bool detached,
                      const std::string &machine,
                      const std::function<void(long long, const std::string &,
                                               const std::string &)> &line);

// The month out of the table (kept as a table of its own), back in, or
// dropped once out; each in the caller's transaction.
void DetachMonth(const Database &db, const TableMonth &m);
void AttachMonth(const Database &db, const TableMonth &m);
void DropMonth(const Database &db, const TableMonth &m);

// An archive's record: what happened to a month ("archived", "dropped",
// "restored"), where its files are, its manifest's SHA-256 and, for each
// machine, its lines and last hash (JSON); the server adds who and when.
void RecordArchive(const Database &db, const TableMonth &m, const std::string &action,
                   const std::string &folder, const std::string &manifestSha256,
                   const std::string &machinesJson, const std::string &windowsUser);

// Where each machine's archived lines end, from the record: the last line
// and its hash, and the manifest that names them.
struct ArchivedEnd {
    std::string machine;
    long long last = 0;
    std::string hash, manifest;
};
std::vector<ArchivedEnd> ArchivedEnds(const Database &db);

}  // namespace qz45trail
