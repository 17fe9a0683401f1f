// The line numbers a check saw of one machine.
#include "line_census.h"

namespace qz45trail {

void LineCensus::Add(long long line) {
    if (line > last_ + 1) Gap(last_ + 1, line - 1);
    if (line > last_) last_ = line;
    ++stored_;
}

void LineCensus::Through(long long line) {
    if (line <= last_) return;
    Gap(last_ + 1, line);
    last_ = line;
}

void LineCensus::Gap(long long from, long long to) {
    missingLines_ += to - from + 1;
    if (missing_.size() < kSpansKept) missing_.push_back({from, to});
}

}  // namespace qz45trail
