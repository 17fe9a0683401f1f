// The trail as a table, one row per line: for a trail file and for the lines
// stored in the database alike.
#pragma once

#include <string>

namespace qz45trail {

void PrintTableHeader();

// One line of a trail, numbered n.
void PrintTableRow(long long n, const std::string &line);

}  // namespace qz45trail
