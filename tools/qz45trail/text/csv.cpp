// The one CSV writer: numbers as they are, formula-like texts guarded, quoting.
#include "csv.h"

namespace qz45trail {
namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

// The digits from `at` on; how many.
std::size_t Digits(const std::string &text, std::size_t at) {
    std::size_t n = 0;
    while (at + n < text.size() && Digit(text[at + n])) ++n;
    return n;
}

}  // namespace

bool CsvNumber(const std::string &text) {
    std::size_t at = !text.empty() && text[0] == '-' ? 1 : 0;
    const std::size_t whole = Digits(text, at);
    if (whole == 0) return false;
    at += whole;
    if (at < text.size() && text[at] == '.') {
        const std::size_t fraction = Digits(text, at + 1);
        if (fraction == 0) return false;
        at += 1 + fraction;
    }
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        ++at;
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
        const std::size_t exponent = Digits(text, at);
        if (exponent == 0) return false;
        at += exponent;
    }
    return at == text.size();
}

std::string CsvCell(const std::string &text) {
    std::string cell;
    if (!text.empty() && !CsvNumber(text)) {
        switch (text[0]) {
        case '=': case '+': case '-': case '@': case '\t': case '\r': case '\'':
            cell = "'";
            break;
        default: break;
        }
    }
    cell += text;
    if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
    std::string quoted = "\"";
    for (const char c : cell) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvRecord(const std::vector<std::string> &cells) {
    std::string record;
    for (std::size_t i = 0; i < cells.size(); ++i) record += (i ? "," : "") + CsvCell(cells[i]);
    return record + "\r\n";
}

}  // namespace qz45trail
