// The shipment log's entries as plain data: what the log query gives the
// stored check, and what the check's tests build in memory.
#pragma once

#include <string>

namespace qz45trail {

// One shipment: the lines it stored, its last line's SHA-256, and when.
struct Shipment {
    long long firstLine = 0;  // the last line when the log does not say
    long long lastLine = 0;
    std::string lastSha256;
    std::string shippedAt;  // UTC text; "" when the log does not say
};

}  // namespace qz45trail
