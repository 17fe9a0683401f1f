// One batch of rows into the database, in one transaction: the machine's
// shippers take turns, what another stored meanwhile is looked for, the rows
// go in, the shipment log records them, and it commits.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "database.h"
#include "row_inserter.h"
#include "shipment.h"

namespace qz45trail {

class BatchCommit {
public:
    // Takes the machine's turn (a second shipper of the machine waits until
    // this batch is committed or rolled back) and starts the rows on their
    // way in; the caller may read on meanwhile, the connection left alone.
    // Lines past committedLines stored meanwhile by another shipper throw
    // Resync: this one reads them again before it ships on. The batch (not
    // empty) and the inserter must outlive this.
    BatchCommit(const Database &db, RowInserter *inserter, const std::string &machine,
                const std::string &file, long long committedLines, const std::vector<Row> &batch);
    // Waits for the rows; what was not committed is rolled back.
    ~BatchCommit();
    BatchCommit(const BatchCommit &) = delete;
    BatchCommit &operator=(const BatchCommit &) = delete;

    // Waits for the rows, records the batch in the shipment log and commits.
    // A failure throws OdbcError with the file's name in front; rows the
    // server refuses name the first line it refuses on its own.
    void Commit();

private:
    RowInserter &inserter_;
    const std::string file_;
    const long long committedLines_;
    const std::vector<Row> &batch_;
    std::optional<Shipment> shipment_;
};

}  // namespace qz45trail
