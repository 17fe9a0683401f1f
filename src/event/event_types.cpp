#include "event/event_types.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>

namespace qz45 {

const EventTypeInfo kEventTypes[kEventTypeCount] = {
    {0, "Uninitialized", 0},
    {1, "Save Snapshot", 209},
    {2, "Restore Snapshot", 209},
    {3, "Change Parameters", 301},
    {4, "Startup", 206},
    {5, "Shutdown", 207},
    {6, "Save Snapshot Denied", 203},
    {7, "Restore Snapshot Denied", 203},
    {8, "Startup Denied", 203},
    {9, "Shutdown Denied", 203},
    {10, "DB Read Denied", 203},
    {11, "DB Write Denied", 203},
    {12, "DB Change Security Denied", 203},
    {13, "Enable Audit Trail Denied", 203},
    {14, "Disable Audit Trail Denied", 203},
    {15, "Enable CFR11 Mode Denied", 203},
    {16, "Disable CFR11 Mode Denied", 203},
    {17, "DB Admin Denied", 203},
    {18, "Read Denied", 203},
    {19, "Write Denied", 203},
    {20, "Activate Denied", 203},
    {21, "Delete Denied", 203},
    {22, "Create Denied", 203},
    {23, "Set Usable Denied", 203},
    {24, "Set Unusable Denied", 203},
    {25, "Change Security Denied", 203},
    {26, "Create Record", 201},
    {27, "Delete Record", 202},
    {28, "Activate Record", 205},
    {29, "Set Record Usable", 205},
    {30, "Set Record Unusable", 205},
    {31, "Change DB Security", 301},
    {32, "Change Record Security", 301},
    {33, "Enable Audit Trail", 208},
    {34, "Disable Audit Trail", 208},
    {35, "Enable CFR11 Mode", 208},
    {36, "Disable CFR11 Mode", 208},
    {37, "Change Value", 301},
    {38, "Change History Value", 401},
    {39, "Start Task", 209},
    {40, "Stop Task", 209},
    {41, "Add Task", 209},
    {42, "Update Task", 209},
    {43, "Remove Task", 209},
    {44, "Move Task Up", 209},
    {45, "Move Task Down", 209},
    {46, "Enable Start at Boot", 209},
    {47, "Disable Start at Boot", 209},
    {48, "Stop QZ45 Task Server", 209},
    {49, "Stop QZ45 Task Server", 209},
    {50, "Start Upgrade", 209},
    {51, "Stop Upgrade", 209},
    {52, "Start The Upgrade Wizard", 209},
    {53, "Stop The Upgrade Wizard", 209},
};

std::string NameKey(const std::string &name) {
    std::string out;
    for (char c : name)
        if (c != ' ' && c != '-' && c != '_' && c != ',')
            out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::vector<int32_t> EventTypesNamed(const std::string &text) {
    std::vector<int32_t> out;
    const std::string wanted = NameKey(text);
    for (const auto &t : kEventTypes)
        if (NameKey(t.name) == wanted) out.push_back(t.type);
    return out;
}

std::optional<int32_t> ParseEventType(const std::string &text) {
    if (!text.empty()) {
        errno = 0;
        char *end = nullptr;
        const long long v = std::strtoll(text.c_str(), &end, 10);
        if (errno == 0 && *end == '\0' && v >= INT32_MIN && v <= INT32_MAX)
            return static_cast<int32_t>(v);
    }
    const std::vector<int32_t> named = EventTypesNamed(text);
    if (named.size() == 1) return named[0];
    return std::nullopt;
}

int32_t EventCategoryOf(uint32_t type) {
    return type < kEventTypeCount ? kEventTypes[type].category : 0;
}

const char *EventTypeName(uint32_t type) {
    return type < kEventTypeCount ? kEventTypes[type].name : nullptr;
}

const char *EventCategoryName(int32_t category) {
    switch (category) {
    case 201: return "create";
    case 202: return "delete";
    case 203: return "refused";
    case 205: return "activation, usability";
    case 206: return "start-up";
    case 207: return "shutdown";
    case 208: return "audit trail, CFR11 mode";
    case 209: return "snapshots, tasks, upgrades";
    case 301: return "change";
    case 401: return "history change";
    default: return "";
    }
}

}  // namespace qz45
