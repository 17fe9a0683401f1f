#include "sender_options.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "event/event_rules.h"
#include "event/event_types.h"
#include "trail_row.h"

namespace qz45event {
namespace {

bool ParseLong(const std::string &text, long long lo, long long hi, long long &out) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool ParseInt32(const std::string &text, int32_t &out) {
    long long v;
    if (!ParseLong(text, INT32_MIN, INT32_MAX, v)) return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool ParseDouble(const std::string &text, double &out) {
    if (text.empty()) return false;
    errno = 0;
    char *end = nullptr;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && *end == '\0';
}

// "a,b" into two int32.
bool ParsePair(const std::string &text, int32_t &a, int32_t &b) {
    std::size_t comma = text.find(',');
    return comma != std::string::npos && ParseInt32(text.substr(0, comma), a) &&
           ParseInt32(text.substr(comma + 1), b);
}

// "type 26 (Create Record)".
std::string TypeText(int32_t type) {
    const char *name = qz45::EventTypeName(static_cast<uint32_t>(type));
    return "type " + std::to_string(type) + (name != nullptr ? std::string(" (") + name + ")" : "");
}

// Each value where the type carries it: a general event carries its one
// value in OldValue and sends no NewValue.
std::optional<std::string> ValueOptionsFit(int32_t type, const std::string &value,
                                           const std::string &oldValue,
                                           const std::string &newValue) {
    const qz45::EventTypeRule *rule = qz45::EventRuleOf(static_cast<uint32_t>(type));
    if (rule == nullptr) return std::nullopt;  // the library refuses the type
    if (rule->shape != qz45::EventShape::General) {
        if (value.empty()) return std::nullopt;
        return "--value: " + TypeText(type) + " carries two values: give --old and --new";
    }
    if (!newValue.empty())
        return "--new: " + TypeText(type) + " carries one value, not an old and a new one: "
               "give it with --value";
    if (!value.empty() && !oldValue.empty())
        return "--value and --old both give the one value of " + TypeText(type) +
               ": give --value only";
    return std::nullopt;
}

}  // namespace

namespace {

// The microseconds of a decimal fraction of a second ("5" is 500,000), up
// to 6 digits.
std::optional<int32_t> Microseconds(std::string digits) {
    if (digits.empty() || digits.size() > 6 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    digits.resize(6, '0');
    long long usecs;
    if (!ParseLong(digits, 0, 999999, usecs)) return std::nullopt;
    return static_cast<int32_t>(usecs);
}

// 2024-05-06T07:08:09[.FRACTION]Z or 2024-05-06, in the trail's format.
std::optional<TimeStamp> ParseIsoTime(const std::string &text) {
    qz45trail::UtcTime utc;
    if (!qz45trail::ParseUtc(text, &utc, true)) return std::nullopt;
    TimeStamp t{0, 0};
    const std::size_t dot = text.find('.');
    if (dot != std::string::npos) {
        auto usecs = Microseconds(text.substr(dot + 1, text.size() - dot - 2));
        if (!usecs) return std::nullopt;
        t.usecs = *usecs;
    }
    const long long secs = qz45trail::UnixSeconds(utc);
    if (secs < INT32_MIN || secs > INT32_MAX) return std::nullopt;
    t.secs = static_cast<int32_t>(secs);
    return t;
}

}  // namespace

const char kTimeForms[] =
    "SECS[.FRACTION] since 1970, 2024-05-06T07:08:09[.250]Z or 2024-05-06 (UTC, "
    "1901-12-13T20:45:52Z to 2038-01-19T03:14:07Z, a fraction up to 6 digits)";

std::optional<TimeStamp> ParseTime(const std::string &text) {
    if (text.size() >= 10 && text[4] == '-') return ParseIsoTime(text);
    std::size_t dot = text.find('.');
    TimeStamp t{0, 0};
    if (!ParseInt32(text.substr(0, dot), t.secs)) return std::nullopt;
    if (dot != std::string::npos) {
        // A decimal fraction of a second, to the microsecond: ".5" is
        // 500,000 microseconds, ".000005" is 5.
        auto usecs = Microseconds(text.substr(dot + 1));
        if (!usecs) return std::nullopt;
        t.usecs = *usecs;
    }
    return t;
}

std::optional<std::string> ParseValue(const std::string &text, ValueOption &out) {
    out = ValueOption{};
    EventValue &v = out.value;
    std::size_t colon = text.find(':');
    if (colon == std::string::npos) return "a value is KIND:VALUE, for example r8:2.5";
    const std::string kind = text.substr(0, colon), body = text.substr(colon + 1);
    const std::string bad = "bad " + kind + " value: " + body;
    long long n;
    double d;
    if (kind == "text") {
        if (body.size() > EVT_VALUE_TEXT_MAX) return "an inline text holds at most 603 bytes";
        v.DataType = static_cast<int16_t>(body.size());
        std::memcpy(v.Payload.Text, body.data(), body.size());
    } else if (kind == "textref") {
        if (body.size() > EVT_VALUE_TEXT_REF_MAX) return "a text by address holds at most 1023 bytes";
        v.DataType = EVT_VALUE_TEXT_REF_STATUS;
        out.textBuffer.assign(body.begin(), body.end());
        out.textBuffer.push_back('\0');
        v.Payload.TextRef.TextLen = static_cast<int16_t>(body.size());
    } else if (kind == "i2") {
        if (!ParseLong(body, INT16_MIN, INT16_MAX, n)) return bad;
        v.DataType = EVT_VALUE_INT16;
        v.Payload.Int16.Value = static_cast<int16_t>(n);
    } else if (kind == "i4") {
        if (!ParseLong(body, INT32_MIN, INT32_MAX, n)) return bad;
        v.DataType = EVT_VALUE_INT32;
        v.Payload.Int32.Value = static_cast<int32_t>(n);
    } else if (kind == "r4") {
        if (!ParseDouble(body, d)) return bad;
        v.DataType = EVT_VALUE_SINGLE;
        v.Payload.Single.Value = static_cast<float>(d);
    } else if (kind == "r8") {
        if (!ParseDouble(body, d)) return bad;
        v.DataType = EVT_VALUE_DOUBLE;
        v.Payload.Double.Value = d;
    } else if (kind == "date") {
        auto t = ParseTime(body);
        if (!t) return bad;
        v.DataType = EVT_VALUE_TIME_STAMP;
        v.Payload.Stamp.secs = t->secs;
        v.Payload.Stamp.usecs = t->usecs;
    } else if (kind == "packed") {
        v.DataType = EVT_VALUE_PACKED_TIME;
        if (!ParsePair(body, v.Payload.PackedTime.FAST, v.Payload.PackedTime.SLOW)) return bad;
    } else if (kind == "record") {
        v.DataType = EVT_VALUE_RECORD;
        if (!ParseInt32(body, v.Payload.Record.RecId)) return bad;
    } else if (kind == "field") {
        v.DataType = EVT_VALUE_RECORD_FIELD;
        if (!ParsePair(body, v.Payload.RecordField.RecId, v.Payload.RecordField.FldId))
            return bad;
    } else {
        return "unknown value kind '" + kind +
               "' (text, textref, i2, i4, r4, r8, date, packed, record, field)";
    }
    return std::nullopt;
}

ParseResult ParseCommandLine(int argc, const char *const *argv, SenderOptions &o) {
    CLI::App app{"Sends audit-trail events through qz45alarmevent_api.", "qz45event"};
    app.require_subcommand(1);

    CLI::App *send = app.add_subcommand("send", "Fill one event record and send it");
    std::string type, time, history, value, oldValue, newValue;
    send->add_option("-t,--type", type,
                     "Event type, by number (1-53) or name; 'qz45event types' lists each "
                     "type's category, the fields it requires and the defaults it gets")
        ->required();
    send->add_option("-u,--user", o.user, "User account that performed the action");
    send->add_option("-d,--domain", o.domain, "Domain of that account");
    send->add_option("-m,--message", o.message, "Free message text (up to 2,047 characters)");
    send->add_option("--descriptor", o.descriptor, "Object acted on (a record name)");
    send->add_option("--descriptor-type", o.descriptorType,
                     "Kind of that object (default DATABASE or RECORD by type)");
    send->add_option("--property", o.property, "Property of the object (for example ACL)");
    send->add_option("--area", o.area, "Plant area of the object");
    send->add_option("--unit", o.unit, "Plant unit of the object");
    send->add_option("--ref-id", o.refId, "Caller's reference identifier");
    send->add_option("--path", o.path, "Source path (default COMPUTER/QZ.45/COMPUTER)");
    send->add_option("--app-name", o.appName, "Application name; seeds the application key");
    send->add_option("--app-key", o.appKey, "Application key");
    send->add_option("--severity", o.severity, "Severity number");
    send->add_option("--audit-trail", o.auditTrail,
                     "1: the event belongs to the audit trail (the default); 0: it does not");
    send->add_option("--time", time, "When it happened (default now): SECS[.FRACTION] since 1970, "
                     "2024-05-06T07:08:09[.250]Z or 2024-05-06, UTC");
    send->add_option("--history", history,
                     "Time of the history entry changed, as --time (Change History Value)");
    send->add_option("--value", value,
                     "The value of a type that carries one value, sent as OldValue "
                     "('qz45event types' says which types): KIND:VALUE with KIND text, textref, i2, i4, r4, r8, date, packed, "
                     "record or field (e.g. r8:2.5, field:12,-3)");
    send->add_option("--old", oldValue,
                     "Value before, of a type that carries two values, as --value (a type "
                     "that carries one takes --old for --value too)");
    send->add_option("--new", newValue, "Value after, of a type that carries two values, as --value");
    send->add_option("--repeat", o.repeat,
                     "Send N events inside one open use of the library; after three service "
                     "failures in a row the library drops the rest, counted as dropped")
        ->check(CLI::Range(1u, 100000000u));
    send->add_flag("-q,--quiet", o.quiet, "Print nothing on success; failures still go to standard error");
    send->add_flag("-v,--verbose", o.verbose, "With --repeat, print the outcome of every send");

    app.add_subcommand("types",
                       "List the event types: number, category, name, the fields each requires "
                       "and the defaults it gets");
    app.footer("Run 'qz45event types' for what each event type requires.");

    CLI::App *reg = app.add_subcommand(
        "register-event-source",
        "Register the event source \"Zentrova.45\" under the Application log, with the "
        "library DLL as its message file, so that viewers show the entries' text");
    reg->add_option("--dll", o.messageDll, "Full path of qz45alarmevent_api.dll")->required();

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp &) {
        return {ParseOutcome::Help, app.help()};
    } catch (const CLI::CallForAllHelp &) {
        return {ParseOutcome::Help, app.help("", CLI::AppFormatMode::All)};
    } catch (const CLI::ParseError &e) {
        std::string what = e.what();
        return {ParseOutcome::Error, what};
    }

