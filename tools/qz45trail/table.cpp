#include "table.h"

#include <cstdio>
#include <memory>

#include <nlohmann/json.hpp>

#include "exit_codes.h"
#include "trail_file.h"
#include "trail_row.h"
#include "trail_set.h"

using nlohmann::json;

namespace qz45trail {
namespace {

// A value as "VT_R8 2.5" (dates as their UTC text).
std::string ValueText(const json &props, const char *key) {
    if (!props.contains(key)) return "";
    const json &v = props[key];
    const std::string type = JsonText(v, "type");
    const std::string shown = ValueShown(v);
    if (type == "VT_BSTR") return "\"" + shown + "\"";
    return type.substr(type.rfind('_') + 1) + " " + shown;
}

std::string Cut(std::string s, std::size_t n) {
    if (s.size() > n) s = s.substr(0, n - 1) + "~";
    return s;
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

void PrintTableHeader() {
    std::printf("%-3s %-18s %-4s %-24s %-14s %-10s %-18s %-34s %s\n", "#", "event", "cat",
                "time (UTC)", "user", "descriptor", "property", "value(s)", "message");
}

void PrintTableRow(long long n, const std::string &line) {
    const json e = ParseLine(line);
    if (e.is_discarded() || !e.is_object()) {
        std::printf("%-3lld (not a JSON line)\n", n);
        return;
    }
    static const json kNone = json::object();
    const json &p = e.contains("properties") ? e["properties"] : kNone;
    const json &context = e.contains("context") ? e["context"] : kNone;
    std::string values = ValueText(p, "Value");
    if (p.contains("OldValue")) values = ValueText(p, "OldValue") + " -> " + ValueText(p, "NewValue");
    const std::string user = JsonText(context, "Domain") + "\\" + JsonText(context, "User");
    const std::string time = p.contains("EventTime") ? JsonText(p["EventTime"], "utc") : "";
    std::printf("%-3lld %-18s %-4s %-24s %-14s %-10s %-18s %-34s %s\n", n,
                Shown(JsonText(e, "event")).c_str(), Shown(JsonText(p, "Category")).c_str(),
                Shown(time).c_str(), Cut(Shown(user), 14).c_str(),
                Cut(Shown(JsonText(p, "Descriptor")), 10).c_str(),
                Cut(Shown(JsonText(p, "Property")), 18).c_str(), Cut(Shown(values), 34).c_str(),
                Shown(JsonText(p, "Message")).c_str());
    if (p.contains("History"))
        std::printf("    history entry changed: %s\n", Shown(JsonText(p["History"], "utc")).c_str());
}

int PrintTrailFile(const std::string &path) {
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
    PrintTableHeader();
    long long n = 0;
    std::string line;
    for (LineResult r; (r = set.Next(&line)) != LineResult::kEnd;) {
        switch (r) {
        case LineResult::kLine:
            PrintTableRow(set.Number(), line);
            ++n;
            continue;
        case LineResult::kTooLong:
            std::printf("%-3lld (longer than any trail line: the table stops here)\n",
                        set.Number() + 1);
            return kExitBroken;
        case LineResult::kBroken:
            std::printf("%s: %s\n", path.c_str(), set.Error().c_str());
            return kExitBroken;
        default:
            std::fprintf(stderr, "qz45trail: cannot read %s after line %lld: %s\n", path.c_str(),
                         set.Number(), set.Error().c_str());
            return kExitFailed;
        }
    }
    std::printf("%lld event(s) in %s%s\n", n, path.c_str(),
                set.Files() > 1 ? (" and its " + std::to_string(set.Files() - 1) +
                                   " rotated file(s)").c_str()
                                : "");
    if (!set.StartNote().empty()) std::printf("%s\n", set.StartNote().c_str());
    if (set.Unfinished() > 0)
        std::printf("line %lld is unfinished: %llu byte(s) without a line end, not shown\n",
                    set.Number() + 1, static_cast<unsigned long long>(set.Unfinished()));
    return kExitOk;
}

}  // namespace qz45trail
