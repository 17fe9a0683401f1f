// ODBC through the system's driver manager (odbc32), the wide-character
// functions only, every handle owned by a small object. Failures throw
// OdbcError carrying the driver's diagnostics.
#pragma once

#include <windows.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstddef>
#include <deque>
#include <stdexcept>
#include <string>
#include <vector>

#include "win_text.h"

namespace qz45trail {

class Transaction;

class OdbcError : public std::runtime_error {
public:
    OdbcError(const std::string &what, const std::string &state)
        : std::runtime_error(what), state_(state) {}
    // The SQLSTATE of the first diagnostic record ("" when there was none).
    const std::string &State() const { return state_; }
    // Whether waiting may mend it: the connection (08), a transaction the
    // server rolled back (40), a time-out (HYT), the server shutting down or
    // restarting (57P), a connection the driver found lost; never a refused
    // login.
    bool Transient() const;
    // Whether the server refused the login: SQLSTATE 28xxx, or the words of
    // the PostgreSQL driver, which reports a refused password, a role or a
    // database that is not there, and a client the server does not admit as
    // 08001, like a server it cannot reach.
    bool LoginRefused() const;
    // Whether a statement ran out of its time (SetQueryTimeout): the
    // driver's time-out (HYT00) or the server's cancelling it (57014).
    bool TimedOut() const;

private:
    std::string state_;
};

class OdbcHandle {
public:
    OdbcHandle() = default;
    OdbcHandle(SQLSMALLINT type, SQLHANDLE parent);
    ~OdbcHandle();
    OdbcHandle(const OdbcHandle &) = delete;
    OdbcHandle &operator=(const OdbcHandle &) = delete;
    SQLHANDLE Get() const { return handle_; }
    SQLSMALLINT Type() const { return type_; }
    // Throws OdbcError "<what>: <diagnostics>" when ret is a failure.
    void Check(SQLRETURN ret, const char *what) const;

private:
    SQLSMALLINT type_ = 0;
    SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

class OdbcConnection {
public:
    // Connects through a connection string, without prompting; autocommit off.
    explicit OdbcConnection(const std::string &connectionString);
    ~OdbcConnection();  // rolls back what was not committed and disconnects
    OdbcConnection(const OdbcConnection &) = delete;
    OdbcConnection &operator=(const OdbcConnection &) = delete;

    std::string DbmsName() const;
    const OdbcHandle &Handle() const { return dbc_; }

    // Seconds each statement made from now on may take before it fails
    // with an error that is TimedOut(); 0 (the default): no limit.
    void SetQueryTimeout(unsigned seconds) { queryTimeout_ = seconds; }
    unsigned QueryTimeout() const { return queryTimeout_; }

private:
    // A transaction ends through Transaction (transaction.h) only.
    friend class Transaction;
    void Commit() const;
    void Rollback() const;

    OdbcHandle env_;
    OdbcHandle dbc_;
    bool connected_ = false;
    unsigned queryTimeout_ = 0;
};

class OdbcStatement {
public:
    explicit OdbcStatement(const OdbcConnection &connection);
    void Prepare(const std::string &sql);
    void Execute();
    void ExecDirect(const std::string &sql);
    bool Fetch();
    void CloseCursor();

    // Parameters by number from 1, each value kept here until the next
    // ClearParameters; a null pointer binds NULL. Texts go as UTF-16.
    void ClearParameters();
    void BindText(SQLUSMALLINT n, const std::string *utf8);
    void BindInteger(SQLUSMALLINT n, const long long *value);
    void BindTimestamp(SQLUSMALLINT n, const SQL_TIMESTAMP_STRUCT *value);

    // Columns of the current row by number from 1; false when NULL.
    bool GetText(SQLUSMALLINT column, std::string *utf8);
    bool GetInteger(SQLUSMALLINT column, long long *value);
    bool GetTimestamp(SQLUSMALLINT column, SQL_TIMESTAMP_STRUCT *value);

