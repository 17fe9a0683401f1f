// A transaction on the plant database. The connection runs with autocommit
// off, so every statement is in one; this object ends it: rolled back when it
// goes out of scope unless Commit() was called, on every path out, an
// exception's too. Nothing outside store/ rolls back by hand.
#pragma once

#include "odbc.h"

namespace qz45trail {

class Transaction {
public:
    explicit Transaction(const OdbcConnection &connection) : connection_(connection) {}
    ~Transaction() {
        if (committed_) return;
        try {
            connection_.Rollback();
        } catch (const OdbcError &) {
            // The connection is gone: so is everything the transaction did.
        }
    }
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;

    // Commits; throws OdbcError when the server refuses (then nothing of it stays).
    void Commit() {
        connection_.Commit();
        committed_ = true;
    }

private:
    const OdbcConnection &connection_;
    bool committed_ = false;
};

}  // namespace qz45trail
