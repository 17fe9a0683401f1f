// The connection to the plant database, and UTC times as ODBC passes them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "odbc.h"
#include "trail_row.h"

namespace qz45trail {

// A connection and what the server is (PostgreSQL: jsonb for the whole line,
// a trigger that keeps rows from being changed or deleted).
struct Database {
    // Connects with line-end conversion switched off (LFConversion=0, which
    // the PostgreSQL driver on Windows turns on by default): texts come back
    // byte for byte. Other drivers ignore the keyword.
    explicit Database(const std::string &connectionString);
    OdbcConnection connection;
    bool postgres;
};

// A UTC time as ODBC passes it, and back.
SQL_TIMESTAMP_STRUCT Timestamp(const UtcTime &t);
UtcTime FromTimestamp(const SQL_TIMESTAMP_STRUCT &s);

// The connection string as Database connects with it.
std::string WithoutLineEndConversion(const std::string &connectionString);

}  // namespace qz45trail
