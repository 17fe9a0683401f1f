// The trail as a table, one row per line: for a trail file and for the lines
// stored in the database alike.
#pragma once

#include <string>

namespace qz45trail {

// A text as the table prints it: control characters (below 0x20, 0x7F and
// U+0080-U+009F) escaped as \n, \r, \t or \xHH / \u00HH, so that no text of
// a line can start a row of its own or move the cursor.
std::string Shown(const std::string &text);

void PrintTableHeader();

// One line of a trail, numbered n.
void PrintTableRow(long long n, const std::string &line);

// Prints the trail file at path (UTF-8) as a table; an exit code.
int PrintTrailFile(const std::string &path);

}  // namespace qz45trail
