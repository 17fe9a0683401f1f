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
// they are completed, stops when the file is replaced, removed or cut short,
// and retries failures that waiting may mend (the connection, a time-out, a
// server restarting) with back-off, reading the stored lines again before it
// goes on. Any other failure stops it, naming the line. Returns an exit code.
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
