#include "table.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "trail_row.h"

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

void PrintTableHeader() {
    std::printf("%-3s %-18s %-4s %-24s %-14s %-10s %-18s %-34s %s\n", "#", "event", "cat",
                "time (UTC)", "user", "descriptor", "property", "value(s)", "message");
}

void PrintTableRow(long long n, const std::string &line) {
    const json e = json::parse(line, nullptr, false);
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
                JsonText(e, "event").c_str(), JsonText(p, "Category").c_str(), time.c_str(),
                Cut(user, 14).c_str(), Cut(JsonText(p, "Descriptor"), 10).c_str(),
                Cut(JsonText(p, "Property"), 18).c_str(), Cut(values, 34).c_str(),
                JsonText(p, "Message").c_str());
    if (p.contains("History"))
        std::printf("    history entry changed: %s\n", JsonText(p["History"], "utc").c_str());
}

}  // namespace qz45trail
