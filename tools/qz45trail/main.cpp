// qz45trail: prints an audit-trail file of the reference audit service (one
// JSON object per line) as a table, or checks its hash chain.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "verify.h"

using nlohmann::json;

namespace {

std::string Text(const json &j, const char *key) {
    if (!j.is_object() || !j.contains(key)) return "";
    const json &v = j[key];
    if (v.is_string()) return v.get<std::string>();
    return v.dump();
}

// A value as "VT_R8 2.5" (dates as their UTC text).
std::string ValueText(const json &props, const char *key) {
    if (!props.contains(key)) return "";
    const json &v = props[key];
    std::string type = Text(v, "type");
    std::string shown = v.contains("utc") ? Text(v, "utc") : Text(v, "value");
    if (type == "VT_BSTR") return "\"" + shown + "\"";
    return type.substr(type.rfind('_') + 1) + " " + shown;
}

std::string Cut(std::string s, std::size_t n) {
    if (s.size() > n) s = s.substr(0, n - 1) + "~";
    return s;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && std::strcmp(argv[1], "verify") == 0) return VerifyTrail(argv[2]);
    if (argc != 2 || std::strcmp(argv[1], "verify") == 0) {
        std::fprintf(stderr, "usage: qz45trail FILE          the trail as a table\n"
                             "       qz45trail verify FILE   check the trail's hash chain\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    if (!in) {
        std::fprintf(stderr, "qz45trail: cannot read %s\n", argv[1]);
        return 1;
    }
    std::printf("%-3s %-18s %-4s %-24s %-14s %-10s %-18s %-34s %s\n", "#", "event", "cat",
                "time (UTC)", "user", "descriptor", "property", "value(s)", "message");
    int n = 0;
    for (std::string line; std::getline(in, line);) {
        json e = json::parse(line, nullptr, false);
        if (e.is_discarded()) {
            std::printf("%-3d (not a JSON line)\n", ++n);
            continue;
        }
        const json &p = e["properties"];
        std::string values = ValueText(p, "Value");
        if (p.contains("OldValue"))
            values = ValueText(p, "OldValue") + " -> " + ValueText(p, "NewValue");
        std::string user = Text(e["context"], "Domain") + "\\" + Text(e["context"], "User");
        std::printf("%-3d %-18s %-4s %-24s %-14s %-10s %-18s %-34s %s\n", ++n,
                    Text(e, "event").c_str(), Text(p, "Category").c_str(),
                    Text(p["EventTime"], "utc").c_str(), Cut(user, 14).c_str(),
                    Cut(Text(p, "Descriptor"), 10).c_str(), Cut(Text(p, "Property"), 18).c_str(),
                    Cut(values, 34).c_str(), Text(p, "Message").c_str());
        if (p.contains("History"))
            std::printf("    history entry changed: %s\n", Text(p["History"], "utc").c_str());
    }
    std::printf("%d event(s) in %s\n", n, argv[1]);
    return 0;
}
