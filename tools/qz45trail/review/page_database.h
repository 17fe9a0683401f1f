// The review page's connection to the plant database: made when first
// needed, dropped when lost, and made again by the next that needs it; each
// statement on it limited to the page's time-out. Used on the server's work
// thread only.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "database.h"

namespace qz45trail {

class PageDatabase {
public:
    // queryTimeout: seconds a statement may take (0: no limit).
    PageDatabase(std::string connection, unsigned queryTimeout)
        : connection_(std::move(connection)), queryTimeout_(queryTimeout) {}

    // The connection; throws OdbcError when it cannot be made.
    Database &Get() {
        if (database_ == nullptr) {
            database_ = std::make_unique<Database>(connection_);
            database_->connection.SetQueryTimeout(queryTimeout_);
        }
        return *database_;
    }
    void Drop() { database_.reset(); }
    unsigned QueryTimeout() const { return queryTimeout_; }

private:
    const std::string connection_;
    const unsigned queryTimeout_;
    std::unique_ptr<Database> database_;
};

}  // namespace qz45trail
