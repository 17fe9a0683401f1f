// What a shipper says of its progress on standard output: on a console one
// line rewritten, elsewhere (a file, a pipe, a scheduled task's nothing) a
// plain line now and then; and the summary when it ends.
#pragma once

#include <windows.h>

#include <string>

namespace qz45trail {

class ShipProgress {
public:
    ShipProgress(const std::string &file, const std::string &machine);

    // Once connected, there is a summary to give.
    void Connected() { connected_ = true; }

    // Counts lines shipped and shows the progress, with the lines found
    // already present: on a console at most twice a second, elsewhere at
    // most every kPlainProgressMs.
    void Shipped(long long lines, long long present);

    // Prints the summary and returns it ("" before a connection).
    std::string Summary(long long present);

private:
    double Seconds() const;

    const std::string file_;
    const std::string machine_;
    const bool terminal_;
    const ULONGLONG start_;
    ULONGLONG shown_ = 0;
    bool connected_ = false;
    long long shipped_ = 0;
};

}  // namespace qz45trail
