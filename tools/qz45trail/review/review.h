// qz45trail review: a local, read-only web page over the plant trail in the
// database, for the people who review it.
#pragma once

#include <string>

#include "watch_status.h"

namespace qz45trail {

struct ReviewOptions {
    std::string connection;           // ODBC connection string
    std::string address;              // "": a loopback address of its own, 127.a.b.c at random
    unsigned short port = 8045;       // 0: one the system picks
    unsigned queryTimeout = 20;       // seconds a statement may take; 0: no limit
    WatchOptions watch;               // the background checks
};

// Serves the page until Ctrl-C; returns an exit code.
int Review(const ReviewOptions &options);

}  // namespace qz45trail
