// Command line of the qz45event sender: options, values, and the record they
// describe. Platform-free, so the parsing is tested natively.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "event/event_types.h"
#include "qz45alarmevent_api.h"

namespace qz45event {

// One --value/--old/--new value: the block that goes into the record, and for a text
// by address the buffer it points into (kept alive with the options).
struct ValueOption {
    EventValue value{};
    std::vector<char> textBuffer;
};

struct SenderOptions {
    std::string command;  // "send", "types" or "register-event-source"

    std::optional<std::string> path, appName, user, domain, message, refId, appKey;
    std::optional<std::string> descriptor, descriptorType, area, unit, property;
    std::optional<int32_t> type, auditTrail, severity;
    std::optional<TimeStamp> time, history;
    // A type that carries one value takes it in OldValue (--value).
    std::optional<ValueOption> oldValue, newValue;
    unsigned repeat = 1;
    bool quiet = false;
    bool verbose = false;  // with --repeat: one line per send

    std::string messageDll;  // register-event-source
};

enum class ParseOutcome { Run, Help, Error };

struct ParseResult {
    ParseOutcome outcome;
    std::string text;  // the help text, or one line that says what is wrong
};

ParseResult ParseCommandLine(int argc, const char *const *argv, SenderOptions &options);

// "37", "Change Value", "change-value" -> 37, as qz45trail reads --type too.
// A name two types share gives nothing: EventTypesNamed lists them.
using qz45::EventTypesNamed;
using qz45::ParseEventType;

// KIND:VALUE, for example text:abc, i2:-1, i4:7, r4:2.5, r8:2.5,
// date:TIME (as ParseTime reads it), packed:FAST,SLOW, record:12, field:12,-3,
// textref:hello. Returns an error line, or nothing when it parsed.
std::optional<std::string> ParseValue(const std::string &text, ValueOption &out);

// SECS or SECS.FRACTION since 1970, 2024-05-06T07:08:09[.FRACTION]Z or
// 2024-05-06 (midnight), all UTC; a fraction is a decimal fraction of a
// second, up to 6 digits. Nothing when malformed or outside 32-bit seconds.
std::optional<TimeStamp> ParseTime(const std::string &text);
extern const char kTimeForms[];  // the forms, for messages

// Fills the record from the options with PopulateChangeValueEvent.
// A text by address points into the options, which must outlive the send.
void FillRecord(SenderOptions &options, EventRecord &record, int16_t *status);

// The first text option longer than its field ("--user holds 300 bytes, its
// field at most 255"), or "" when all fit.
std::string TooLongOption(const SenderOptions &options);

// The options that give the values of a type: "--value" for a type that
// carries one value, "--old --new" for one that carries two, "" for a number
// that is not an event type.
const char *ValueOptionsOf(int32_t type);

// The option that argument `index` of a command line (argv, the program's
// name first) belongs to: "--user" for "--user" "X" or "--user=X", "-u" for
// "-u" "X" or "-uX"; the argument itself when it belongs to none.
std::string OptionOfArgument(const std::vector<std::string> &argv, std::size_t index);

// "U+015B".
std::string CodePointName(char32_t c);

// The name of a status code ("EVT_E_SERVICE"), or "unknown".
const char *StatusName(int16_t status);

}  // namespace qz45event
