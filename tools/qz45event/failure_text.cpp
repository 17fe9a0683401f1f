#include "failure_text.h"

#include <cstdio>

#include "delivery/send_entry.h"
#include "event/event_rules.h"
#include "event/event_types.h"
#include "sender_options.h"

namespace qz45event {
namespace {

constexpr char kTypesHint[] = "'qz45event types' lists what each type requires";

const HresultText kHresults[] = {
    {0x80040154, "REGDB_E_CLASSNOTREG", "class not registered: the audit service is not registered",
     "register it as administrator: regsvr32 qz45_audit_trail.dll"},
    {0x800700C1, "ERROR_BAD_EXE_FORMAT",
     "the registered audit service DLL is built for the other bitness",
     "register the service DLL of this program's bitness: regsvr32 qz45_audit_trail.dll"},
    {0x8007007E, "ERROR_MOD_NOT_FOUND", "the registered audit service DLL is missing",
     "register the service again from where it now lies: regsvr32 qz45_audit_trail.dll"},
    {0x80004002, "E_NOINTERFACE", "the registered audit service lacks an interface the library uses",
     "register the audit service that came with this library: regsvr32 qz45_audit_trail.dll"},
    {0x80070003, "ERROR_PATH_NOT_FOUND", "path not found: the trail's folder is missing",
     "create the folder, or set QZ45_AUDIT_TRAIL to a file in a folder that exists"},
    {0x80070005, "E_ACCESSDENIED", "access denied: this process cannot write the trail",
     "let this account write the trail's folder (icacls FOLDER /grant \"USER:(OI)(CI)M\"), "
     "or set QZ45_AUDIT_TRAIL to a file it may write"},
    {0x80070020, "ERROR_SHARING_VIOLATION", "another program holds the trail file open without sharing it",
     "close that program (an editor or a copy in progress) and send again"},
    {0x80070070, "ERROR_DISK_FULL",
     "disk full: the trail's volume is below its floor (QZ45_AUDIT_TRAIL_FLOOR_MB, 64 by default)",
     "free space on that volume, or set QZ45_AUDIT_TRAIL to a file on a larger one"},
    {0x8007000D, "ERROR_INVALID_DATA",
     "the trail file is not a trail; the service refused to append to it",
     "check it with qz45trail verify FILE; move it aside or set QZ45_AUDIT_TRAIL to a new file"},
    {0x8007000E, "E_OUTOFMEMORY", "out of memory", "free memory and send again"},
    {0x80070057, "E_INVALIDARG", "the audit service refused an argument of the event",
     "see the Application event log (source Zentrova.45)"},
    {0x800401F0, "CO_E_NOTINITIALIZED", "COM is not initialised on the sending thread",
     "call CoInitializeEx on that thread before sending"},
    {0x80010106, "RPC_E_CHANGED_MODE", "the sending thread is in a COM apartment of the other kind",
     "send from a thread whose apartment the library can join, or initialise it multithreaded"},
};

std::string Hex(uint32_t hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

std::string StatusText(int16_t status) {
    return std::string("status ") + StatusName(status) + " (" + std::to_string(status) + ")";
}

// Where the reference service writes, for the hints about the trail.
std::string TrailNote(const FailureContext &c) {
    if (c.trail) return " (QZ45_AUDIT_TRAIL is " + *c.trail + ")";
    return " (QZ45_AUDIT_TRAIL is not set: the reference service writes "
           "%ProgramData%\\qz45\\audit-trail.jsonl)";
}

std::string OptionOf(const std::string &field) {
    std::string option = "--";
    for (char c : field) option += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return option;
}

FailureText Refused(const EventStatus &st, const FailureContext &c) {
    const std::string status = StatusText(st.status);
    const std::string refused = "; refused before reaching the audit service";
    const int32_t type = c.record != nullptr ? c.record->Type : 0;
    if (st.status == EVT_E_BAD_TYPE)
        return {status + ": type " + std::to_string(type) + " is not an event type (1..53)" + refused,
                "give a type from 1 to 53; 'qz45event types' lists them"};
    const std::string missing = c.record != nullptr ? qz45::MissingFields(*c.record) : "";
    if (missing.empty())
        return {status + ": the computer's name is missing or longer than " +
                    std::to_string(qz45::kComputerNameLongest) +
                    " characters, so Path and Descriptor have no default" + refused,
                "give --path and --descriptor"};
    std::string options;
    for (std::size_t at = 0; at < missing.size();) {
        std::size_t comma = missing.find(", ", at);
        if (comma == std::string::npos) comma = missing.size();
        options += (options.empty() ? "" : ", ") + OptionOf(missing.substr(at, comma - at));
        at = comma + 2;
    }
    const char *name = qz45::EventTypeName(static_cast<uint32_t>(type));
    std::string what = status + ": the record lacks " + missing;
    if (name != nullptr && qz45::EventRuleOf(static_cast<uint32_t>(type)) != nullptr)
        what += ", which type " + std::to_string(type) + " (" + name + ") requires";
    return {what + refused, "give " + options + "; " + kTypesHint};
}

}  // namespace

const HresultText *KnownHresult(uint32_t hr) {
    for (const HresultText &t : kHresults)
        if (t.hresult == hr) return &t;
    return nullptr;
}

FailureText DescribeFailure(const EventStatus &st, const FailureContext &c) {
    if (st.status == EVT_E_INVALID || st.status == EVT_E_BAD_TYPE) return Refused(st, c);

    const uint32_t hr = static_cast<uint32_t>(st.hresult);
    FailureText out{StatusText(st.status) + ", hresult " + Hex(hr), ""};
    if (const HresultText *known = KnownHresult(hr)) {
        out.what += std::string(" ") + known->name + ": " + known->meaning;
        out.hint = known->remedy;
        switch (hr) {
        case 0x80040154:
        case 0x800700C1:
            out.hint += " (the " + std::to_string(c.bits) + "-bit service for this " +
                        std::to_string(c.bits) + "-bit program)";
            break;
        case 0x80070003:
        case 0x80070005:
        case 0x80070070:
        case 0x8007000D:
            out.hint += TrailNote(c);
            break;
        default:
            break;
        }
    } else {
        out.what += ": " + (c.systemText.empty() ? std::string("no description") : c.systemText);
        out.hint = st.status == EVT_E_SERVICE
                       ? "the audit service failed; see the Application event log "
                         "(source Zentrova.45) and the service's own messages"
                       : "see the Application event log (source Zentrova.45)";
    }
    return out;
}

FailureText DescribeUnheldText(const std::string &option, char32_t character, unsigned codePage) {
    const std::string page = std::to_string(codePage);
    return {option + " holds " + CodePointName(character) + ", a character that this process's code page (" +
                page + ") cannot hold; nothing was sent",
            "give the text in characters of code page " + page +
                ", or run qz45event on Windows 10 version 1903 or later, where it runs with UTF-8"};
}

const char kBreakerOpenedText[] =
    "that was the third service failure in a row: the library now drops this process's events "
    "until the process restarts, and reports success for them";
const char kDroppedText[] = "dropped by the library (it reports success)";

SendOutcome SendTally::Count(int16_t status) {
    justOpened_ = false;
    if (serviceFailuresInARow_ >= qz45::kBreakerThreshold) {
        ++dropped;
        return SendOutcome::Dropped;
    }
    if (status == EVT_SUCCESS) {
        serviceFailuresInARow_ = 0;
        ++delivered;
        return SendOutcome::Delivered;
    }
    // Refusals before the service neither count towards the breaker nor reset it.
    if (status == EVT_E_SERVICE)
        justOpened_ = ++serviceFailuresInARow_ == qz45::kBreakerThreshold;
    ++failed;
    return SendOutcome::Failed;
}

}  // namespace qz45event
