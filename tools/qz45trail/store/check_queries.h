// What the stored check asks of the plant database: the machines it holds,
// and a machine's shipment log.
#pragma once

#include <string>
#include <vector>

#include "database.h"
#include "shipments.h"

namespace qz45trail {

// The machines with lines in the trail table or entries in the shipment log
// (machine "" for all, else that one if it has any), in no given order; the
// read is ended (rolled back).
std::vector<std::string> MachinesStoredOrLogged(const Database &db, const std::string &machine);

// A machine's shipment log, in order of the shipments' last lines.
std::vector<Shipment> ReadShipments(const Database &db, const std::string &machine);

}  // namespace qz45trail
