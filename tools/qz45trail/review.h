// qz45trail review: a local, read-only web page over the plant trail in the
// database, for the people who review it.
#pragma once

#include <string>

namespace qz45trail {

struct ReviewOptions {
    std::string connection;           // ODBC connection string
    std::string address = "127.0.0.1";
    unsigned short port = 8045;       // 0: one the system picks
};

// Serves the page until Ctrl-C; returns an exit code.
int Review(const ReviewOptions &options);

}  // namespace qz45trail
