// ODBC through the driver manager: handles, diagnostics as OdbcError, statements
// with their parameters and columns, rows fetched in blocks, and the UTF-8 and
// UTF-16 conversions of the texts they carry.
#include "odbc.h"


namespace qz45trail {

bool OdbcError::LoginRefused() const {
    if (state_.compare(0, 2, "28") == 0) return true;
    const std::string text = what();
    for (const char *words : {"password authentication failed", "authentication failed for user",
                              "no pg_hba.conf entry", "no password supplied", "does not exist"})
        if (text.find(words) != std::string::npos &&
            (state_.compare(0, 2, "08") == 0 || state_.empty()))
            return true;
    return false;
}

bool OdbcError::Transient() const {
    const std::string &s = state_;
    if (LoginRefused()) return false;
    // The PostgreSQL driver says that the server went away with HY000 when
    // it finds out while preparing a statement.
    const std::string text = what();
    for (const char *words : {"connection has been lost", "server closed the connection",
                              "no connection to the server"})
        if (text.find(words) != std::string::npos) return true;
    return s.compare(0, 2, "08") == 0 || s.compare(0, 2, "40") == 0 ||
           s.compare(0, 3, "HYT") == 0 || s.compare(0, 3, "57P") == 0;
}

bool OdbcError::TimedOut() const {
    return state_.compare(0, 3, "HYT") == 0 || state_ == "57014";
}

namespace {

// Every diagnostic record of a handle as "[SQLSTATE] text", joined by "; ".
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle, std::string *firstState) {
    std::string all;
    for (SQLSMALLINT rec = 1; rec <= 10; ++rec) {
        SQLWCHAR state[6] = {};
        SQLWCHAR text[1024] = {};
        SQLINTEGER native = 0;
        SQLSMALLINT length = 0;
        const SQLRETURN ret = SQLGetDiagRecW(type, handle, rec, state, &native, text,
                                             static_cast<SQLSMALLINT>(sizeof text / sizeof *text),
                                             &length);
        if (!SQL_SUCCEEDED(ret)) break;
        // One line: the driver's line ends and tabs as single spaces.
        std::wstring message;
        for (const wchar_t *c = text; *c != L'\0'; ++c) {
            const bool space = *c == L'\n' || *c == L'\r' || *c == L'\t' || *c == L' ';
            if (!space) message.push_back(*c);
            else if (!message.empty() && message.back() != L' ') message.push_back(L' ');
        }
        while (!message.empty() && (message.back() == L' ' || message.back() == L';'))
            message.pop_back();
        const std::string s = Utf8(state, wcsnlen(state, 5));
        // The first state that is not a warning (01xxx) tells what failed.
        if (firstState != nullptr && (firstState->empty() || firstState->compare(0, 2, "01") == 0))
            *firstState = s;
        const std::string entry = "[" + s + "] " + Utf8(message.data(), message.size());
        if (all.find(entry) != std::string::npos) continue;
        if (!all.empty()) all += "; ";
        all += entry;
    }
    return all.empty() ? "no diagnostics from the driver" : all;
}

}  // namespace

OdbcHandle::OdbcHandle(SQLSMALLINT type, SQLHANDLE parent) : type_(type) {
    const SQLRETURN ret = SQLAllocHandle(type, parent, &handle_);
    if (!SQL_SUCCEEDED(ret)) {
        handle_ = SQL_NULL_HANDLE;
        std::string state;
        const std::string diag =
            parent == SQL_NULL_HANDLE
                ? "the ODBC driver manager is missing or failed"
                : Diagnostics(type == SQL_HANDLE_STMT ? SQL_HANDLE_DBC : SQL_HANDLE_ENV, parent,
                              &state);
        throw OdbcError("cannot allocate an ODBC handle: " + diag, state);
    }
}

OdbcHandle::~OdbcHandle() {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
}

void OdbcHandle::Check(SQLRETURN ret, const char *what) const {
    if (SQL_SUCCEEDED(ret) || ret == SQL_NO_DATA) return;
    std::string state;
    const std::string diag = Diagnostics(type_, handle_, &state);
    throw OdbcError(std::string(what) + ": " + diag, state);
}

