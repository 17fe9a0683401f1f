// What qz45event says when a send fails: the status and HRESULT in words, and
// what to do about them. Platform-free, so that it is tested natively; the
// system's own text for other HRESULTs comes from the caller.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "qz45alarmevent_api.h"

namespace qz45event {

// An HRESULT a send meets: its name, what it means here, and the remedy
// ("" when there is none to give).
struct HresultText {
    uint32_t hresult;
    const char *name;
    const char *meaning;
    const char *remedy;
};

// The entry of hr, or nullptr when the table does not know it.
const HresultText *KnownHresult(uint32_t hr);

struct FailureContext {
    const EventRecord *record = nullptr;  // as filled, before the library completed it
    int bits = 64;                        // this program's bitness
    std::optional<std::string> trail;     // QZ45_AUDIT_TRAIL, when set
    std::string systemText;               // the system's message for an unknown HRESULT
};

// One line that says what failed (status name and number, the HRESULT with
// its name and meaning) and one that says what to do. Neither ends in a
// newline.
struct FailureText {
    std::string what;
    std::string hint;
};

FailureText DescribeFailure(const EventStatus &status, const FailureContext &context);

// An argument that this process's code page cannot hold, refused before
// anything is sent: the option, the character and the code page.
FailureText DescribeUnheldText(const std::string &option, char32_t character, unsigned codePage);

// What became of each send of one run. After kBreakerThreshold service
// failures in a row the library drops every later event of the process and
// answers success for it; the run knows that it has seen them.
enum class SendOutcome { Delivered, Failed, Dropped };

class SendTally {
public:
    SendOutcome Count(int16_t status);
    // True right after the send that opened the library's breaker.
    bool JustOpened() const { return justOpened_; }
    unsigned delivered = 0, failed = 0, dropped = 0;

private:
    unsigned serviceFailuresInARow_ = 0;
    bool justOpened_ = false;
};

// "qz45event: the library now drops ..." without its prefix: said once, when
// the breaker opens.
extern const char kBreakerOpenedText[];
extern const char kDroppedText[];  // a send the library dropped

}  // namespace qz45event
