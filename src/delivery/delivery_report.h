// The text of the event-log entry written when a delivery fails.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qz45 {

// Longest report: the fixed words, an executable name of up to 1,022
// characters, a process id, a 2,047-character message and the breaker
// sentence all fit, so a report is never cut.
constexpr std::size_t kDeliveryReportCapacity = 4096;

struct DeliveryReport {
    char text[kDeliveryReportCapacity];
    std::size_t length;
};

extern const char kBreakerSentence[];

// Composes the report. executablePath is the process's executable path as
// read (may be empty); message is the record's Message, already bounded to
// its field.
void ComposeDeliveryReport(DeliveryReport &out, std::string_view executablePath,
                           uint32_t processId, std::string_view message, bool opensBreaker);

}  // namespace qz45
