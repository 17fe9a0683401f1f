// One full check of a machine's stored rows for the review page.
#include "watch_check.h"

#include <vector>

#include "check_queries.h"
#include "stored_check.h"
#include "stored_rows.h"
#include "stored_rows_check.h"
#include "transaction.h"

namespace qz45trail {

MachineCheck CheckStoredMachine(const Database &db, const std::string &machine,
                                long long acceptUnchained, const std::atomic<bool> *stop) {
    MachineCheck c;
    const std::vector<Shipment> log = ReadShipments(db, machine);
    StoredRowsCheck check(machine, log, acceptUnchained);
    c.census.StartAfter(StartAfterArchive(db, machine, &check, &c.archivedIn));
    {
        const Transaction read(db.connection);
        StoredRows rows(db, machine);  // ends before the transaction: its thread uses the connection
        bool judging = true;
        while (const StoredRow *row = rows.Next()) {
            if (stop->load()) {
                c.found.Fail("the check was stopped");
                return c;
            }
            const long long n = row->row[kLineNo].number;
            if (judging && !check.Add(row->row)) {
                judging = false;
                c.badLine = n == c.census.Last() + 1 ? n : c.census.Last() + 1;
            }
            c.census.Add(n);
        }
    }
    if (!log.empty()) c.census.Through(log.back().lastLine);
    c.found = check.Finish();
    return c;
}

}  // namespace qz45trail
