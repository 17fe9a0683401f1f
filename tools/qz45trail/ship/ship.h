// qz45trail ship: store-and-forward of a machine's trail into the database.
#pragma once

#include <string>

namespace qz45trail {

struct ShipOptions {
    std::string connection;  // ODBC connection string
    std::string file;        // the trail
    std::string machine;     // "" for the computer's name
    bool follow = false;     // keep shipping what is appended, until killed
    std::string log;         // "" or a file to append what happens to
};

// Inserts every whole line of the trail that the database does not hold yet
// for this machine, in order, in transactions of at most kBatchLines lines,
// each logged in the shipment log in the same transaction. First checks that
// the lines the database holds are the file's lines at the same positions
// (by SHA-256), and refuses a file that is not the trail that was shipped. A
// line that is not a trail line stops it there, the lines before it shipped.
//
// With follow it waits for a trail that does not exist yet, ships lines as
// they are completed, across the trail's rotations, and stops only for
// tampering: the trail's name taken by a trail begun anew, a file cut short,
// a shipped line changed, files that overlap. Everything else is tried
// again, with back-off: the connection, a time-out, a server restarting, a
// file that cannot be read for now, files that do not follow on yet (said in
// the log while it lasts). A refused login stops it. Shippers of one machine
// take turns batch by batch (an advisory lock per transaction), and one that
// finds lines the other stored reads them again and goes on. Returns an exit
// code.
//
// Before the first line of a trail goes in under a machine that holds none
// yet, it refuses a trail that another machine's rows already hold: its
// first chained line (or, with none among the first lines, its first line)
// stored at the same position for another machine.
//
// With a log file it appends timestamped lines there (the start, each batch,
// each retry, the end, a failure); a failure that stops it also goes to the
// Application event log. Progress goes to a console as one line rewritten,
// elsewhere as a plain line now and then.
int Ship(const ShipOptions &options);

constexpr int kBatchLines = 500;

}  // namespace qz45trail
