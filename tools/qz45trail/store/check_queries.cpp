// The stored check's queries: the machines, and a machine's shipment log.
#include "check_queries.h"

#include "tables.h"
#include "transaction.h"

namespace qz45trail {

std::vector<std::string> MachinesStoredOrLogged(const Database &db, const std::string &machine) {
    std::vector<std::string> machines;
    const Transaction read(db.connection);
    OdbcStatement list(db.connection);
    const std::string sql = std::string("SELECT machine FROM ") + kTrailTable +
                            " UNION SELECT machine FROM " + kShipmentsTable;
    list.Prepare(machine.empty() ? sql : "SELECT machine FROM (" + sql + ") m WHERE machine = ?");
    if (!machine.empty()) list.BindText(1, &machine);
    list.Execute();
    for (std::string m; list.Fetch();) {
        list.GetText(1, &m);
        machines.push_back(m);
    }
    return machines;
}

std::vector<Shipment> ReadShipments(const Database &db, const std::string &machine) {
    std::vector<Shipment> log;
    OdbcStatement select(db.connection);
    select.Prepare(std::string("SELECT last_line, last_sha256, shipped_at, first_line FROM ") +
                   kShipmentsTable + " WHERE machine = ? ORDER BY last_line");
    select.BindText(1, &machine);
    select.Execute();
    while (select.Fetch()) {
        Shipment s;
        SQL_TIMESTAMP_STRUCT at{};
        select.GetInteger(1, &s.lastLine);
        select.GetText(2, &s.lastSha256);
        s.firstLine = s.lastLine;
        select.GetInteger(4, &s.firstLine);
        if (select.GetTimestamp(3, &at)) s.shippedAt = UtcText(FromTimestamp(at));
        log.push_back(std::move(s));
    }
    return log;
}

}  // namespace qz45trail
