// Pieces that several of the review page's pages are made of.
#include "page_parts.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "event/event_types.h"
#include "html.h"
#include "trail_view.h"
#include "url.h"
#include "utc_time.h"

namespace qz45trail {

std::string TimeCell(const PageContext &context, const UtcTime &t) {
    return "<td class=\"time\" title=\"" + UtcText(t) + " UTC\">" + Html(context.timeText(t)) +
           "</td>";
}

std::string CategoryName(long long number) {
    return number < INT32_MIN || number > INT32_MAX
               ? ""
               : qz45::EventCategoryName(static_cast<int32_t>(number));
}

std::string TypesOf(int category) {
    std::string names;
    std::vector<std::string> seen;  // 48 and 49 share a name
    for (const auto &t : qz45::kEventTypes) {
        if (t.category != category) continue;
        if (std::find(seen.begin(), seen.end(), t.name) != seen.end()) continue;
        seen.push_back(t.name);
        names += std::string(names.empty() ? "" : ", ") + t.name;
    }
    return names;
}

std::string Who(const Event &e) { return e.domain + "\\" + e.user; }

std::string Values(const Event &e) {
    const auto one = [](const std::string &type, const std::string &value) {
        if (type.empty()) return std::string();
        if (type == "VT_BSTR") return "\"" + value + "\"";
        std::string shown = value;
        char *end = nullptr;
        const double number = std::strtod(value.c_str(), &end);
        if ((type == "VT_R4" || type == "VT_R8") && !value.empty() && *end == '\0')
            shown = ValueText({{"type", type}, {"value", number}});
        return type.substr(type.rfind('_') + 1) + " " + shown;
    };
    if (e.oldType.empty()) return one(e.newType, e.newValue);
    return one(e.oldType, e.oldValue) + " \xE2\x86\x92 " + one(e.newType, e.newValue);
}

std::string ValueCell(const PageContext &context, const Event &e) {
    return "<td class=\"value\">" + Html(Values(e)) +
           (e.hasSample ? "<span class=\"sample\" title=\"" + UtcText(e.sample) +
                              " UTC\"> (sample of " + Html(context.timeText(e.sample)) + ")</span>"
                        : "") +
           "</td>";
}

bool StoredAfter(const Event &e, double *seconds) {
    if (!e.hasTime || !e.hasSubmitted) return false;
    *seconds = SecondsBetween(e.time, e.submitted);
    return true;
}

bool StoredOffItsTime(const Event &e) {
    double gap = 0;
    return StoredAfter(e, &gap) && std::fabs(gap) > static_cast<double>(kStoredTolerance);
}

std::string SubmittedCell(const PageContext &context, const Event &e) {
    if (!e.hasSubmitted) return "<td class=\"submitted\"></td>";
    double gap = 0;
    const bool known = StoredAfter(e, &gap);
    const bool off = StoredOffItsTime(e);
    const std::string title =
        UtcText(e.submitted) + " UTC" +
        (known ? ", " + std::to_string(std::llround(std::fabs(gap))) +
                     (gap < 0 ? " s before" : " s after") + " its event time"
               : "") +
        (off ? " (more than " + std::to_string(kStoredTolerance) + " s)" : "");
    return std::string("<td class=\"submitted") + (off ? " off" : "") + "\" title=\"" +
           Html(title) + "\">" + Html(context.timeText(e.submitted)) +
           (off ? " <b class=\"flag\">!</b>" : "") + "</td>";
}

namespace {

std::string Input(const EventFilter &f, const char *name, const char *label, const char *type) {
    return std::string("<label>") + label + "<input name=\"" + name + "\" type=\"" + type +
           "\" value=\"" + Html(f.Get(name)) + "\"></label>";
}

std::string MachineSelect(const EventFilter &f, const std::vector<std::string> &machines) {
    std::string select = "<label>machine<select name=\"machine\"><option value=\"\">all</option>";
    for (const std::string &m : machines)
        select += "<option" + std::string(m == f.Get("machine") ? " selected" : "") + " value=\"" +
                  Html(m) + "\">" + Html(m) + "</option>";
    return select + "</select></label>";
}

std::string CategorySelect(const EventFilter &f) {
    std::string select =
        "<label>category / type<select name=\"category\"><option value=\"\">all</option>";
    for (int32_t c = 201; c <= 401; ++c) {
        const char *name = qz45::EventCategoryName(c);
        if (*name == '\0') continue;
        const std::string n = std::to_string(c);
        select += "<option" + std::string(n == f.Get("category") ? " selected" : "") +
                  " value=\"" + n + "\" title=\"" + Html(TypesOf(c)) + "\">" + n + " " + name +
                  "</option>";
    }
    return select + "</select></label>";
}

}  // namespace

std::string FilterForm(const EventFilter &f, const char *action, bool all,
                       const std::vector<std::string> &machines) {
    std::string form = std::string("<form class=\"filter\" id=\"filter\" method=\"get\" "
                                   "action=\"") +
                       action + "\">" +
                       Input(f, "from", "from (local time, included)", "datetime-local") +
                       Input(f, "to", "to (local time, not included)", "datetime-local") +
                       MachineSelect(f, machines);
    if (all) {
        form += Input(f, "user", "user", "text") + Input(f, "descriptor", "descriptor", "text") +
                Input(f, "property", "property", "text") + CategorySelect(f) +
                Input(f, "text", "message contains", "text") +
                "<label class=\"choice\"><input type=\"checkbox\" name=\"stored\" "
                "value=\"off\"" +
                (f.storedOff ? " checked" : "") + "> only those stored more than " +
                std::to_string(kStoredTolerance / 60) + " min off their time</label>";
        form += std::string("<label>sort<select name=\"sort\"><option value=\"time\">newest "
                            "first</option><option value=\"line\"") +
                (f.byLine ? " selected" : "") + ">machine, line</option></select></label>";
    }
    form += "<button id=\"show\" type=\"submit\">Show</button></form>";
    for (const std::string &e : f.errors) form += "<p class=\"error\">" + Html(e) + "</p>";
    return form;
}

std::string EventHead() {
    return "<thead><tr><th scope=\"col\">machine</th><th scope=\"col\">line</th>"
           "<th scope=\"col\">time</th><th scope=\"col\">category</th><th scope=\"col\">event"
           "</th><th scope=\"col\">user</th><th scope=\"col\">descriptor</th><th scope=\"col\">"
           "property</th><th scope=\"col\">old &rarr; new</th><th scope=\"col\" "
           "class=\"message\">why (message)</th><th scope=\"col\">stored</th></tr></thead>";
}

namespace {

// A record's history spans every machine: a value set on one may be set
// back on another.
std::string HistoryLink(const Event &e) {
    return "/history?descriptor=" + UrlEncode(e.descriptor) + "&property=" +
           UrlEncode(e.property);
}

}  // namespace

namespace {

// The columns of a row shown from its line, since the stored ones disagreed.
std::string ForgedFlag(const Event &e) {
    if (e.forged.empty()) return "";
    std::string names;
    for (const std::string &c : e.forged) names += (names.empty() ? "" : ", ") + c;
    return " <strong class=\"forged\">forged column" + std::string(e.forged.size() > 1 ? "s" : "") +
           ": " + Html(names) + "</strong>";
}

}  // namespace

std::string EventRow(const PageContext &context, const Event &e, bool links) {
    std::string descriptor = Html(e.descriptor);
    if (links && !e.descriptor.empty())
        descriptor = "<a href=\"" + Html(HistoryLink(e)) + "\">" + descriptor + "</a>";
    return std::string(e.forged.empty() ? "<tr class=\"event\">" : "<tr class=\"event forged\">") +
           "<td class=\"machine\">" + Html(e.machine) + "</td><td class=\"num line\">" +
           std::to_string(e.line) + ForgedFlag(e) + "</td>" +
           (e.hasTime ? TimeCell(context, e.time) : "<td class=\"time\"></td>") +
           "<td class=\"category\">" +
           (e.hasCategory ? std::to_string(e.category) + " " + Html(CategoryName(e.category))
                          : "") +
           "</td><td>" + Html(e.eventClass) + "</td><td class=\"user\">" + Html(Who(e)) +
           "</td><td class=\"descriptor\">" + descriptor + "</td><td class=\"property\">" +
           Html(e.property) + "</td>" + ValueCell(context, e) + "<td class=\"message\">" +
           Html(e.message) + "</td>" +
           SubmittedCell(context, e) + "</tr>";
}

}  // namespace qz45trail
