// CSV (RFC 4180) as the console view and the review page write it, one
// writer for both.
#pragma once

#include <string>
#include <vector>

namespace qz45trail {

// One cell. A number (an optional minus, digits, an optional fraction and
// exponent: "-1", "-4.25", "1e-05") is written as it is. Any other text that
// a spreadsheet program could take for a formula or an instruction, one that
// begins with =, +, -, @, a tab, a carriage return or an apostrophe, gets one
// leading apostrophe, so that it stays inert text; a program gets the exact
// text back by removing one leading apostrophe from any cell that has one (a
// number never has one). Then a cell holding a comma, a quote or a line end is
// quoted, its quotes doubled.
std::string CsvCell(const std::string &text);

// The cells as one record, separated by commas, ended by CR LF.
std::string CsvRecord(const std::vector<std::string> &cells);

// Whether text is a number as CsvCell writes it unchanged.
bool CsvNumber(const std::string &text);

}  // namespace qz45trail
