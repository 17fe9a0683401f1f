#include "delivery/send_entry.h"

#include <windows.h>

#include <atomic>

#include "delivery/complete_and_route.h"
#include "delivery/delivery_report.h"
#include "event/record_text.h"
#include "frame/connection_set.h"
#include "frame/library_state.h"

namespace qz45 {
namespace {

constexpr char kEventSource[] = "Zentrova.45";
constexpr DWORD kDeliveryFailureEventId = 8448;
constexpr DWORD kExecutablePathCapacity = 1023;

std::atomic<DeliveryReportSink> g_reportSink{nullptr};

// An event source registered for one report.
class EventSource {
public:
    EventSource() : h_(RegisterEventSourceA(nullptr, kEventSource)) {}
    EventSource(const EventSource &) = delete;
    EventSource &operator=(const EventSource &) = delete;
    ~EventSource() {
        if (h_ != nullptr) DeregisterEventSource(h_);
    }
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

}  // namespace

void SetDeliveryReportSink(DeliveryReportSink sink) { g_reportSink = sink; }

void ReportDeliveryFailure(bool opensBreaker, const EventRecord &record) {
    char path[kExecutablePathCapacity + 1];
    DWORD len = GetModuleFileNameA(nullptr, path, kExecutablePathCapacity);
    if (len >= kExecutablePathCapacity) len = kExecutablePathCapacity - 1;

    DeliveryReport report;
    ComposeDeliveryReport(report, std::string_view(path, len), GetCurrentProcessId(),
                          FieldText(record.Message), opensBreaker);

    if (DeliveryReportSink sink = g_reportSink.load()) {
        sink(std::string_view(report.text, report.length));
        return;
    }
    EventSource source;
    if (source.get() == nullptr) return;
    const char *strings[1] = {report.text};
    ReportEventA(source.get(), EVENTLOG_ERROR_TYPE, 0, kDeliveryFailureEventId, nullptr, 1, 0,
                 strings, nullptr);
}

}  // namespace qz45

extern "C" void QZ45_CALL SendQZ45Event(EventRecord *record, EventStatus *status) {
    using namespace qz45;
    if (status == nullptr) return;
    status->status = EVT_SUCCESS;
    if (record == nullptr) {
        status->status = EVT_E_INVALID;
        return;
    }
    LibraryState &state = State();
    if (state.FailureCount.load() >= kBreakerThreshold) return;

    CompleteAndRouteEvent(*record, *status);

    if (status->status == EVT_E_SERVICE) {
        AcquireServiceLock();
        ResetConnections();
        const ULONG failures = ++state.FailureCount;
        ReleaseServiceLock();
        ReportDeliveryFailure(failures == kBreakerThreshold, *record);
    } else if (status->status == EVT_SUCCESS) {
        state.FailureCount = 0;
    }
}
