// The send export's failure handling: the breaker and the event-log report.
#pragma once

#include <string_view>

#include "qz45alarmevent_api.h"

namespace qz45 {

// Writes one error entry to the Windows event log for a failed delivery;
// opensBreaker adds the sentence that says delivery stops.
void ReportDeliveryFailure(bool opensBreaker, const EventRecord &record);

// Where reports go instead of the event log, for tests; nullptr restores the
// event log.
using DeliveryReportSink = void (*)(std::string_view text);
void SetDeliveryReportSink(DeliveryReportSink sink);

// Consecutive failures after which delivery stops for the life of the process.
constexpr unsigned kBreakerThreshold = 3;

}  // namespace qz45