    // Prepares sql, binds values (texts as std::string, numbers as long
    // long) as its parameters from 1 on, and executes it.
    template <typename... Values>
    void Run(const std::string &sql, const Values &...values) {
        Prepare(sql);
        ClearParameters();
        SQLUSMALLINT n = 0;
        (Bind(++n, values), ...);
        Execute();
    }

    const OdbcHandle &Handle() const { return stmt_; }

private:
    void Bind(SQLUSMALLINT n, const std::string &utf8) { BindText(n, &utf8); }
    void Bind(SQLUSMALLINT n, const long long &value) { BindInteger(n, &value); }

    // The values of the parameters bound, each pinned where the driver was
    // told to find it until ClearParameters, which keeps the places (and the
    // room of their texts) for the next.
    template <typename T>
    class PinnedValues {
    public:
        T &NextPlace() {
            if (used_ == items_.size()) items_.emplace_back();
            return items_[used_++];
        }
        void ReuseAll() { used_ = 0; }

    private:
        std::deque<T> items_;
        std::size_t used_ = 0;
    };

    OdbcHandle stmt_;
    PinnedValues<std::wstring> texts_;
    PinnedValues<SQLBIGINT> integers_;
    PinnedValues<SQL_TIMESTAMP_STRUCT> times_;
    PinnedValues<SQLLEN> indicators_;
};

// What a result column is read as by OdbcRowBlock.
enum class OdbcType { kText, kInteger, kTimestamp };

// A result read a block of rows per fetch: each column bound to an array of
// its own, all filled by one call into the driver, rather than one call per
// value. A text longer than its column's room is read whole when asked for.
// Binds on construction, before the statement is executed; unbinds when
// destroyed. The statement must outlive it.
class OdbcRowBlock {
public:
    struct Column {
        OdbcType type;
        std::size_t room;  // texts: UTF-16 units a value may have without a second read
    };
    // The result's columns, numbered from 1 in the order given; rows per block.
    OdbcRowBlock(OdbcStatement *statement, const std::vector<Column> &columns, std::size_t rows);
    ~OdbcRowBlock();
    OdbcRowBlock(const OdbcRowBlock &) = delete;
    OdbcRowBlock &operator=(const OdbcRowBlock &) = delete;

    // The next block of rows of the executed statement; false at the end.
    bool Fetch();
    // Rows in the block fetched last.
    std::size_t Rows() const { return static_cast<std::size_t>(fetched_); }

    // The value of a column (from 1) in a row of the block (from 0); false
    // when NULL.
    bool Text(std::size_t row, SQLUSMALLINT column, std::string *utf8);
    bool Integer(std::size_t row, SQLUSMALLINT column, long long *value) const;
    bool Timestamp(std::size_t row, SQLUSMALLINT column, SQL_TIMESTAMP_STRUCT *value) const;

private:
    struct Bound {
        OdbcType type;
        std::size_t room;              // texts: UTF-16 units, the terminator included
        std::vector<SQLWCHAR> texts;   // rows * room
        std::vector<SQLBIGINT> integers;
        std::vector<SQL_TIMESTAMP_STRUCT> times;
        std::vector<SQLLEN> indicators;
    };
    const Bound &At(SQLUSMALLINT column, OdbcType type) const;
    void Unbind();

    OdbcStatement &statement_;
    std::size_t rows_;
    std::vector<Bound> columns_;
    std::vector<SQLUSMALLINT> status_;
    SQLULEN fetched_ = 0;
};

// UTF-16 as UTF-8 into *utf8, whose room is kept for the next; an unpaired
// surrogate becomes U+FFFD, as with the system's conversion.
void Utf8Into(const SQLWCHAR *text, std::size_t length, std::string *utf8);

// Well-formed UTF-8 as UTF-16 into *wide, its room kept; false (and *wide
// unfinished) at the first byte that is not, which the system's conversion
// replaces as it sees fit.
bool WideInto(const std::string &utf8, std::wstring *wide);

}  // namespace qz45trail