namespace {

SQLHANDLE Odbc3Environment(const OdbcHandle &env) {
    env.Check(SQLSetEnvAttr(env.Get(), SQL_ATTR_ODBC_VERSION,
                            reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
              "cannot select ODBC 3");
    return env.Get();
}

}  // namespace

OdbcConnection::OdbcConnection(const std::string &connectionString)
    : env_(SQL_HANDLE_ENV, SQL_NULL_HANDLE), dbc_(SQL_HANDLE_DBC, Odbc3Environment(env_)) {
    dbc_.Check(SQLSetConnectAttrW(dbc_.Get(), SQL_ATTR_LOGIN_TIMEOUT,
                                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(15)),
                                  SQL_IS_UINTEGER),
               "cannot set the login time-out");
    std::wstring in = Wide(connectionString);
    SQLWCHAR out[1024] = {};
    SQLSMALLINT outLength = 0;
    dbc_.Check(SQLDriverConnectW(dbc_.Get(), nullptr, &in[0], static_cast<SQLSMALLINT>(in.size()),
                                 out, static_cast<SQLSMALLINT>(sizeof out / sizeof *out),
                                 &outLength, SQL_DRIVER_NOPROMPT),
               "cannot connect to the database");
    connected_ = true;
    const SQLULEN autocommitOff = SQL_AUTOCOMMIT_OFF;
    dbc_.Check(SQLSetConnectAttrW(dbc_.Get(), SQL_ATTR_AUTOCOMMIT,
                                  reinterpret_cast<SQLPOINTER>(autocommitOff), SQL_IS_UINTEGER),
               "cannot switch autocommit off");
}

OdbcConnection::~OdbcConnection() {
    if (!connected_) return;
    SQLEndTran(SQL_HANDLE_DBC, dbc_.Get(), SQL_ROLLBACK);
    SQLDisconnect(dbc_.Get());
}

std::string OdbcConnection::DbmsName() const {
    SQLWCHAR name[256] = {};
    SQLSMALLINT length = 0;
    dbc_.Check(SQLGetInfoW(dbc_.Get(), SQL_DBMS_NAME, name, sizeof name, &length),
               "cannot ask for the DBMS name");
    return Utf8(name, wcsnlen(name, sizeof name / sizeof *name));
}

void OdbcConnection::Commit() const {
    dbc_.Check(SQLEndTran(SQL_HANDLE_DBC, dbc_.Get(), SQL_COMMIT), "commit failed");
}

void OdbcConnection::Rollback() const {
    dbc_.Check(SQLEndTran(SQL_HANDLE_DBC, dbc_.Get(), SQL_ROLLBACK), "rollback failed");
}

OdbcStatement::OdbcStatement(const OdbcConnection &connection)
    : stmt_(SQL_HANDLE_STMT, connection.Handle().Get()) {
    if (connection.QueryTimeout() != 0)
        stmt_.Check(SQLSetStmtAttrW(stmt_.Get(), SQL_ATTR_QUERY_TIMEOUT,
                                    reinterpret_cast<SQLPOINTER>(
                                        static_cast<SQLULEN>(connection.QueryTimeout())),
                                    0),
                    "cannot set a statement's time-out");
}

void OdbcStatement::Prepare(const std::string &sql) {
    std::wstring text = Wide(sql);
    stmt_.Check(SQLPrepareW(stmt_.Get(), &text[0], static_cast<SQLINTEGER>(text.size())),
                "cannot prepare a statement");
}

void OdbcStatement::Execute() { stmt_.Check(SQLExecute(stmt_.Get()), "a statement failed"); }

void OdbcStatement::ExecDirect(const std::string &sql) {
    std::wstring text = Wide(sql);
    stmt_.Check(SQLExecDirectW(stmt_.Get(), &text[0], static_cast<SQLINTEGER>(text.size())),
                "a statement failed");
}

bool OdbcStatement::Fetch() {
    const SQLRETURN ret = SQLFetch(stmt_.Get());
    stmt_.Check(ret, "cannot fetch a row");
    return ret != SQL_NO_DATA;
}

void OdbcStatement::CloseCursor() { SQLFreeStmt(stmt_.Get(), SQL_CLOSE); }

void OdbcStatement::ClearParameters() {
    SQLFreeStmt(stmt_.Get(), SQL_RESET_PARAMS);
    texts_.ReuseAll();
    integers_.ReuseAll();
    times_.ReuseAll();
    indicators_.ReuseAll();
}

