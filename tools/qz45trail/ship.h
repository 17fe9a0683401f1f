// qz45trail ship: store-and-forward of a machine's trail into the database.
#pragma once

#include <string>

namespace qz45trail {

struct ShipOptions {
    std::string connection;  // ODBC connection string
    std::string file;        // the trail
    std::string machine;     // "" for the computer's name
    bool follow = false;     // keep shipping what is appended, until killed
};

// Inserts every whole line of the trail that the database does not hold yet
// for this machine, in order, in transactions of at most kBatchLines lines.
// First checks that the lines the database holds are the file's lines at the
// same positions (by SHA-256), and refuses a file that is not the trail that
// was shipped. A line that is not a trail line stops it there, the lines
// before it shipped. With follow, a lost database is reconnected with
// back-off and the stored lines read again. 0 when done, 1 on any failure.
int Ship(const ShipOptions &options);

constexpr int kBatchLines = 500;

}  // namespace qz45trail
