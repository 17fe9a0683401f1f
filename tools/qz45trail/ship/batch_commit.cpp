// One batch of rows into the database, in one transaction.
#include "batch_commit.h"

#include "line_range.h"
#include "ship_errors.h"

namespace qz45trail {

BatchCommit::BatchCommit(const Database &db, RowInserter *inserter, const std::string &machine,
                         const std::string &file, long long committedLines,
                         const std::vector<Row> &batch)
    : inserter_(*inserter), file_(file), committedLines_(committedLines), batch_(batch) {
    shipment_.emplace(db, machine);
    const long long stored = shipment_->StoredThrough();
    if (stored > committedLines_)
        throw Resync("another shipper stored " + LineRange(committedLines_ + 1, stored) +
                     " of machine " + machine + " meanwhile");
    inserter_.Start(batch_);
}

BatchCommit::~BatchCommit() {
    // The rows' thread lets go of the connection before the transaction ends.
    inserter_.Wait();
}

void BatchCommit::Commit() {
    try {
        try {
            inserter_.Finish();
        } catch (const RowsRefused &refused) {
            // The transaction the server refused them in is over first.
            shipment_.reset();
            inserter_.NameRefused(batch_, refused);
        }
    } catch (const OdbcError &e) {
        throw OdbcError(file_ + " " + e.what(), e.State());
    }
    shipment_->Log(committedLines_ + 1, batch_.back()[kLineNo].number,
                   batch_.back()[kLineSha256].text);
    shipment_->Commit();
}

}  // namespace qz45trail
