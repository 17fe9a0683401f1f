// The review page's filter, read from a query string, and case folding as
// the console's filter compares texts.
#include "review_filter.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "url.h"
#include "utc_time.h"
#include "view_filter.h"

namespace qz45trail {

std::string FormField(const std::map<std::string, std::string> &fields, const char *name) {
    const auto f = fields.find(name);
    return f == fields.end() ? "" : f->second;
}

std::string EventFilter::Get(const char *name) const { return FormField(fields, name); }

std::string EventFilter::Query() const {
    std::string q;
    for (const auto &f : fields) {
        if (f.first == "page" || f.first == "after" || f.first == "before" ||
            f.first == "token" || f.second.empty())
            continue;
        q += (q.empty() ? "" : "&") + UrlEncode(f.first) + "=" + UrlEncode(f.second);
    }
    return q;
}

std::string EventFilter::Describe() const {
    std::string d;
    for (const char *name :
         {"from", "to", "machine", "user", "descriptor", "property", "category", "text"}) {
        const std::string v = Get(name);
        if (!v.empty()) d += std::string(d.empty() ? "" : ", ") + name + " " + v;
    }
    if (storedOff)
        d += std::string(d.empty() ? "" : ", ") + "stored more than " +
             std::to_string(kStoredTolerance) + " s off its time";
    return d.empty() ? "all events" : d;
}

namespace {

// A time field: absent, read, or an error said.
bool ReadTime(const EventFilter &f, const char *name, const LocalTimeReader &localToUtc,
              UtcTime *out, std::vector<std::string> *errors) {
    const std::string text = f.Get(name);
    if (text.empty()) return false;
    if (localToUtc(text, out)) return true;
    errors->push_back(std::string(name) + ": \"" + text +
                      "\" is not a time (2026-12-08 or 2026-12-08T10:15)");
    return false;
}

}  // namespace

namespace {

// A category: a number a category can be, else an error said.
void ReadCategory(EventFilter *f) {
    const std::string category = f->Get("category");
    if (category.empty()) return;
    char *end = nullptr;
    errno = 0;
    f->category = std::strtoll(category.c_str(), &end, 10);
    if (*end != '\0') {
        f->errors.push_back("category: \"" + category + "\" is not a number");
    } else if (errno != 0 || f->category < INT32_MIN || f->category > INT32_MAX) {
        f->errors.push_back("category: \"" + category + "\" is out of range: a category is a "
                            "number from 201 to 401");
    } else {
        f->hasCategory = true;
    }
}

// The console's filter of the fields given, as its options would give them.
void ReadViewFields(EventFilter *f) {
    ViewOptions options;
    options.machine = f->machine;
    options.user = f->Get("user");
    options.descriptor = f->descriptor;
    options.property = f->property;
    if (f->hasCategory) options.category = std::to_string(f->category);
    const ViewFilterReading reading = ReadViewFilter(options);
    f->view = reading.filter;
    if (f->hasFrom) f->view.since = f->from;
    if (f->hasTo) f->view.until = f->to;
}

bool Before(const UtcTime &a, const UtcTime &b) { return SecondsBetween(a, b) > 0; }

}  // namespace

EventFilter ReadFilter(const std::string &query, const LocalTimeReader &localToUtc) {
    EventFilter f;
    f.fields = ParseForm(query);
    f.hasFrom = ReadTime(f, "from", localToUtc, &f.from, &f.errors);
    f.hasTo = ReadTime(f, "to", localToUtc, &f.to, &f.errors);
    if (f.hasFrom && f.hasTo && !Before(f.from, f.to))
        f.errors.push_back("to: " + f.Get("to") + " is not after from: " + f.Get("from") +
                           " (from includes its time, to does not): no event is in between");
    f.machine = f.Get("machine");
    const std::string user = f.Get("user");
    const std::size_t slash = user.find('\\');
    f.hasDomain = slash != std::string::npos;
    f.domain = f.hasDomain ? user.substr(0, slash) : "";
    f.user = f.hasDomain ? user.substr(slash + 1) : user;
    f.descriptor = f.Get("descriptor");
    f.property = f.Get("property");
    ReadCategory(&f);
    f.text = f.Get("text");
    f.storedOff = f.Get("stored") == "off";
    if (!f.storedOff && !f.Get("stored").empty())
        f.errors.push_back("stored: \"" + f.Get("stored") + "\" is not a choice (off)");
    f.page = std::max(0LL, std::strtoll(f.Get("page").c_str(), nullptr, 10));
    f.byLine = f.Get("sort") == "line";
    if (!f.Get("after").empty() && !ReadSeekKey(f.Get("after"), &f.after))
        f.errors.push_back("after: \"" + f.Get("after") + "\" is not a row of this page");
    if (!f.Get("before").empty() && !ReadSeekKey(f.Get("before"), &f.before))
        f.errors.push_back("before: \"" + f.Get("before") + "\" is not a row of this page");
    ReadViewFields(&f);
    return f;
}

std::string HistoryQuery::Query() const {
    return (machine.empty() ? "" : "machine=" + UrlEncode(machine) + "&") +
           "descriptor=" + UrlEncode(descriptor) +
           (property.empty() ? "" : "&property=" + UrlEncode(property));
}

HistoryQuery ReadHistoryQuery(const std::map<std::string, std::string> &form) {
    HistoryQuery q;
    q.machine = FormField(form, "machine");
    q.descriptor = FormField(form, "descriptor");
    q.property = FormField(form, "property");
    q.page = std::max(0LL, std::strtoll(FormField(form, "page").c_str(), nullptr, 10));
    for (const auto &[name, key] : {std::pair<const char *, SeekKey *>{"after", &q.after},
                                    std::pair<const char *, SeekKey *>{"before", &q.before}}) {
        const std::string text = FormField(form, name);
        if (!text.empty() && !ReadSeekKey(text, key))
            q.errors.push_back(std::string(name) + ": \"" + text + "\" is not a row of this page");
    }
    return q;
}

std::string SeekKeyText(const SeekKey &key) {
    return (key.hasTime ? UtcText(key.time) : "") + "," + std::to_string(key.line) + "," +
           key.machine;
}

bool ReadSeekKey(const std::string &text, SeekKey *key) {
    const std::size_t first = text.find(',');
    const std::size_t second = first == std::string::npos ? first : text.find(',', first + 1);
    if (second == std::string::npos) return false;
    SeekKey k;
    k.hasTime = first > 0;
    if (k.hasTime && !ParseUtc(text.substr(0, first), &k.time)) return false;
    const std::string line = text.substr(first + 1, second - first - 1);
    char *end = nullptr;
    errno = 0;
    k.line = std::strtoll(line.c_str(), &end, 10);
    if (line.empty() || *end != '\0' || errno != 0) return false;
    k.machine = text.substr(second + 1);
    k.given = true;
    *key = k;
    return true;
}

namespace {

// UTF-8 of a code point below U+10000.
std::string Utf8(uint32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// The length of the UTF-8 sequence a byte starts; 1 for a byte that starts none.
std::size_t SequenceLength(unsigned char c) {
    if (c >= 0xC2 && c <= 0xDF) return 2;
    if (c >= 0xE0 && c <= 0xEF) return 3;
    if (c >= 0xF0 && c <= 0xF4) return 4;
    return 1;
}

// Every code point SameIgnoringCase takes for another one: the letters of
// the Latin, Greek and Cyrillic alphabets and the full-width Latin ones.
CaseFolding MakeCaseFolding() {
    std::vector<std::string> letters;
    for (const auto &range : {std::pair<uint32_t, uint32_t>{0x41, 0x5A},
                              {0x61, 0x7A},
                              {0xC0, 0x17F},
                              {0x370, 0x3FF},
                              {0x400, 0x45F},
                              {0xFF21, 0xFF5A}})
        for (uint32_t c = range.first; c <= range.second; ++c) letters.push_back(Utf8(c));
    CaseFolding folding;
    std::vector<std::size_t> first(letters.size());
    for (std::size_t j = 0; j < letters.size(); ++j) {
        first[j] = j;
        for (std::size_t i = 0; i < j && first[j] == j; ++i)
            if (SameIgnoringCase(letters[i], letters[j])) first[j] = first[i];
        if (first[j] == j) continue;
        folding.from += letters[j];
        folding.to += letters[first[j]];
    }
    return folding;
}

}  // namespace

const CaseFolding &TheCaseFolding() {
    static const CaseFolding folding = MakeCaseFolding();
    return folding;
}

std::string FoldCase(std::string_view text) {
    const CaseFolding &f = TheCaseFolding();
    std::string folded;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t n = std::min(SequenceLength(static_cast<unsigned char>(text[at])),
                                       text.size() - at);
        const std::string_view c = text.substr(at, n);
        // Code points of the same length in from and to stand at the same
        // places: each of from's is found where to's is.
        std::size_t in = 0, out = 0;
        bool found = false;
        while (in < f.from.size()) {
            const std::size_t m = SequenceLength(static_cast<unsigned char>(f.from[in]));
            const std::size_t k = SequenceLength(static_cast<unsigned char>(f.to[out]));
            if (f.from.compare(in, m, c) == 0) {
                folded.append(f.to, out, k);
                found = true;
                break;
            }
            in += m;
            out += k;
        }
        if (!found) folded += c;
        at += n;
    }
    return folded;
}

std::string CaseBlindPattern(std::string_view text) {
    std::string pattern;
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c >= 0x80) {
            pattern += '_';
            at += std::min(SequenceLength(c), text.size() - at);
            continue;
        }
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += static_cast<char>(c);
        ++at;
    }
    return pattern;
}

std::string ContainsPattern(std::string_view text) {
    std::string pattern = "%";
    for (const char c : text) {
        if (c == '%' || c == '_' || c == '\\') pattern += '\\';
        pattern += c;
    }
    return pattern + "%";
}

void DefaultToLastWeek(EventFilter *f, const UtcTime &now) {
    if (f->hasFrom || f->hasTo || !f->errors.empty()) return;
    f->hasTo = true;
    f->to = now;
    f->hasFrom = true;
    f->from = AddSeconds(now, -7 * 86400);
    f->hasDomain = f->hasCategory = false;
    f->domain = f->user = f->descriptor = f->property = f->text = "";
    const std::string machine = f->view.machine;
    f->view = RowFilter{};
    f->view.machine = machine;
    f->view.since = f->from;
    f->view.until = f->to;
}

}  // namespace qz45trail
