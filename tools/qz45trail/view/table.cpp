// The console view: the table, CSV and JSON Lines rows of a trail's lines, and
// the view of a trail file.
#include "table.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include <nlohmann/json.hpp>

#include "event/event_rules.h"
#include "event/event_types.h"
#include "computer_name.h"
#include "csv.h"
#include "exit_codes.h"
#include "local_time.h"
#include "sha256.h"
#include "trail_file.h"
#include "trail_row.h"
#include "trail_set.h"
#include "utc_time.h"
#include "view_filter.h"
#include "win_text.h"

using nlohmann::json;
using nlohmann::ordered_json;

namespace qz45trail {
namespace {

// The columns of the table: heading and width (in terminal columns).
struct TableColumn {
    const char *heading;
    std::size_t width;
};
enum { kColLine, kColTime, kColSubmitted, kColGap, kColCategory, kColClass, kColApp, kColUser,
       kColDescriptor, kColProperty, kColValues, kTableColumns };
const TableColumn kTable[kTableColumns] = {
    {"line", 6},       {"event time", 26}, {"submitted", 26},  {"gap", 8},
    {"category", 20},  {"class", 18},      {"application", 18}, {"user", 16},
    {"descriptor", 14}, {"property", 12},  {"value(s)", 30},
};

const json &Member(const json &object, const char *key) {
    static const json kNone;
    if (!object.is_object()) return kNone;
    const auto found = object.find(key);
    return found == object.end() ? kNone : *found;
}

// A value as the table shows it: "R8 2.5", "BSTR" values quoted.
std::string ValueCell(const json &value) {
    if (!value.is_object()) return "";
    const std::string type = JsonText(value, "type");
    if (type == "VT_BSTR") return "\"" + ValueText(value) + "\"";
    return type.substr(type.rfind('_') + 1) + " " + ValueText(value);
}

// A value as JSON: {"type": "VT_R4", "value": 0.1}, a number as ValueText
// writes it, a date as its UTC text; null when absent.
ordered_json ValueJson(const json &value) {
    if (!value.is_object()) return nullptr;
    ordered_json out = ordered_json::object();
    out["type"] = value.contains("type") ? ordered_json(JsonText(value, "type")) : ordered_json();
    const json &v = Member(value, "value");
    if (value.contains("utc")) {
        out["value"] = JsonText(value, "utc");
    } else if (v.is_number_float()) {
        const std::string text = ValueText(value);
        char *end = nullptr;
        const double d = std::strtod(text.c_str(), &end);
        out["value"] = *end == '\0' ? ordered_json(d) : ordered_json(v.get<double>());
    } else {
        out["value"] = ordered_json::parse(v.dump(), nullptr, false);
    }
    return out;
}

// "2024-05-06 09:08:09 +02:00": local time with its offset from UTC, or UTC.
std::string TimeCell(const Field &time, bool utc) {
    if (time.null) return "";
    UtcTime t = time.time;
    t.nanoseconds = 0;
    return OffsetTimeText(t, utc ? t : ToLocal(t), false);
}

// The gap from submission to event time, when both are there.
bool Gap(const Row &row, double *seconds) {
    if (row[kEventTime].null || row[kSubmitted].null) return false;
    *seconds = SecondsBetween(row[kSubmitted].time, row[kEventTime].time);
    return true;
}

// "-3d", "+12m", "-45s": a gap in its largest unit.
std::string GapText(double seconds) {
    const double a = std::fabs(seconds);
    char text[32];
    const char sign = seconds < 0 ? '-' : '+';
    if (a < 120) std::snprintf(text, sizeof text, "%c%.0fs", sign, a);
    else if (a < 7200) std::snprintf(text, sizeof text, "%c%.0fm", sign, a / 60);
    else if (a < 172800) std::snprintf(text, sizeof text, "%c%.0fh", sign, a / 3600);
    else std::snprintf(text, sizeof text, "%c%.0fd", sign, a / 86400);
    return text;
}

std::string CategoryText(const Row &row) {
    if (row[kCategory].null) return "";
    const long long c = row[kCategory].number;
    const char *name = qz45::EventCategoryName(static_cast<int32_t>(c));  // a 32-bit number
    return std::to_string(c) + (*name != '\0' ? std::string(" ") + name : "");
}

}  // namespace

std::string Shown(const std::string &text) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        // U+0080-U+009F: C2 80 to C2 9F in UTF-8.
        const bool c1 = c == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c < 0x20 || c == 0x7F) out += {'\\', 'x', kDigits[c >> 4], kDigits[c & 15]};
        else if (c1) {
            const auto d = static_cast<unsigned char>(text[++i]);
            out += {'\\', 'u', '0', '0', kDigits[d >> 4], kDigits[d & 15]};
        } else out.push_back(static_cast<char>(c));
    }
    return out;
}