void OdbcStatement::BindText(SQLUSMALLINT n, const std::string *utf8) {
    std::wstring &text = texts_.NextPlace();
    text.clear();
    if (utf8 != nullptr && !WideInto(*utf8, &text)) text = Wide(*utf8);
    const SQLLEN bytes = static_cast<SQLLEN>(text.size() * sizeof(wchar_t));
    SQLLEN &indicator = indicators_.NextPlace();
    indicator = utf8 != nullptr ? bytes : SQL_NULL_DATA;
    const SQLULEN size = text.empty() ? 1 : text.size();
    stmt_.Check(SQLBindParameter(stmt_.Get(), n, SQL_PARAM_INPUT, SQL_C_WCHAR,
                                 size > 4000 ? SQL_WLONGVARCHAR : SQL_WVARCHAR, size, 0,
                                 &text[0], bytes, &indicator),
                "cannot bind a text");
}

void OdbcStatement::BindInteger(SQLUSMALLINT n, const long long *value) {
    SQLBIGINT &pinned = integers_.NextPlace();
    pinned = value != nullptr ? *value : 0;
    SQLLEN &indicator = indicators_.NextPlace();
    indicator = value != nullptr ? 0 : SQL_NULL_DATA;
    stmt_.Check(SQLBindParameter(stmt_.Get(), n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                                 &pinned, 0, &indicator),
                "cannot bind a number");
}

void OdbcStatement::BindTimestamp(SQLUSMALLINT n, const SQL_TIMESTAMP_STRUCT *value) {
    SQL_TIMESTAMP_STRUCT &pinned = times_.NextPlace();
    pinned = value != nullptr ? *value : SQL_TIMESTAMP_STRUCT{};
    SQLLEN &indicator = indicators_.NextPlace();
    indicator = value != nullptr ? 0 : SQL_NULL_DATA;
    // "YYYY-MM-DD hh:mm:ss.fff": 23 characters, 3 digits of fraction.
    stmt_.Check(SQLBindParameter(stmt_.Get(), n, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP,
                                 SQL_TYPE_TIMESTAMP, 23, 3, &pinned, 0, &indicator),
                "cannot bind a time");
}

bool OdbcStatement::GetText(SQLUSMALLINT column, std::string *utf8) {
    std::wstring all;
    SQLWCHAR buffer[2048];
    for (;;) {
        SQLLEN indicator = 0;
        const SQLRETURN ret =
            SQLGetData(stmt_.Get(), column, SQL_C_WCHAR, buffer, sizeof buffer, &indicator);
        if (ret == SQL_NO_DATA) break;
        stmt_.Check(ret, "cannot read a text column");
        if (indicator == SQL_NULL_DATA) return false;
        const std::size_t room = sizeof buffer / sizeof *buffer - 1;
        const bool more = ret == SQL_SUCCESS_WITH_INFO &&
                          (indicator == SQL_NO_TOTAL ||
                           static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) > room);
        all.append(buffer, more ? room : static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR));
        if (!more) break;
    }
    Utf8Into(all.data(), all.size(), utf8);
    return true;
}

bool OdbcStatement::GetInteger(SQLUSMALLINT column, long long *value) {
    SQLBIGINT v = 0;
    SQLLEN indicator = 0;
    stmt_.Check(SQLGetData(stmt_.Get(), column, SQL_C_SBIGINT, &v, 0, &indicator),
                "cannot read a number column");
    if (indicator == SQL_NULL_DATA) return false;
    *value = v;
    return true;
}

bool OdbcStatement::GetTimestamp(SQLUSMALLINT column, SQL_TIMESTAMP_STRUCT *value) {
    SQLLEN indicator = 0;
    stmt_.Check(SQLGetData(stmt_.Get(), column, SQL_C_TYPE_TIMESTAMP, value, sizeof *value,
                           &indicator),
                "cannot read a time column");
    return indicator != SQL_NULL_DATA;
}

