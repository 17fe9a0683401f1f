#include "delivery/complete_and_route.h"

#include <windows.h>

#include <ctime>

#include "delivery/event_completion.h"
#include "delivery/submission.h"

namespace qz45 {
namespace {

class WindowsPlatform final : public CompletionPlatform {
public:
    int64_t ComputerName(char *buf, uint32_t capacity) const override {
        DWORD size = capacity;
        if (GetComputerNameA(buf, &size)) return size;
        if (GetLastError() == ERROR_BUFFER_OVERFLOW) return size;
        return -1;
    }
    uint32_t ExecutablePath(char *buf, uint32_t capacity) const override {
        return GetModuleFileNameA(nullptr, buf, capacity);
    }
    // The record keeps 32-bit seconds; the 64-bit clock is the one both
    // architectures' runtimes have.
    int32_t Now() const override { return static_cast<int32_t>(_time64(nullptr)); }
};

}  // namespace

void CompleteAndRouteEvent(EventRecord &record, EventStatus &status) {
    // On the stack, not a function-local static: initialising one takes the
    // C++ runtime's lock for such statics, which the runtime creates inside
    // this DLL and never closes, so every load would leave a handle behind.
    const WindowsPlatform platform;
    switch (CompleteEvent(record, status, platform)) {
    case Submitter::General:
        SubmitGeneralEvent(record, status);
        break;
    case Submitter::Change:
        SubmitChangeEvent(record, status);
        break;
    case Submitter::HistoryChange:
        SubmitHistoryChangeEvent(record, status);
        break;
    case Submitter::None:
        break;
    }
}

}  // namespace qz45