TrailView::TrailView(ViewOptions options) : options_(std::move(options)) {}

bool TrailView::Prepare() {
    const ViewFilterReading reading = ReadViewFilter(options_);
    if (!reading.error.empty()) {
        std::fprintf(stderr, "qz45trail: %s\n", reading.error.c_str());
        return false;
    }
    if (!reading.note.empty()) std::fprintf(stderr, "qz45trail: %s\n", reading.note.c_str());
    filter_ = reading.filter;
    return true;
}

void TrailView::Begin() {
    if (options_.format != "table") {
        // The texts exactly: no line end of theirs made CR LF.
        std::fflush(stdout);
        _setmode(_fileno(stdout), _O_BINARY);
    }
    if (options_.format == "csv")
        std::fputs("machine,line,event_class,category,category_name,event_time,submitted,"
                   "gap_seconds,flagged,app_key,app_name,application_id,domain,user,path,area,"
                   "descriptor,descriptor_type,unit,property,old_type,old_value,new_type,"
                   "new_value,value_type,value,history,severity,ref_id,message\r\n", stdout);
    if (!Table()) return;
    std::string heading;
    for (int i = 0; i < kTableColumns; ++i) {
        std::string h = kTable[i].heading;
        if (i == kColTime) h += options_.utc ? " (UTC)" : " (local)";
        heading += Fitted(h, kTable[i].width, false) + " ";
    }
    std::printf("%smessage\n", heading.c_str());
}

void TrailView::Machine(const std::string &machine) {
    if (!Table() || (headed_ && machine == machine_)) return;
    std::printf("== %s\n", Shown(machine).c_str());
    machine_ = machine;
    headed_ = true;
}

void TrailView::Note(const std::string &text) const {
    std::fprintf(Table() ? stdout : stderr, "%s\n", text.c_str());
}

void TrailView::Line(const std::string &machine, long long n, const std::string &line) {
    Row row;
    std::string why;
    if (!RowFromLine(machine, n, line, &row, &why)) {
        // Which filter it would pass cannot be told: it is shown whatever they say.
        Machine(machine);
        if (Table()) std::printf("%-6lld (not a trail line: %s)\n", n, why.c_str());
        else std::fprintf(stderr, "qz45trail: %s line %lld is not a trail line (%s)\n",
                          Shown(machine).c_str(), n, why.c_str());
        ++shown_;
        return;
    }
    if (!Matches(filter_, row)) return;
    double gap = 0;
    if (Gap(row, &gap) && std::fabs(gap) > static_cast<double>(options_.tolerance)) ++flagged_;
    ++shown_;
    const json e = ParseLine(line);
    if (options_.format == "csv") CsvRow(row, e);
    else if (options_.format == "json") JsonRow(row, e);
    else {
        Machine(machine);
        TableRow(n, row, e);
    }
}

