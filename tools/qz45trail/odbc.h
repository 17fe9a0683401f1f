// ODBC through the system's driver manager (odbc32), the wide-character
// functions only, every handle owned by a small object. Failures throw
// OdbcError carrying the driver's diagnostics.
#pragma once

#include <windows.h>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <deque>
#include <stdexcept>
#include <string>

#include "win_text.h"

namespace qz45trail {

class OdbcError : public std::runtime_error {
public:
    OdbcError(const std::string &what, const std::string &state)
        : std::runtime_error(what), state_(state) {}
    // The SQLSTATE of the first diagnostic record ("" when there was none).
    const std::string &State() const { return state_; }
    // Whether waiting may mend it: the connection (08), a transaction the
    // server rolled back (40), a time-out (HYT), the server shutting down or
    // restarting (57P).
    bool Transient() const;

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
    void Commit() const;
    void Rollback() const;
    const OdbcHandle &Handle() const { return dbc_; }

private:
    OdbcHandle env_;
    OdbcHandle dbc_;
    bool connected_ = false;
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

private:
    OdbcHandle stmt_;
    std::deque<std::wstring> texts_;
    std::deque<SQLBIGINT> integers_;
    std::deque<SQL_TIMESTAMP_STRUCT> times_;
    std::deque<SQLLEN> indicators_;
};

}  // namespace qz45trail
