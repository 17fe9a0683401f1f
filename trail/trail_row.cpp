#include "trail_row.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

#include "sha256.h"

using nlohmann::json;

namespace qz45trail {

const Column kColumns[kColumnCount] = {
    {"machine", ColumnKind::kText, true},       {"line_no", ColumnKind::kBigInt, true},
    {"submitted", ColumnKind::kTime, false},    {"event_class", ColumnKind::kText, true},
    {"app_name", ColumnKind::kText, false},     {"user_name", ColumnKind::kText, false},
    {"domain_name", ColumnKind::kText, false},  {"application_id", ColumnKind::kText, false},
    {"category", ColumnKind::kInteger, false},  {"descriptor", ColumnKind::kText, false},
    {"property", ColumnKind::kText, false},     {"message", ColumnKind::kLongText, false},
    {"event_time", ColumnKind::kTime, false},   {"old_type", ColumnKind::kText, false},
    {"old_value", ColumnKind::kLongText, false}, {"new_type", ColumnKind::kText, false},
    {"new_value", ColumnKind::kLongText, false}, {"prev_hash", ColumnKind::kHash, false},
    {"line_hash", ColumnKind::kHash, false},    {"line_sha256", ColumnKind::kHash, true},
    {"line_text", ColumnKind::kLongText, true}, {"line_json", ColumnKind::kJson, true},
    {"replaced", ColumnKind::kInteger, true},
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

json JsonShowingNul(const json &j) {
    if (j.is_string()) return ShowNul(j.get_ref<const std::string &>());
    if (j.is_object()) {
        json out = json::object();
        for (const auto &item : j.items()) out[ShowNul(item.key())] = JsonShowingNul(item.value());
        return out;
    }
    if (j.is_array()) {
        json out = json::array();
        for (const auto &item : j) out.push_back(JsonShowingNul(item));
        return out;
    }
    return j;
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
        r[kLineJson] = TextField(JsonShowingNul(e).dump());
    } else {
        r[kLineJson] = TextField(line);
    }
    *row = std::move(r);
    return true;
}


// A JSON object as PostgreSQL's jsonb gives it back: members ordered by the
// length of their names, then by their bytes, ", " and ": " between the
// parts, strings with the escapes decoded and only '"', '\\' and control
// characters escaped again. A jsonb column that reads as a text spelt so
// holds that text's value, and comparing two spellings costs far less than
// reading two texts as JSON. Refuses (false) what it cannot spell with
// certainty or what the JSON reader would not read: anything but a
// well-formed object, nesting deeper than a trail line's, a name given twice,
// U+0000, a number with an exponent or a negative zero (which jsonb writes
// otherwise) or one too large for a double.
class JsonbSpeller::Impl {
public:
    bool Spell(std::string_view in, std::string *out) {
        in_ = in;
        at_ = 0;
        members_.clear();
        out->clear();
        out->reserve(in_.size() + in_.size() / 8);
        Space();
        if (at_ >= in_.size() || in_[at_] != '{' || !Value(out, 0)) return false;
        Space();
        return at_ == in_.size();
    }

private:
    struct Member {
        std::string name;          // decoded
        std::size_t from, length;  // its spelling in the output
    };

    static constexpr int kDeepestSpelt = 8;
    static constexpr std::size_t kLongestWhole = 300;

    void Space() {
        while (at_ < in_.size() &&
               (in_[at_] == ' ' || in_[at_] == '\t' || in_[at_] == '\n' || in_[at_] == '\r'))
            ++at_;
    }

    bool Take(char c) {
        Space();
        if (at_ >= in_.size() || in_[at_] != c) return false;
        ++at_;
        return true;
    }

    bool Value(std::string *out, int depth) {
        if (depth > kDeepestSpelt || at_ >= in_.size()) return false;
        switch (in_[at_]) {
        case '{': return Object(out, depth);
        case '[': return Array(out, depth);
        case '"': return String(out, nullptr);
        case 't': return Word("true", out);
        case 'f': return Word("false", out);
        case 'n': return Word("null", out);
        default: return Number(out);
        }
    }

