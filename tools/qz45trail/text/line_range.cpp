// Line numbers as the tools say them.
#include "line_range.h"

namespace qz45trail {

std::string LineRange(long long from, long long to) {
    return from == to ? "line " + std::to_string(from)
                      : "lines " + std::to_string(from) + "-" + std::to_string(to);
}

}  // namespace qz45trail