void TrailView::TableRow(long long n, const Row &row, const json &e) {
    const json &p = Member(e, "properties");
    const json &context = Member(e, "context");
    const bool cut = !options_.wide;
    std::string values = ValueCell(Member(p, "Value"));
    if (p.contains("OldValue"))
        values = ValueCell(Member(p, "OldValue")) + " -> " + ValueCell(Member(p, "NewValue"));
    const std::string domain = JsonText(context, "Domain");
    const std::string user = (domain.empty() ? "" : domain + "\\") + JsonText(context, "User");
    double gap = 0;
    const bool gapKnown = Gap(row, &gap);
    const bool flagged = gapKnown && std::fabs(gap) > static_cast<double>(options_.tolerance);
    const std::string cells[kTableColumns] = {
        std::to_string(n),
        TimeCell(row[kEventTime], options_.utc),
        TimeCell(row[kSubmitted], options_.utc),
        flagged ? "!" + GapText(gap) : "",
        CategoryText(row),
        JsonText(e, "event"),
        JsonText(p, "AppKey"),
        user,
        JsonText(p, "Descriptor"),
        JsonText(p, "Property"),
        values,
    };
    std::string text;
    for (int i = 0; i < kTableColumns; ++i)
        text += Fitted(Shown(cells[i]), kTable[i].width, cut, i == kColApp) + " ";
    std::printf("%s%s\n", text.c_str(), Shown(JsonText(p, "Message")).c_str());
    if (p.contains("History")) {
        Field history;
        history.null = !ParseUtc(JsonText(Member(p, "History"), "utc"), &history.time);
        std::printf("       history entry changed: %s\n",
                    history.null ? Shown(JsonText(Member(p, "History"), "utc")).c_str()
                                 : TimeCell(history, options_.utc).c_str());
    }
}

