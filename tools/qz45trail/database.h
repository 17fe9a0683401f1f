// The audit_trail table: created when missing, rows inserted and read back,
// and the two views of it that qz45trail gives (the table, verify).
#pragma once

#include <string>

#include "odbc.h"
#include "trail_row.h"

namespace qz45trail {

// A connection and what the server is (PostgreSQL: jsonb for the whole line).
struct Database {
    explicit Database(const std::string &connectionString);
    OdbcConnection connection;
    bool postgres;
};

// Creates the table and its indexes unless they are there; commits.
void EnsureTable(const Database &db);

// The INSERT of one row, parameters in column order.
std::string InsertSql(const Database &db);
void BindRow(OdbcStatement *insert, const Row &row);

// What the table view selects; empty strings select everything.
struct TrailFilter {
    std::string machine, since, until, user, descriptor, type;
};

// Prints the stored lines as the file view does, by machine and line (exit
// code: 0, or 2 for a filter that does not read).
int PrintStoredTrail(const Database &db, const TrailFilter &filter);

// Checks every machine's stored trail (or one machine's): the chain with the
// file's rules, the line numbers without gaps, and each row's columns against
// its stored line. Prints one verdict per machine; 0 when all are intact.
int VerifyStoredTrail(const Database &db, const std::string &machine);

}  // namespace qz45trail
