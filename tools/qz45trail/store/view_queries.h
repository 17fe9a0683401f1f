// What the stored view asks of the plant database: the machines with lines,
// and a machine's lines narrowed down by the server.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "database.h"

namespace qz45trail {

// The machines that have lines in the trail table, in order; the read is
// ended (rolled back).
std::vector<std::string> StoredMachines(const Database &db);

// The rows the server is to leave out: event times before since or from
// until on (whole seconds), other categories. A bound not given leaves out
// nothing.
struct StoredLineBounds {
    std::optional<UtcTime> since, until;
    std::optional<long long> category;
};

// A machine's lines within the bounds, one query prepared for every machine.
class StoredLines {
public:
    StoredLines(const Database &db, StoredLineBounds bounds);

    // The machine's lines in order of their numbers, each handed to line.
    void Read(const std::string &machine,
              const std::function<void(long long lineNo, const std::string &text)> &line);

private:
    OdbcStatement select_;
    StoredLineBounds bounds_;
};

}  // namespace qz45trail
