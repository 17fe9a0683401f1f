// Why shipping stops or starts over, as its steps throw it; Ship decides
// what follows each (a database's failures are OdbcError).
#pragma once

#include <stdexcept>

namespace qz45trail {

// Refusing to go on: the file and the database disagree, a line is not a
// trail line, the file was replaced. Never retried.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The file could not be read. A follower tries again.
struct ReadFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What is stored is no longer what this shipper knows: another shipper of
// the machine stored lines, or lines ahead were pruned. The stored lines are
// read again, checked against the file, and shipping goes on after them.
struct Resync : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace qz45trail