void TrailView::CsvRow(const Row &row, const json &e) {
    const json &p = Member(e, "properties");
    const json &context = Member(e, "context");
    double gap = 0;
    const bool gapKnown = Gap(row, &gap);
    char gapText[32] = "";
    if (gapKnown) std::snprintf(gapText, sizeof gapText, "%.3f", gap);
    const auto value = [&p](const char *key, std::string *type) {
        const json &v = Member(p, key);
        *type = JsonText(v, "type");
        return v.is_object() ? ValueText(v) : "";
    };
    std::string oldType, newType, valueType;
    const std::string oldValue = value("OldValue", &oldType), newValue = value("NewValue", &newType),
                      plain = value("Value", &valueType);
    const std::vector<std::string> fields = {
        row[kMachine].text, std::to_string(row[kLineNo].number), JsonText(e, "event"),
        row[kCategory].null ? "" : std::to_string(row[kCategory].number),
        row[kCategory].null ? "" : qz45::EventCategoryName(static_cast<int32_t>(row[kCategory].number)),
        JsonText(Member(p, "EventTime"), "utc"), JsonText(e, "submitted"), gapText,
        gapKnown ? (std::fabs(gap) > static_cast<double>(options_.tolerance) ? "1" : "0") : "",
        JsonText(p, "AppKey"), JsonText(context, "AppName"), JsonText(context, "ApplicationId"),
        JsonText(context, "Domain"), JsonText(context, "User"), JsonText(p, "Path"),
        JsonText(p, "Area"), JsonText(p, "Descriptor"), JsonText(p, "DescriptorType"),
        JsonText(p, "Unit"), JsonText(p, "Property"), oldType, oldValue, newType, newValue,
        valueType, plain, JsonText(Member(p, "History"), "utc"), JsonText(p, "Severity"),
        JsonText(p, "RefId"), JsonText(p, "Message"),
    };
    const std::string out = CsvRecord(fields);
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void TrailView::JsonRow(const Row &row, const json &e) {
    const json &p = Member(e, "properties");
    const json &context = Member(e, "context");
    const auto text = [](const json &object, const char *key) {
        const json &v = Member(object, key);
        return v.is_null() ? ordered_json() : ordered_json(JsonText(object, key));
    };
    ordered_json o = ordered_json::object();
    o["machine"] = row[kMachine].text;
    o["line"] = row[kLineNo].number;
    o["event_class"] = JsonText(e, "event");
    o["category"] = row[kCategory].null ? ordered_json() : ordered_json(row[kCategory].number);
    o["category_name"] = row[kCategory].null
                             ? ordered_json()
                             : ordered_json(qz45::EventCategoryName(
                                   static_cast<int32_t>(row[kCategory].number)));
    o["event_time"] = text(Member(p, "EventTime"), "utc");
    o["submitted"] = text(e, "submitted");
    double gap = 0;
    const bool gapKnown = Gap(row, &gap);
    o["gap_seconds"] = gapKnown ? ordered_json(std::round(gap * 1000) / 1000) : ordered_json();
    o["flagged"] = gapKnown && std::fabs(gap) > static_cast<double>(options_.tolerance);
    o["app_key"] = text(p, "AppKey");
    o["app_name"] = text(context, "AppName");
    o["application_id"] = text(context, "ApplicationId");
    o["domain"] = text(context, "Domain");
    o["user"] = text(context, "User");
    o["path"] = text(p, "Path");
    o["area"] = text(p, "Area");
    o["descriptor"] = text(p, "Descriptor");
    o["descriptor_type"] = text(p, "DescriptorType");
    o["unit"] = text(p, "Unit");
    o["property"] = text(p, "Property");
    o["old"] = ValueJson(Member(p, "OldValue"));
    o["new"] = ValueJson(Member(p, "NewValue"));
    o["value"] = ValueJson(Member(p, "Value"));
    o["history"] = text(Member(p, "History"), "utc");
    o["severity"] = Member(p, "Severity").is_null() ? ordered_json()
                                                    : ordered_json::parse(Member(p, "Severity").dump(),
                                                                          nullptr, false);
    o["ref_id"] = text(p, "RefId");
    o["message"] = text(p, "Message");
    const std::string out = o.dump(-1, ' ', false, ordered_json::error_handler_t::replace) + "\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void TrailView::End(const std::string &where) {
    std::fflush(stdout);
    if (!Table()) return;
    std::printf("%lld event(s) %s\n", shown_, where.c_str());
    std::printf("%lld with an event time more than %lld s before or after their submission "
                "(marked ! in column gap)\n", flagged_, options_.tolerance);
}

int PrintTrailFile(const std::string &path, const ViewOptions &options) {
    ViewOptions o = options;
    if (o.machine.empty()) o.machine = ComputerName();
    TrailView view(o);
    if (!view.Prepare()) return kExitUsage;
    std::string error;
    FileIdentity id;
    if (TrailFile::IdentityOf(path, &id, &error) != TrailFile::OpenResult::kOpened) {
        std::fprintf(stderr, "qz45trail: cannot read %s: %s\n", path.c_str(), error.c_str());
        return kExitFailed;
    }
    // The whole trail: its rotated files first, numbered on across them.
    TrailSetReader set(path);
    if (!set.Open(&error)) {
        std::fprintf(stderr, "qz45trail: %s\n", error.c_str());
        return kExitFailed;
    }
    view.Begin();
    view.Machine(o.machine);
    std::string line;
    for (LineResult r; (r = set.Next(&line)) != LineResult::kEnd;) {
        switch (r) {
        case LineResult::kLine:
            view.Line(o.machine, set.Number(), line);
            continue;
        case LineResult::kTooLong:
            view.Note("line " + std::to_string(set.Number() + 1) +
                      " is longer than any trail line: the view stops there");
            return kExitBroken;
        case LineResult::kBroken:
            view.Note(path + ": " + set.Error());
            return kExitBroken;
        default:
            std::fprintf(stderr, "qz45trail: cannot read %s after line %lld: %s\n", path.c_str(),
                         set.Number(), set.Error().c_str());
            return kExitFailed;
        }
    }
    view.End("in " + path +
             (set.Files() > 1
                  ? " and its " + std::to_string(set.Files() - 1) + " rotated file(s)"
                  : ""));
    if (!set.StartNote().empty()) view.Note(set.StartNote());
    if (set.Unfinished() > 0)
        view.Note("line " + std::to_string(set.Number() + 1) + " is unfinished: " +
                  std::to_string(static_cast<unsigned long long>(set.Unfinished())) +
                  " byte(s) without a line end, not shown");
    return kExitOk;
}

}  // namespace qz45trail
