// The line numbers a check saw of one machine, in order: how many rows were
// stored, the last line, and the numbers missing between and after them.
#pragma once

#include <cstddef>
#include <vector>

namespace qz45trail {

struct LineSpan {
    long long from = 0, to = 0;
};

class LineCensus {
public:
    // The spans of missing numbers kept to be named; the count goes on.
    static constexpr std::size_t kSpansKept = 5;

    // Lines up to `line` are not expected in the table (archived).
    void StartAfter(long long line) { last_ = archived_ = line; }
    // The next stored line number, in ascending order.
    void Add(long long line);
    // The last line that should be there (the shipment log's): missing ones
    // at the end are counted too.
    void Through(long long line);

    long long Stored() const { return stored_; }
    long long Archived() const { return archived_; }
    long long Last() const { return last_; }
    long long MissingLines() const { return missingLines_; }
    const std::vector<LineSpan> &Missing() const { return missing_; }

private:
    void Gap(long long from, long long to);

    long long stored_ = 0, last_ = 0, missingLines_ = 0, archived_ = 0;
    std::vector<LineSpan> missing_;
};

}  // namespace qz45trail
