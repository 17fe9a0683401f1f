// The check of what the plant database holds for a machine: its rows and
// its shipment log read from the database, and judged by StoredRowsCheck.
#include "stored_check.h"

#include <algorithm>
#include <vector>

#include "archive_queries.h"
#include "check_queries.h"
#include "stored_rows.h"
#include "stored_rows_check.h"
#include "tables.h"
#include "transaction.h"

namespace qz45trail {
namespace {

// One machine's stored rows fed to check, in line order. The read is ended
// when the rows are all in; a finding on a row ends it sooner.
void FeedRows(const Database &db, const std::string &machine, StoredRowsCheck *check) {
    const Transaction read(db.connection);
    StoredRows rows(db, machine);  // ends before the transaction: its thread uses the connection
    while (const StoredRow *row = rows.Next())
        if (!check->Add(row->row)) return;
}

}  // namespace

long long StartAfterArchive(const Database &db, const std::string &machine,
                            StoredRowsCheck *check, std::string *manifest) {
    for (const ArchivedEnd &e : ArchivedEnds(db))
        if (e.machine == machine) {
            check->StartAfter(e.last, e.hash, "manifest " + e.manifest);
            if (manifest != nullptr) *manifest = "manifest " + e.manifest;
            return e.last;
        }
    return 0;
}

namespace {

// One machine's stored trail, with its file as a witness when there is one.
Findings CheckMachine(const Database &db, const std::string &machine, LineSource *file,
                      long long witnessFrom, const std::string &fileName,
                      long long acceptUnchained, FirstChained *first = nullptr) {
    StoredRowsCheck check(machine, ReadShipments(db, machine), acceptUnchained);
    StartAfterArchive(db, machine, &check);
    if (file != nullptr) check.UseWitness(file, witnessFrom, fileName);
    FeedRows(db, machine, &check);
    Findings found = check.Finish();
    if (first != nullptr) *first = check.First();
    return found;
}

// Every machine's (or one machine's) stored trail; a query that fails throws.
void CheckMachines(const Database &db, const std::string &machine, long long acceptUnchained,
                   Findings *out) {
    std::vector<std::string> machines = MachinesStoredOrLogged(db, machine);
    if (machines.empty()) {
        out->Add(machine.empty() ? kTrailTable : machine, "no lines in the database",
                 kExitBroken);
        return;
    }
    std::sort(machines.begin(), machines.end());
    SharedTrails shared;
    for (const std::string &each : machines) {
        FirstChained first;
        out->Append(CheckMachine(db, each, nullptr, 1, "", acceptUnchained, &first));
        shared.Add(each, first, out);
    }
}

}  // namespace

Findings VerifyStoredTrail(const Database &db, const std::string &machine,
                           long long acceptUnchained) {
    Findings found;
    try {
        CheckMachines(db, machine, acceptUnchained, &found);
    } catch (const OdbcError &e) {
        found.Fail(e.what());
    }
    return found;
}

Findings VerifyStoredAgainstFile(const Database &db, const std::string &machine, LineSource *file,
                                 long long witnessFrom, const std::string &fileName,
                                 long long acceptUnchained) {
    try {
        return CheckMachine(db, machine, file, witnessFrom, fileName, acceptUnchained);
    } catch (const OdbcError &e) {
        Findings found;
        found.Fail(e.what());
        return found;
    }
}

}  // namespace qz45trail
