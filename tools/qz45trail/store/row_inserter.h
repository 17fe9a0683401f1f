// What a shipper writes into the trail table: rows, in batches, in as few
// statements as it can.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "database.h"
#include "win_handle.h"

namespace qz45trail {

// Rows the server refused, as a whole: what() is "lines A-B: <the driver's
// words>". RowInserter::NameRefused, once the transaction they went in with
// is over, finds the row it refuses on its own.
class RowsRefused : public OdbcError {
public:
    RowsRefused(const std::string &what, const std::string &state, std::size_t end)
        : OdbcError(what, state), end_(end) {}
    // The rows up to the refused INSERT's last: the ones that went in with it.
    std::size_t End() const { return end_; }

private:
    std::size_t end_;
};

// Inserts rows into the trail table in as few statements as it can: up to
// kRowsPerInsert rows in one INSERT, their values bound as parameters. Keeps
// its statements prepared from one call to the next.
class RowInserter {
public:
    // The PostgreSQL client library takes the description of a statement's
    // parameters for a broken connection when it is longer than 30,000 bytes
    // (4 bytes a parameter): 250 rows of its stored columns stay below.
    static constexpr std::size_t kRowsPerInsert = 250;

    explicit RowInserter(const Database &db);
    ~RowInserter();  // waits for rows started and not finished (they must still be there)
    RowInserter(const RowInserter &) = delete;
    RowInserter &operator=(const RowInserter &) = delete;

    // Inserts rows in the caller's transaction, in two halves, so that the
    // caller can read the next lines while the server stores these: Start
    // returns once the rows go in on a thread of their own; until Finish (or
    // Wait, or the inserter's end), rows must stay as they are and the
    // connection unused. Finish waits for them and leaves the transaction
    // open: the caller commits. A failure that waiting may mend
    // (OdbcError::Transient) throws as it came, with "lines A-B: " in front;
    // any other throws RowsRefused.
    void Start(const std::vector<Row> &rows);
    void Finish();
    // Waits for the rows started, saying nothing of how it went (Finish
    // still does): the connection is the caller's again.
    void Wait() const;

    // Once the transaction that refused the rows is over (rolled back):
    // inserts them again one by one, in a transaction of their own that is
    // rolled back, and throws OdbcError "line N: <the driver's words for that
    // row>" for the first the server refuses (refused as it was when it
    // refuses none on its own).
    [[noreturn]] void NameRefused(const std::vector<Row> &rows, const RowsRefused &refused);

private:
    // The thread's start: the rows started, inserted.
    static unsigned __stdcall InsertOnThread(void *self);
    void InsertAll();
    void InsertMany(const std::vector<Row> &rows, std::size_t first, std::size_t count);

    const Database &db_;
    OdbcStatement manyRowsInsert_;
    std::size_t manyRows_ = 0;  // rows of the INSERT prepared in manyRowsInsert_ (0: none yet)
    OdbcStatement oneRowInsert_;
    bool oneRowPrepared_ = false;

    // The rows started, their thread, and how it ended (read once it has).
    const std::vector<Row> *started_ = nullptr;
    UniqueHandle thread_;
    bool failed_ = false, odbcFailure_ = false;
    std::string failure_, failureState_;
    std::size_t failedEnd_ = 0;  // the rows up to the failed INSERT's last
};

}  // namespace qz45trail
