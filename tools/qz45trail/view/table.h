// The trail's lines as a table, as CSV or as JSON Lines, one row per line,
// selected by the same filters: for a trail file and for the lines stored in
// the database alike.
#pragma once

#include <string>

#include "trail_view.h"
#include "view_filter.h"

namespace qz45trail {

// A text as the table prints it: control characters (below 0x20, 0x7F and
// U+0080-U+009F) escaped as \n, \r, \t or \xHH / \u00HH, so that no text of
// a line can start a row of its own or move the cursor.
std::string Shown(const std::string &text);

// Prints lines of trails: the filter read from the options, each line the
// filter selects as a row of the format chosen.
class TrailView {
public:
    explicit TrailView(ViewOptions options);

    // Reads the filters; false, said on stderr, when one does not read (a
    // usage error). Says on stderr which types a --type cannot tell apart.
    bool Prepare();
    const RowFilter &Filter() const { return filter_; }
    bool Table() const { return options_.format == "table"; }

    // The table's heading, the CSV header.
    void Begin();
    // Heads the machine's rows in the table ("== machine"), unless it heads
    // the last rows printed.
    void Machine(const std::string &machine);
    // Line number n of machine's trail, printed when the filter selects it.
    void Line(const std::string &machine, long long n, const std::string &line);
    // A note on the trail: in the table, on standard output; else on stderr.
    void Note(const std::string &text) const;
    // The table's footer: how many events there are (in `where`: "in the
    // database") and how many of them are flagged.
    void End(const std::string &where);

private:
    void TableRow(long long n, const Row &row, const nlohmann::json &line);
    void CsvRow(const Row &row, const nlohmann::json &line);
    void JsonRow(const Row &row, const nlohmann::json &line);

    ViewOptions options_;
    RowFilter filter_;
    std::string machine_;  // heading the table's last rows
    bool headed_ = false;
    long long shown_ = 0, flagged_ = 0;
};

// Prints the trail file at path (UTF-8), its rotated files with it, as the
// options say; an exit code.
int PrintTrailFile(const std::string &path, const ViewOptions &options);

}  // namespace qz45trail
