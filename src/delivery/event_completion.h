// Completion and routing of an event record before it is submitted.
//
// The record is completed in place with defaults taken from the machine, the
// process, the clock and the event's type; a record that lacks what its type
// requires is refused; an accepted record is routed to one submitter.
#pragma once

#include <cstdint>

#include "qz45alarmevent_api.h"

namespace qz45 {

// What completion needs from the platform, so that the rules run and are
// tested anywhere.
class CompletionPlatform {
public:
    virtual ~CompletionPlatform() = default;
    // Reads the computer name into buf, which holds capacity bytes including
    // the terminator. Returns its length when it fits, the size it would need
    // including the terminator when it does not, or -1 when there is no name.
    virtual int64_t ComputerName(char *buf, uint32_t capacity) const = 0;
    // Reads the full path of the process's executable into buf (capacity bytes
    // including the terminator). Returns its length; 0 when there is none.
    virtual uint32_t ExecutablePath(char *buf, uint32_t capacity) const = 0;
    // The current time in seconds since 1970-01-01 00:00:00 UTC.
    virtual int32_t Now() const = 0;
};

enum class Submitter { None, General, Change, HistoryChange };

// The submitter that takes an event of this type (None for a type the library
// refuses whatever the record holds).
Submitter SubmitterOf(uint32_t type);

extern const char kFixedAppName[];  // "Oskel Zentrova.45"

// Completes and checks the record. Leaves 0, EVT_E_BAD_TYPE or EVT_E_INVALID in
// status.status (never touches hresult) and returns the submitter that takes
// the record, or Submitter::None when it was refused.
Submitter CompleteEvent(EventRecord &record, EventStatus &status,
                        const CompletionPlatform &platform);

}  // namespace qz45
