// What the chain watcher makes of a full check of a machine.
#include "watch_status.h"

#include <cctype>

#include "exit_codes.h"
#include "review_pages.h"
#include "utc_time.h"

namespace qz45trail {
namespace {

constexpr char kDash[] = "\xE2\x80\x93";  // en dash

std::string Span(long long from, long long to) {
    return from == to ? "line " + std::to_string(from)
                      : "lines " + std::to_string(from) + kDash + std::to_string(to);
}

}  // namespace

long long LineNamed(const std::string &text) {
    std::size_t at = text.rfind("lines ", 0) == 0 ? 6 : text.rfind("line ", 0) == 0 ? 5 : 0;
    if (at == 0) return 0;
    long long n = 0;
    for (; at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0; ++at) {
        if (n > 100000000000000LL) return 0;
        n = n * 10 + (text[at] - '0');
    }
    return n;
}

MachineStatus StatusOfCheck(const std::string &machine, const LineCensus &census,
                            const Findings &found, long long badLine, const UtcTime &checkedAt) {
    MachineStatus st;
    st.machine = machine;
    st.checked = true;
    st.checkedAt = checkedAt;
    st.stored = census.Stored();
    st.archived = census.Archived();
    st.lastLine = census.Last();
    st.missingLines = census.MissingLines();
    st.missing = census.Missing();
    for (const Finding &f : found.list) {
        if (f.failure) {
            st.checked = false;
            st.failure = f.text;
            return st;
        }
    }
    for (const Finding &f : found.list) {
        if (f.code == kExitOk) continue;
        st.problem = f.text;
        if (f.code == kExitUnchained) {
            st.unproved = true;
        } else {
            st.firstBad = badLine != 0 ? badLine : LineNamed(f.text);
            if (st.firstBad == 0) st.firstBad = 1;
        }
        break;
    }
    return st;
}

bool IsSilent(const MachineStatus &status, const UtcTime &now, long long hours) {
    return !status.hasLastShipped || SecondsBetween(status.lastShipped, now) > hours * 3600;
}

std::string ClockOf(const std::string &timeText) {
    const std::size_t colon = timeText.find(':');
    if (colon == std::string::npos || colon < 2 || colon + 6 > timeText.size()) return timeText;
    return timeText.substr(colon - 2, 8);
}

std::string LinesText(const MachineStatus &status) {
    if (status.lastLine == 0) return "no lines";
    const std::string archived =
        status.archived > 0 ? Span(1, status.archived) + " archived" +
                                  (status.archivedIn.empty() ? "" : " (" + status.archivedIn + ")")
                            : "";
    if (status.lastLine == status.archived) return archived;
    std::string text = (archived.empty() ? "" : archived + ", ") +
                       Span(status.archived + 1, status.lastLine);
    if (status.missingLines == 0) return text;
    text += ": " + std::to_string(status.stored) + " stored, ";
    for (std::size_t i = 0; i < status.missing.size(); ++i)
        text += (i == 0 ? "" : ", ") + Span(status.missing[i].from, status.missing[i].to);
    long long named = 0;
    for (const LineSpan &s : status.missing) named += s.to - s.from + 1;
    if (named < status.missingLines)
        text += " and " + std::to_string(status.missingLines - named) + " more";
    return text + " missing";
}

std::string ChainsChecked(const std::vector<MachineStatus> &machines,
                          const std::function<std::string(const UtcTime &)> &timeText) {
    std::string text;
    for (const MachineStatus &m : machines)
        text += (text.empty() ? "" : "; ") + m.machine + " " + ChainText(m, true, timeText) +
                (m.checked ? " (" + timeText(m.checkedAt) + ")" : "");
    return text.empty() ? text : "\n\nChains checked afresh: " + text;
}

}  // namespace qz45trail
