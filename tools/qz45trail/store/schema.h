// The plant database's tables, their indexes, triggers and grants.
#pragma once

#include <string>
#include <vector>

#include "database.h"

namespace qz45trail {

// The roles of the plant set-up; "" for a role that is not granted anything.
struct Roles {
    std::string shipper;   // SELECT and INSERT on the trail and its shipment log
    std::string auditor;   // SELECT on everything
    std::string reviewer;  // SELECT on everything, INSERT on the reviews
};

// The statements that make the tables, their indexes and (PostgreSQL) the
// triggers that refuse UPDATE, DELETE and TRUNCATE, and the table of reviews
// (PostgreSQL), whose rows get the database user and the time from the
// server; then the grants of the roles given.
std::vector<std::string> SchemaStatements(bool postgres, const Roles &roles);

// Creates the tables unless they are there, and commits; true when it made
// them (owned by this role). A role that may not read the table, or cannot
// create a table that is missing, or a table of the earlier release, throws
// OdbcError saying so.
bool EnsureTables(const Database &db);

// Makes this month's partition of the trail table and the next ones when
// missing (PostgreSQL; a database without them, or a role that may not make
// them, is left as it is). Commits.
void MakeMonths(const Database &db);

// The trail table's stored columns, in order, as a list for SQL, and how
// many they are.
std::string ColumnList();
std::size_t StoredColumnCount();

}  // namespace qz45trail