    bool Object(std::string *out, int depth) {
        ++at_;
        Space();
        if (at_ < in_.size() && in_[at_] == '}') {
            ++at_;
            out->append("{}");
            return true;
        }
        // This object's members follow those of the objects around it.
        const std::size_t start = out->size(), first = members_.size();
        do {
            Space();
            Member m;
            m.from = out->size();
            if (at_ >= in_.size() || in_[at_] != '"' || !String(out, &m.name) || !Take(':'))
                return false;
            out->append(": ");
            Space();
            if (!Value(out, depth + 1)) return false;
            m.length = out->size() - m.from;
            members_.push_back(std::move(m));
        } while (Take(','));
        if (!Take('}')) return false;
        const auto begin = members_.begin() + static_cast<std::ptrdiff_t>(first);
        std::sort(begin, members_.end(), [](const Member &a, const Member &b) {
            return a.name.size() != b.name.size() ? a.name.size() < b.name.size()
                                                  : a.name < b.name;
        });
        for (auto m = begin + 1; m < members_.end(); ++m)
            if (m->name == (m - 1)->name) return false;
        scratch_.assign(*out, start, std::string::npos);
        out->resize(start);
        out->push_back('{');
        for (auto m = begin; m < members_.end(); ++m) {
            if (m != begin) out->append(", ");
            out->append(scratch_, m->from - start, m->length);
        }
        out->push_back('}');
        members_.erase(begin, members_.end());
        return true;
    }

    bool Array(std::string *out, int depth) {
        ++at_;
        out->push_back('[');
        Space();
        if (at_ < in_.size() && in_[at_] == ']') {
            ++at_;
            out->push_back(']');
            return true;
        }
        bool first = true;
        do {
            if (!first) out->append(", ");
            first = false;
            Space();
            if (!Value(out, depth + 1)) return false;
        } while (Take(','));
        if (!Take(']')) return false;
        out->push_back(']');
        return true;
    }

    bool Word(std::string_view word, std::string *out) {
        if (in_.substr(at_, word.size()) != word) return false;
        at_ += word.size();
        out->append(word);
        return true;
    }

    bool Number(std::string *out) {
        const std::size_t from = at_;
        bool zero = true;
        if (at_ < in_.size() && in_[at_] == '-') ++at_;
        const auto digits = [this, &zero] {
            const std::size_t first = at_;
            for (; at_ < in_.size() && in_[at_] >= '0' && in_[at_] <= '9'; ++at_)
                zero = zero && in_[at_] == '0';
            return at_ - first;
        };
        const std::size_t whole = at_;
        const std::size_t n = digits();
        // No leading zeros; none so large that it is no double (the JSON
        // reader refuses those).
        if (n == 0 || (n > 1 && in_[whole] == '0') || n > kLongestWhole) return false;
        if (at_ < in_.size() && in_[at_] == '.') {
            ++at_;
            if (digits() == 0) return false;
        }
        if (at_ < in_.size() && (in_[at_] == 'e' || in_[at_] == 'E')) return false;
        if (zero && in_[from] == '-') return false;
        out->append(in_.substr(from, at_ - from));
        return true;
    }

    int Hex4() {
        if (at_ + 4 > in_.size()) return -1;
        int v = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = in_[at_++];
            v <<= 4;
            if (c >= '0' && c <= '9') v |= c - '0';
            else if (c >= 'a' && c <= 'f') v |= c - 'a' + 10;
            else if (c >= 'A' && c <= 'F') v |= c - 'A' + 10;
            else return -1;
        }
        return v;
    }