    if (send->parsed()) {
        o.command = "send";
        auto t = ParseEventType(type);
        if (!t) {
            std::vector<int32_t> named = EventTypesNamed(type);
            if (named.size() < 2) return {ParseOutcome::Error, "unknown event type: " + type};
            std::string both;
            for (int32_t n : named)
                both += (both.empty() ? "" : " and ") + std::to_string(n);
            return {ParseOutcome::Error, "event type name '" + type + "' is that of types " + both +
                                             ": give --type by number"};
        }
        o.type = *t;
        if (!time.empty()) {
            o.time = ParseTime(time);
            if (!o.time)
                return {ParseOutcome::Error, "bad --time: " + time + "; give " + kTimeForms};
        }
        if (!history.empty()) {
            o.history = ParseTime(history);
            if (!o.history)
                return {ParseOutcome::Error, "bad --history: " + history + "; give " + kTimeForms};
        }
        if (auto error = ValueOptionsFit(*t, value, oldValue, newValue))
            return {ParseOutcome::Error, *error};
        for (auto [text, slot, name] : {std::tuple{&value, &o.oldValue, "--value"},
                                        std::tuple{&oldValue, &o.oldValue, "--old"},
                                        std::tuple{&newValue, &o.newValue, "--new"}}) {
            if (text->empty()) continue;
            ValueOption v;
            if (auto error = ParseValue(*text, v)) return {ParseOutcome::Error, name + (": " + *error)};
            *slot = std::move(v);
        }
    } else if (reg->parsed()) {
        o.command = "register-event-source";
    } else {
        o.command = "types";
    }
    return {ParseOutcome::Run, {}};
}

void FillRecord(SenderOptions &o, EventRecord &record, int16_t *status) {
    auto text = [](const std::optional<std::string> &s) { return s ? s->c_str() : nullptr; };
    auto ptr = [](auto &opt) { return opt ? &*opt : nullptr; };
    for (auto *v : {ptr(o.oldValue), ptr(o.newValue)})
        if (v != nullptr && !v->textBuffer.empty()) v->value.Payload.TextRef.Text = v->textBuffer.data();
    PopulateChangeValueEvent(&record, text(o.path), text(o.appName), text(o.user), text(o.domain),
                             ptr(o.time), text(o.message), ptr(o.auditTrail), ptr(o.type),
                             text(o.refId), text(o.appKey), ptr(o.severity), text(o.descriptor),
                             text(o.descriptorType), text(o.area), text(o.unit), text(o.property),
                             ptr(o.history), o.oldValue ? &o.oldValue->value : nullptr,
                             o.newValue ? &o.newValue->value : nullptr, status);
}

std::string TooLongOption(const SenderOptions &o) {
    EventRecord r;
    const struct {
        const char *option;
        const std::optional<std::string> &value;
        std::size_t capacity;
    } texts[] = {
        {"--path", o.path, sizeof r.Path},
        {"--app-name", o.appName, sizeof r.AppName},
        {"--user", o.user, sizeof r.User},
        {"--domain", o.domain, sizeof r.Domain},
        {"--message", o.message, sizeof r.Message},
        {"--ref-id", o.refId, sizeof r.RefId},
        {"--app-key", o.appKey, sizeof r.AppKey},
        {"--descriptor", o.descriptor, sizeof r.Descriptor},
        {"--descriptor-type", o.descriptorType, sizeof r.DescriptorType},
        {"--area", o.area, sizeof r.Area},
        {"--unit", o.unit, sizeof r.Unit},
        {"--property", o.property, sizeof r.Property},
    };
    for (const auto &t : texts)
        if (t.value && t.value->size() > t.capacity - 1)
            return std::string(t.option) + " holds " + std::to_string(t.value->size()) +
                   " bytes, its field at most " + std::to_string(t.capacity - 1);
    return {};
}

const char *ValueOptionsOf(int32_t type) {
    const qz45::EventTypeRule *rule = qz45::EventRuleOf(static_cast<uint32_t>(type));
    if (rule == nullptr) return "";
    return rule->shape == qz45::EventShape::General ? "--value" : "--old --new";
}

std::string OptionOfArgument(const std::vector<std::string> &argv, std::size_t index) {
    if (index >= argv.size()) return {};
    // "--user" of "--user" and "--user=X", "-u" of "-u" and "-uX"; "" for
    // anything else.
    const auto name = [](const std::string &a) {
        if (a.size() < 2 || a[0] != '-' || a == "--") return std::string();
        if (a[1] == '-') return a.substr(0, a.find('='));
        return std::isalpha(static_cast<unsigned char>(a[1])) ? a.substr(0, 2) : std::string();
    };
    const std::string &arg = argv[index];
    if (index >= 2) {
        const std::string &before = argv[index - 1];
        if (!name(before).empty() && name(before) == before) return before;  // its value
    }
    return name(arg).empty() ? arg : name(arg);
}

std::string CodePointName(char32_t c) {
    char text[16];
    std::snprintf(text, sizeof text, "U+%04lX", static_cast<unsigned long>(c));
    return text;
}

const char *StatusName(int16_t status) {
    switch (status) {
    case EVT_SUCCESS: return "EVT_SUCCESS";
    case EVT_E_TOO_LONG: return "EVT_E_TOO_LONG";
    case EVT_E_BAD_TYPE: return "EVT_E_BAD_TYPE";
    case EVT_E_APARTMENT: return "EVT_E_APARTMENT";
    case EVT_E_SERVICE: return "EVT_E_SERVICE";
    case EVT_E_INVALID: return "EVT_E_INVALID";
    default: return "unknown";
    }
}

}  // namespace qz45event
