// One batch's transaction: the shippers' lock, what is stored, the shipment
// log's row.
#include "shipment.h"

#include "sha256.h"
#include "tables.h"

namespace qz45trail {
namespace {

// The key of the machine's advisory lock: the first 64 bits of a SHA-256
// of its name, the same in every shipper.
long long ShippersLockKey(const std::string &machine) {
    std::string sha;
    Sha256Hex("qz45trail ship " + machine, &sha);
    return static_cast<long long>(std::stoull(sha.substr(0, 16), nullptr, 16));
}

}  // namespace

Shipment::Shipment(const Database &db, const std::string &machine)
    : db_(db), machine_(machine), transaction_(db.connection) {
    if (!db_.postgres) return;
    const long long key = ShippersLockKey(machine_);
    OdbcStatement lock(db_.connection);
    lock.Run("SELECT pg_advisory_xact_lock(?)", key);
}

long long Shipment::StoredThrough() const {
    OdbcStatement select(db_.connection);
    select.Run(std::string("SELECT MAX(line_no) FROM ") + kTrailTable + " WHERE machine = ?",
               machine_);
    long long last = 0;
    if (!select.Fetch() || !select.GetInteger(1, &last)) last = 0;
    return last;
}

void Shipment::Log(long long first, long long last, const std::string &sha) const {
    OdbcStatement insert(db_.connection);
    insert.Run(std::string("INSERT INTO ") + kShipmentsTable +
                   " (machine, first_line, last_line, last_sha256) VALUES (?, ?, ?, ?)",
               machine_, first, last, sha);
}

}  // namespace qz45trail