void Utf8Into(const SQLWCHAR *text, std::size_t length, std::string *utf8) {
    // ASCII, a byte a unit, as far as it goes.
    utf8->resize(length);
    std::size_t n = 0;
    for (char *out = &(*utf8)[0]; n < length && text[n] < 0x80; ++n)
        out[n] = static_cast<char>(text[n]);
    if (n == length) return;
    // Then at most 3 bytes for each unit: a pair of surrogates makes 4.
    utf8->resize(n + (length - n) * 3);
    char *out = &(*utf8)[0];
    for (std::size_t i = n; i < length; ++i) {
        unsigned long c = text[i];
        if (c < 0x80) {
            out[n++] = static_cast<char>(c);
            continue;
        }
        if (c < 0x800) {
            out[n++] = static_cast<char>(0xC0 | (c >> 6));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
            out[n++] = static_cast<char>(0xF0 | (c >> 18));
            out[n++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out[n++] = static_cast<char>(0x80 | (c & 0x3F));
            continue;
        }
        if (c >= 0xD800 && c <= 0xDFFF) c = 0xFFFD;
        out[n++] = static_cast<char>(0xE0 | (c >> 12));
        out[n++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[n++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    utf8->resize(n);
}

bool WideInto(const std::string &utf8, std::wstring *wide) {
    const auto *p = reinterpret_cast<const unsigned char *>(utf8.data());
    const std::size_t size = utf8.size();
    // No more units than bytes.
    wide->resize(size);
    wchar_t *out = size > 0 ? &(*wide)[0] : nullptr;
    std::size_t n = 0;
    const auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
    for (std::size_t i = 0; i < size;) {
        const unsigned b0 = p[i];
        if (b0 < 0x80) {
            out[n++] = static_cast<wchar_t>(b0);
            ++i;
            continue;
        }
        const unsigned b1 = i + 1 < size ? p[i + 1] : 0, b2 = i + 2 < size ? p[i + 2] : 0,
                       b3 = i + 3 < size ? p[i + 3] : 0;
        unsigned long c = 0;
        if (in(b0, 0xC2, 0xDF) && in(b1, 0x80, 0xBF)) {
            c = ((b0 & 0x1F) << 6) | (b1 & 0x3F);
            i += 2;
        } else if (((b0 == 0xE0 && in(b1, 0xA0, 0xBF)) ||
                    ((in(b0, 0xE1, 0xEC) || in(b0, 0xEE, 0xEF)) && in(b1, 0x80, 0xBF)) ||
                    (b0 == 0xED && in(b1, 0x80, 0x9F))) &&
                   in(b2, 0x80, 0xBF)) {
            c = ((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F);
            i += 3;
        } else if (((b0 == 0xF0 && in(b1, 0x90, 0xBF)) ||
                    (in(b0, 0xF1, 0xF3) && in(b1, 0x80, 0xBF)) ||
                    (b0 == 0xF4 && in(b1, 0x80, 0x8F))) &&
                   in(b2, 0x80, 0xBF) && in(b3, 0x80, 0xBF)) {
            c = ((b0 & 0x07UL) << 18) | ((b1 & 0x3FUL) << 12) | ((b2 & 0x3F) << 6) | (b3 & 0x3F);
            i += 4;
        } else {
            return false;
        }
        if (c >= 0x10000) {
            out[n++] = static_cast<wchar_t>(0xD800 + ((c - 0x10000) >> 10));
            out[n++] = static_cast<wchar_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
        } else {
            out[n++] = static_cast<wchar_t>(c);
        }
    }
    wide->resize(n);
    return true;
}

namespace {

void SetAttribute(const OdbcHandle &stmt, SQLINTEGER attribute, SQLPOINTER value) {
    stmt.Check(SQLSetStmtAttrW(stmt.Get(), attribute, value, 0),
               "cannot set up the fetching of rows in blocks");
}

}  // namespace

OdbcRowBlock::OdbcRowBlock(OdbcStatement *statement, const std::vector<Column> &columns,
                           std::size_t rows)
    : statement_(*statement), rows_(rows == 0 ? 1 : rows), status_(rows_) {
    columns_.resize(columns.size());
    for (std::size_t i = 0; i < columns.size(); ++i) {
        Bound &b = columns_[i];
        b.type = columns[i].type;
        b.room = columns[i].room + 1;
        b.indicators.resize(rows_);
        if (b.type == OdbcType::kText) b.texts.resize(rows_ * b.room);
        if (b.type == OdbcType::kInteger) b.integers.resize(rows_);
        if (b.type == OdbcType::kTimestamp) b.times.resize(rows_);
    }
    const OdbcHandle &stmt = statement_.Handle();
    try {
        SetAttribute(stmt, SQL_ATTR_ROW_BIND_TYPE,
                     reinterpret_cast<SQLPOINTER>(SQL_BIND_BY_COLUMN));
        SetAttribute(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(rows_));
        SetAttribute(stmt, SQL_ATTR_ROW_STATUS_PTR, status_.data());
        SetAttribute(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched_);
        for (std::size_t i = 0; i < columns_.size(); ++i) {
            Bound &b = columns_[i];
            const SQLUSMALLINT n = static_cast<SQLUSMALLINT>(i + 1);
            SQLRETURN ret = SQL_ERROR;
            switch (b.type) {
            case OdbcType::kText:
                ret = SQLBindCol(stmt.Get(), n, SQL_C_WCHAR, b.texts.data(),
                                 static_cast<SQLLEN>(b.room * sizeof(SQLWCHAR)),
                                 b.indicators.data());
                break;
            case OdbcType::kInteger:
                ret = SQLBindCol(stmt.Get(), n, SQL_C_SBIGINT, b.integers.data(), 0,
                                 b.indicators.data());
                break;
            case OdbcType::kTimestamp:
                ret = SQLBindCol(stmt.Get(), n, SQL_C_TYPE_TIMESTAMP, b.times.data(),
                                 sizeof(SQL_TIMESTAMP_STRUCT), b.indicators.data());
                break;
            }
            stmt.Check(ret, "cannot bind a column");
        }
    } catch (...) {
        Unbind();
        throw;
    }
}

OdbcRowBlock::~OdbcRowBlock() { Unbind(); }

void OdbcRowBlock::Unbind() {
    // The statement forgets the buffers before they go.
    const SQLHANDLE stmt = statement_.Handle().Get();
    SQLFreeStmt(stmt, SQL_UNBIND);
    SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_ARRAY_SIZE, reinterpret_cast<SQLPOINTER>(1), 0);
    SQLSetStmtAttrW(stmt, SQL_ATTR_ROW_STATUS_PTR, nullptr, 0);
    SQLSetStmtAttrW(stmt, SQL_ATTR_ROWS_FETCHED_PTR, nullptr, 0);
}

bool OdbcRowBlock::Fetch() {
    fetched_ = 0;
    const OdbcHandle &stmt = statement_.Handle();
    const SQLRETURN ret = SQLFetch(stmt.Get());
    stmt.Check(ret, "cannot fetch a row");
    if (ret == SQL_NO_DATA) {
        fetched_ = 0;
        return false;
    }
    if (fetched_ > rows_) fetched_ = rows_;
    for (std::size_t i = 0; i < Rows(); ++i)
        if (status_[i] == SQL_ROW_ERROR) stmt.Check(SQL_ERROR, "cannot fetch a row");
    return fetched_ > 0;
}

const OdbcRowBlock::Bound &OdbcRowBlock::At(SQLUSMALLINT column, OdbcType type) const {
    if (column < 1 || column > columns_.size() || columns_[column - 1].type != type)
        throw std::logic_error("a column read as what it was not bound as");
    return columns_[column - 1];
}

bool OdbcRowBlock::Text(std::size_t row, SQLUSMALLINT column, std::string *utf8) {
    const Bound &b = At(column, OdbcType::kText);
    const SQLLEN indicator = b.indicators[row];
    if (indicator == SQL_NULL_DATA) return false;
    if (indicator >= 0 && static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR) < b.room) {
        Utf8Into(&b.texts[row * b.room], static_cast<std::size_t>(indicator) / sizeof(SQLWCHAR),
                 utf8);
        return true;
    }
    // Longer than its room: read whole from the driver, at its row.
    const OdbcHandle &stmt = statement_.Handle();
    stmt.Check(SQLSetPos(stmt.Get(), static_cast<SQLSETPOSIROW>(row + 1), SQL_POSITION,
                         SQL_LOCK_NO_CHANGE),
               "cannot read a long text");
    return statement_.GetText(column, utf8);
}

bool OdbcRowBlock::Integer(std::size_t row, SQLUSMALLINT column, long long *value) const {
    const Bound &b = At(column, OdbcType::kInteger);
    if (b.indicators[row] == SQL_NULL_DATA) return false;
    *value = b.integers[row];
    return true;
}

bool OdbcRowBlock::Timestamp(std::size_t row, SQLUSMALLINT column,
                             SQL_TIMESTAMP_STRUCT *value) const {
    const Bound &b = At(column, OdbcType::kTimestamp);
    if (b.indicators[row] == SQL_NULL_DATA) return false;
    *value = b.times[row];
    return true;
}

}  // namespace qz45trail
