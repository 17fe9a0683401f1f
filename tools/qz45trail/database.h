// The plant database: the audit_trail table (one row per trail line) and its
// shipment log, created when missing, rows inserted and read back, and what
// qz45trail shows and checks there.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "odbc.h"
#include "table.h"
#include "trail_row.h"
#include "win_handle.h"

namespace qz45trail {

class LineSource;

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
// create a table that is missing, throws OdbcError saying so.
bool EnsureTables(const Database &db);

// A machine other than machine whose line lineNo is the line with SHA-256
// sha (the first in name order), "" when there is none. Rolls back.
std::string StoredElsewhere(const Database &db, const std::string &machine, long long lineNo,
                            const std::string &sha);

// The last line number stored for machine (0: none), read in the
// connection's transaction, which is left open.
long long StoredThrough(const Database &db, const std::string &machine);

// The INSERT of one row, parameters in column order.
std::string InsertSql(const Database &db);
void BindRow(OdbcStatement *insert, const Row &row);

// Inserts rows into the trail table in as few statements as it can: up to
// kRowsPerInsert rows in one INSERT, their values bound as parameters. Keeps
// its statements prepared from one call to the next.
class RowInserter {
public:
    // The PostgreSQL client library takes the description of a statement's
    // parameters for a broken connection when it is longer than 30,000 bytes
    // (4 bytes a parameter): 250 rows of 23 columns stay below.
    static constexpr std::size_t kRowsPerInsert = 250;

    explicit RowInserter(const Database &db);
    ~RowInserter();  // waits for rows started and not finished (they must still be there)
    RowInserter(const RowInserter &) = delete;
    RowInserter &operator=(const RowInserter &) = delete;

    // Inserts rows in the connection's transaction and leaves it open: the
    // caller commits. A failure that waiting may mend (OdbcError::Transient)
    // throws as it came, with "lines A-B: " in front. Any other rolls the
    // transaction back and inserts the rows again one by one, to find the
    // first the server refuses, then rolls back again and throws OdbcError
    // "line N: <the driver's words for that row>" (or "lines A-B: <the words
    // for all of them>" when no row is refused on its own).
    void Insert(const std::vector<Row> &rows);

    // Insert in two halves, so that the caller can read the next lines while
    // the server stores these: Start returns once the rows go in on a thread
    // of its own; until Finish (or the inserter's end), rows must stay as
    // they are and the connection unused. Finish waits for them and throws as
    // Insert does.
    void Start(const std::vector<Row> &rows);
    void Finish();

private:
    static unsigned __stdcall Run(void *self);
    void InsertAll();
    void InsertMany(const std::vector<Row> &rows, std::size_t first, std::size_t count);
    [[noreturn]] void FindRefused(const std::vector<Row> &rows, std::size_t end,
                                  const OdbcError &failure);

    const Database &db_;
    OdbcStatement many_;
    std::size_t manyRows_ = 0;  // rows of the INSERT prepared in many_ (0: none yet)
    OdbcStatement one_;
    bool onePrepared_ = false;

    // The rows started, their thread, and how it ended (read once it has).
    const std::vector<Row> *started_ = nullptr;
    UniqueHandle thread_;
    bool failed_ = false, odbcFailure_ = false;
    std::string failure_, failureState_;
    std::size_t failedEnd_ = 0;  // the rows up to the failed INSERT's last
};

// Records in the shipment log that lines first..last of machine, the last
// with the SHA-256 sha, went in with this transaction.
void LogShipment(const Database &db, const std::string &machine, long long first, long long last,
                 const std::string &sha);

// Prints the stored lines as the file view does, by machine and line: the
// rows the view's filter selects from the rows the stored lines make (exit
// code: 0, or 2 for a filter that does not read).
int PrintStoredTrail(const Database &db, const ViewOptions &options);

// Checks every machine's stored trail (or one machine's): the line numbers
// without gaps, each row's columns against its stored line, the chain with
// the file's rules, and the shipment log (a line logged as shipped that is
// no longer there was deleted). Prints one verdict per machine with its line
// count and when its last line was shipped; an exit code. Lines without
// chain members before the chain fail it (4) unless there are exactly
// acceptUnchained of them (-1: none accepted). Machines whose first chained
// line is the same line at the same position hold one trail: said, and
// left to the verdicts.
int VerifyStoredTrail(const Database &db, const std::string &machine, long long acceptUnchained);

// The same for one machine, with its trail file(s) as a witness: every stored
// line from line witnessFrom on (the first line the files still hold; those
// before it were pruned) must be the file's line at its position, byte for
// byte; the file's lines beyond them are reported as not shipped yet. file
// reads the trail from line witnessFrom; fileName names it in what is printed.
int VerifyStoredAgainstFile(const Database &db, const std::string &machine, LineSource *file,
                            long long witnessFrom, const std::string &fileName,
                            long long acceptUnchained);

}  // namespace qz45trail
