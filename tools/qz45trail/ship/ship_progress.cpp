// A shipper's progress and summary on standard output.
#include "ship_progress.h"

#include <io.h>

#include <cstdio>

namespace qz45trail {
namespace {

// Progress where no console shows it: a plain line at most this often.
constexpr ULONGLONG kPlainProgressMs = 10 * 1000;

}  // namespace

ShipProgress::ShipProgress(const std::string &file, const std::string &machine)
    : file_(file), machine_(machine), terminal_(_isatty(_fileno(stdout)) != 0),
      start_(GetTickCount64()) {}

double ShipProgress::Seconds() const {
    return static_cast<double>(GetTickCount64() - start_) / 1000.0;
}

void ShipProgress::Shipped(long long lines, long long present) {
    shipped_ += lines;
    const ULONGLONG now = GetTickCount64();
    if (shown_ != 0 && now - shown_ < (terminal_ ? 500 : kPlainProgressMs)) return;
    shown_ = now;
    std::printf("%sshipping %s: %lld line(s) shipped, %lld already present, %.0f s%s",
                terminal_ ? "\r" : "", file_.c_str(), shipped_, present, Seconds(),
                terminal_ ? " " : "\n");
    std::fflush(stdout);
}

std::string ShipProgress::Summary(long long present) {
    if (!connected_) return "";
    if (terminal_ && shown_ != 0) std::printf("\n");
    const double s = Seconds();
    char rate[64];
    std::snprintf(rate, sizeof rate, "%.1f s (%.0f lines/s)", s,
                  s > 0 ? static_cast<double>(shipped_) / s : 0.0);
    const std::string text = file_ + " -> machine " + machine_ + ": " + std::to_string(shipped_) +
                             " line(s) shipped, " + std::to_string(present) + " already present, " +
                             rate;
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
    return text;
}

}  // namespace qz45trail
