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

}  // namespace qz45event
