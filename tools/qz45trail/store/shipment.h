// One batch's transaction on the plant database, as the shipper holds it:
// the machine's shippers take turns in it, it reads what is stored, records
// the batch in the shipment log, and commits. Rolled back unless committed.
#pragma once

#include <string>

#include "database.h"
#include "transaction.h"

namespace qz45trail {

class Shipment {
public:
    // Begins the transaction with the machine's lock (PostgreSQL: an
    // advisory lock for the transaction): a second shipper of the machine
    // waits here until this one's batch is committed or rolled back.
    Shipment(const Database &db, const std::string &machine);
    Shipment(const Shipment &) = delete;
    Shipment &operator=(const Shipment &) = delete;

    // The last line number stored for the machine (0: none), under the lock.
    long long StoredThrough() const;

    // Records in the shipment log that lines first..last of the machine, the
    // last with the SHA-256 sha, went in with this transaction.
    void Log(long long first, long long last, const std::string &sha) const;

    // Commits the rows inserted meanwhile and the record; throws OdbcError
    // when the server refuses (then nothing of it stays).
    void Commit() { transaction_.Commit(); }

private:
    const Database &db_;
    const std::string machine_;
    Transaction transaction_;
};

}  // namespace qz45trail
