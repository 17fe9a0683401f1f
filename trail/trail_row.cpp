#include "trail_row.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "sha256.h"

using nlohmann::json;

namespace qz45trail {

const Column kColumns[kColumnCount] = {
    {"machine", ColumnKind::kText, true, true},
    {"line_no", ColumnKind::kBigInt, true, true},
    {"submitted", ColumnKind::kTime, false, true},
    {"event_class", ColumnKind::kText, true, false},
    {"app_name", ColumnKind::kText, false, false},
    {"user_name", ColumnKind::kText, false, true},
    {"domain_name", ColumnKind::kText, false, true},
    {"application_id", ColumnKind::kText, false, false},
    {"category", ColumnKind::kInteger, false, true},
    {"descriptor", ColumnKind::kText, false, true},
    {"property", ColumnKind::kText, false, true},
    {"message", ColumnKind::kLongText, false, true},
    {"event_time", ColumnKind::kTime, false, true},
    {"old_type", ColumnKind::kText, false, false},
    {"old_value", ColumnKind::kLongText, false, false},
    {"new_type", ColumnKind::kText, false, false},
    {"new_value", ColumnKind::kLongText, false, false},
    {"prev_hash", ColumnKind::kHash, false, false},
    {"line_hash", ColumnKind::kHash, false, false},
    {"line_sha256", ColumnKind::kHash, true, false},
    {"line_text", ColumnKind::kLongText, true, true},
    {"replaced", ColumnKind::kInteger, true, true},
};

const char kNulShown[] = "\xE2\x90\x80";

std::string JsonText(const json &j, const char *key) {
    if (!j.is_object()) return "";
    const auto found = j.find(key);
    if (found == j.end()) return "";
    return found->is_string() ? found->get<std::string>() : found->dump();
}

std::string ValueShown(const json &value) {
    return value.is_object() && value.contains("utc") ? JsonText(value, "utc")
                                                      : JsonText(value, "value");
}

namespace {

bool Digits(const std::string &s, std::size_t at, std::size_t n, int *out) {
    if (at + n > s.size()) return false;
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
        if (s[i] < '0' || s[i] > '9') return false;
        v = v * 10 + (s[i] - '0');
    }
    *out = v;
    return true;
}

int DaysIn(int year, int month) {
    static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : kDays[month - 1];
}

Field TextField(std::string text) {
    Field f;
    f.null = false;
    f.text = std::move(text);
    return f;
}

// A member that is absent stays NULL; one that is present is its text.
Field MemberField(const json &object, const char *key) {
    if (!object.is_object()) return Field{};
    const auto found = object.find(key);
    if (found == object.end() || found->is_null()) return Field{};
    return TextField(found->is_string() ? found->get<std::string>() : found->dump());
}

bool TimeField(const json &object, const char *key, const char *name, Field *out,
               std::string *why) {
    *out = Field{};
    const std::string text = JsonText(object, key);
    if (text.empty()) return true;
    if (!ParseUtc(text, &out->time)) {
        *why = std::string(name) + " \"" + text + "\" is not a UTC time";
        return false;
    }
    out->null = false;
    return true;
}

// A trail line nests four deep; far deeper input is not a trail line, and
// walking it could exhaust the stack.
constexpr int kDeepest = 16;

bool Shallow(const json &j, int depth = 0) {
    if (depth > kDeepest) return false;
    if (j.is_structured())
        for (const auto &item : j) {
            if (!Shallow(item, depth + 1)) return false;
        }
    return true;
}

bool HasNul(const std::string &s) { return s.find('\0') != std::string::npos; }


std::string ShowNul(const std::string &s) {
    std::string out;
    for (const char c : s) {
        if (c == '\0') out += kNulShown;
        else out.push_back(c);
    }
    return out;
}

// Whether a string of j, member names included, holds U+0000.
bool JsonHasNul(const json &j) {
    if (j.is_string()) return HasNul(j.get_ref<const std::string &>());
    if (j.is_object()) {
        for (const auto &item : j.items())
            if (HasNul(item.key()) || JsonHasNul(item.value())) return true;
    } else if (j.is_array()) {
        for (const auto &item : j)
            if (JsonHasNul(item)) return true;
    }
    return false;
}

void ValueFields(const json &props, const char *key, Field *type, Field *value) {
    if (!props.contains(key)) return;
    *type = MemberField(props[key], "type");
    const json &v = props[key];
    if (v.is_object() && (v.contains("utc") || v.contains("value"))) *value = TextField(ValueShown(v));
}

}  // namespace

bool ParseUtc(const std::string &text, UtcTime *out, bool dateOnly) {
    UtcTime t;
    if (!Digits(text, 0, 4, &t.year) || text.size() < 10 || text[4] != '-' ||
        !Digits(text, 5, 2, &t.month) || text[7] != '-' || !Digits(text, 8, 2, &t.day))
        return false;
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > DaysIn(t.year, t.month)) return false;
    if (text.size() == 10) {
        if (!dateOnly) return false;
        *out = t;
        return true;
    }
    if (text.size() < 20 || text[10] != 'T' || !Digits(text, 11, 2, &t.hour) || text[13] != ':' ||
        !Digits(text, 14, 2, &t.minute) || text[16] != ':' || !Digits(text, 17, 2, &t.second) ||
        t.hour > 23 || t.minute > 59 || t.second > 59 || text.back() != 'Z')
        return false;
    std::size_t at = 19;
    if (text[at] == '.') {
        long scale = 100000000;
        for (++at; at < text.size() - 1; ++at, scale /= 10) {
            if (text[at] < '0' || text[at] > '9' || scale == 0) return false;
            t.nanoseconds += (text[at] - '0') * scale;
        }
        if (scale == 100000000) return false;  // a dot without digits
    }
    if (at != text.size() - 1) return false;
    *out = t;
    return true;
}