    static void Escaped(unsigned long c, std::string *out) {
        static const char kDigits[] = "0123456789abcdef";
        switch (c) {
        case '\b': out->append("\\b"); return;
        case '\f': out->append("\\f"); return;
        case '\n': out->append("\\n"); return;
        case '\r': out->append("\\r"); return;
        case '\t': out->append("\\t"); return;
        case '"': out->append("\\\""); return;
        case '\\': out->append("\\\\"); return;
        }
        if (c < 0x20) {
            out->append("\\u00");
            out->push_back(kDigits[c >> 4]);
            out->push_back(kDigits[c & 15]);
        } else if (c < 0x80) {
            out->push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out->push_back(static_cast<char>(0xC0 | (c >> 6)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out->push_back(static_cast<char>(0xE0 | (c >> 12)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out->push_back(static_cast<char>(0xF0 | (c >> 18)));
            out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }

    // The bytes of one UTF-8 character from at_ on, checked as the JSON
    // reader checks them; 0 when they are not one.
    std::size_t Utf8Length() const {
        const auto byte = [this](std::size_t i) {
            return at_ + i < in_.size() ? static_cast<unsigned char>(in_[at_ + i]) : 0u;
        };
        const auto in = [](unsigned b, unsigned lo, unsigned hi) { return b >= lo && b <= hi; };
        const unsigned b0 = byte(0);
        if (in(b0, 0xC2, 0xDF)) return in(byte(1), 0x80, 0xBF) ? 2 : 0;
        if (b0 == 0xE0) return in(byte(1), 0xA0, 0xBF) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
        if (in(b0, 0xE1, 0xEC) || in(b0, 0xEE, 0xEF))
            return in(byte(1), 0x80, 0xBF) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
        if (b0 == 0xED) return in(byte(1), 0x80, 0x9F) && in(byte(2), 0x80, 0xBF) ? 3 : 0;
        if (b0 == 0xF0)
            return in(byte(1), 0x90, 0xBF) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF)
                       ? 4 : 0;
        if (in(b0, 0xF1, 0xF3))
            return in(byte(1), 0x80, 0xBF) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF)
                       ? 4 : 0;
        if (b0 == 0xF4)
            return in(byte(1), 0x80, 0x8F) && in(byte(2), 0x80, 0xBF) && in(byte(3), 0x80, 0xBF)
                       ? 4 : 0;
        return 0;
    }

    // A string, spelt into out; its decoded bytes into decoded when given.
    bool String(std::string *out, std::string *decoded) {
        ++at_;
        out->push_back('"');
        for (;;) {
            // Characters spelt as they are, a run at a time.
            std::size_t end = at_;
            while (end < in_.size()) {
                const unsigned char c = static_cast<unsigned char>(in_[end]);
                if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80) break;
                ++end;
            }
            if (end > at_) {
                out->append(in_, at_, end - at_);
                if (decoded != nullptr) decoded->append(in_, at_, end - at_);
                at_ = end;
            }
            if (at_ >= in_.size()) return false;
            const unsigned char c = static_cast<unsigned char>(in_[at_]);
            if (c == '"') {
                ++at_;
                out->push_back('"');
                return true;
            }
            if (c < 0x20) return false;
            if (c >= 0x80) {
                const std::size_t n = Utf8Length();
                if (n == 0) return false;
                out->append(in_, at_, n);
                if (decoded != nullptr) decoded->append(in_, at_, n);
                at_ += n;
                continue;
            }
            // An escape.
            ++at_;
            if (at_ >= in_.size()) return false;
            unsigned long code = 0;
            switch (in_[at_++]) {
            case '"': code = '"'; break;
            case '\\': code = '\\'; break;
            case '/': code = '/'; break;
            case 'b': code = '\b'; break;
            case 'f': code = '\f'; break;
            case 'n': code = '\n'; break;
            case 'r': code = '\r'; break;
            case 't': code = '\t'; break;
            case 'u': {
                const int u = Hex4();
                if (u <= 0 || (u >= 0xDC00 && u <= 0xDFFF)) return false;
                code = static_cast<unsigned long>(u);
                if (u >= 0xD800 && u <= 0xDBFF) {
                    if (at_ + 2 > in_.size() || in_[at_] != '\\' || in_[at_ + 1] != 'u')
                        return false;
                    at_ += 2;
                    const int low = Hex4();
                    if (low < 0xDC00 || low > 0xDFFF) return false;
                    code = 0x10000 + ((code - 0xD800) << 10) +
                           static_cast<unsigned long>(low - 0xDC00);
                }
                break;
            }
            default: return false;
            }
            const std::size_t before = out->size();
            Escaped(code, out);
            if (decoded != nullptr) {
                // The character itself: as Escaped spells it when it is not escaped.
                if (code < 0x80) decoded->push_back(static_cast<char>(code));
                else decoded->append(*out, before, std::string::npos);
            }
        }
    }

    std::string_view in_;
    std::size_t at_ = 0;
    std::vector<Member> members_;  // of the objects being spelt, innermost last
    std::string scratch_;
};

JsonbSpeller::JsonbSpeller() : impl_(std::make_unique<Impl>()) {}
JsonbSpeller::~JsonbSpeller() = default;

bool JsonbSpeller::Spell(std::string_view json, std::string *out) {
    return impl_->Spell(json, out);
}

namespace {

// Whether two JSON texts hold the same value: both read, neither nested
// deeper than a trail line, equal as values (not as spellings). Quick when
// one is the other as jsonb spells it.
bool SameJson(const std::string &x, const std::string &y) {
    JsonbSpeller::Impl speller;
    std::string spelt;
    if ((speller.Spell(y, &spelt) && spelt == x) || (speller.Spell(x, &spelt) && spelt == y))
        return true;
    const json jx = ParseLine(x);
    const json jy = ParseLine(y);
    return !jx.is_discarded() && Shallow(jx) && Shallow(jy) && jx == jy;
}

}  // namespace

const char *FirstDifference(const Row &a, const Row &b) { return FirstDifference(a, b, false); }

const char *FirstDifference(const Row &a, const Row &b, bool jsonSame) {
    for (int i = 0; i < kColumnCount; ++i) {
        const Field &x = a[i], &y = b[i];
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
            case ColumnKind::kJson: same = jsonSame || SameJson(x.text, y.text); break;
            default: same = x.text == y.text; break;
            }
        }
        if (!same) return kColumns[i].name;
    }
    return nullptr;
}

}  // namespace qz45trail
