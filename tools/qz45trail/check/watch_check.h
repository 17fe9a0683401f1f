// One full check of a machine's stored rows for the review page: what
// `verify --odbc` judges (StoredRowsCheck), and the line numbers seen, read
// to the end even after a finding so that every stored row is counted.
#pragma once

#include <atomic>
#include <string>

#include "database.h"
#include "findings.h"
#include "line_census.h"

namespace qz45trail {

struct MachineCheck {
    Findings found;
    LineCensus census;
    long long badLine = 0;  // the row the check stopped at, 0 when none
    std::string archivedIn; // the manifest of the archive the rows go on from
};

// Checks one machine's rows against their lines, the shipment log and the
// chain; acceptUnchained as verify's --unchained (-1: none). Once *stop is
// set the check ends, failed. A failed query throws OdbcError.
MachineCheck CheckStoredMachine(const Database &db, const std::string &machine,
                                long long acceptUnchained, const std::atomic<bool> *stop);

}  // namespace qz45trail