long long UnixSeconds(const UtcTime &t) {
    const long long y = t.year - (t.month <= 2);
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (t.month + (t.month > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = era * 146097 + doe - 719468;
    return days * 86400 + t.hour * 3600LL + t.minute * 60LL + t.second;
}

std::string UtcText(const UtcTime &t) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03ldZ", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.nanoseconds / 1000000);
    return text;
}

// The parser takes a NUL byte for the end of its input, so that a line with
// NUL bytes after an object would read as that object: JSON text never holds
// one, such a line is none.
json ParseLine(const std::string &line) {
    if (line.find('\0') != std::string::npos) return json(json::value_t::discarded);
    return json::parse(line, nullptr, false);
}

bool IsTrailLine(const std::string &line) {
    const json e = ParseLine(line);
    return !e.is_discarded() && e.is_object() && e.contains("event") && e["event"].is_string() &&
           Shallow(e);
}

bool RowFromLine(const std::string &machine, long long lineNo, const std::string &line, Row *row,
                 std::string *why, Sha256 *hasher) {
    const json e = ParseLine(line);
    if (e.is_discarded() || !e.is_object()) {
        *why = "not a JSON object";
        return false;
    }
    if (!Shallow(e)) {
        *why = "nested deeper than a trail line";
        return false;
    }
    if (!e.contains("event") || !e["event"].is_string()) {
        *why = "no event class (\"event\")";
        return false;
    }
    static const json kNone = json::object();
    const json &context = e.contains("context") ? e["context"] : kNone;
    const json &props = e.contains("properties") ? e["properties"] : kNone;
    if (!props.is_object()) {
        *why = "\"properties\" is not an object";
        return false;
    }

    Row r;
    r[kMachine] = TextField(machine);
    r[kLineNo].null = false;
    r[kLineNo].number = lineNo;
    if (!TimeField(e, "submitted", "submitted", &r[kSubmitted], why)) return false;
    r[kEventClass] = TextField(e["event"].get<std::string>());
    r[kAppName] = MemberField(context, "AppName");
    r[kUserName] = MemberField(context, "User");
    r[kDomainName] = MemberField(context, "Domain");
    r[kApplicationId] = MemberField(context, "ApplicationId");
    if (props.contains("Category")) {
        // The service writes a 32-bit LONG; the column holds no more.
        const json &category = props["Category"];
        if (!category.is_number_integer() ||
            (category.is_number_unsigned() && category.get<unsigned long long>() > 2147483647u) ||
            (!category.is_number_unsigned() && (category.get<long long>() < -2147483647LL - 1 ||
                                                 category.get<long long>() > 2147483647LL))) {
            *why = "Category is not a whole 32-bit number";
            return false;
        }
        r[kCategory].null = false;
        r[kCategory].number = props["Category"].get<long long>();
    }
    r[kDescriptor] = MemberField(props, "Descriptor");
    r[kProperty] = MemberField(props, "Property");
    r[kMessage] = MemberField(props, "Message");
    if (props.contains("EventTime") &&
        !TimeField(props["EventTime"], "utc", "EventTime", &r[kEventTime], why))
        return false;
    ValueFields(props, "OldValue", &r[kOldType], &r[kOldValue]);
    ValueFields(props, props.contains("NewValue") ? "NewValue" : "Value", &r[kNewType],
                &r[kNewValue]);
    r[kPrevHash] = MemberField(e, "prev");
    r[kLineHash] = MemberField(e, "hash");
    std::string sha;
    if (!(hasher != nullptr ? hasher->Hex(line, &sha) : Sha256Hex(line, &sha))) {
        *why = "cannot compute SHA-256";
        return false;
    }
    r[kLineSha256] = TextField(sha);
    r[kLineText] = TextField(line);
    r[kReplaced].null = false;
    if (JsonHasNul(e)) {
        r[kReplaced].number = 1;
        for (int i = 0; i < kColumnCount; ++i)
            if (i != kLineText && !r[i].null) r[i].text = ShowNul(r[i].text);
    }
    *row = std::move(r);
    return true;
}


const char *FirstDifference(const Row &a, const Row &b) {
    for (int i = 0; i < kColumnCount; ++i) {
        const Field &x = a[i], &y = b[i];
        if (!kColumns[i].stored) continue;  // the line's own: the same as the line's text
        bool same = x.null == y.null;
        if (same && !x.null) {
            switch (kColumns[i].kind) {
            case ColumnKind::kInteger:
            case ColumnKind::kBigInt: same = x.number == y.number; break;
            case ColumnKind::kTime:
                same = x.time.year == y.time.year && x.time.month == y.time.month &&
                       x.time.day == y.time.day && x.time.hour == y.time.hour &&
                       x.time.minute == y.time.minute && x.time.second == y.time.second &&
                       x.time.nanoseconds == y.time.nanoseconds;
                break;
            default: same = x.text == y.text; break;
            }
        }
        if (!same) return kColumns[i].name;
    }
    return nullptr;
}

}  // namespace qz45trail
