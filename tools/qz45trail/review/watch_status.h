// What the chain watcher makes of a full check of a machine, as plain values
// and words: platform-free, so that the page's texts are tested natively.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "findings.h"
#include "line_census.h"
#include "review_data.h"

namespace qz45trail {

// The first line a finding names ("line 5: ...", "lines 5-7 ...": 5); 0
// when it starts with no line.
long long LineNamed(const std::string &text);

// A machine's status from a full check of its rows: census, the lines it
// saw; found, its findings; badLine, the row the check stopped at (0: none).
MachineStatus StatusOfCheck(const std::string &machine, const LineCensus &census,
                            const Findings &found, long long badLine, const UtcTime &checkedAt);

// Whether a machine has shipped nothing for longer than hours (never
// shipped counts as silent).
bool IsSilent(const MachineStatus &status, const UtcTime &now, long long hours);

// "10:15:00" out of a time as a page shows it ("2026-12-08 10:15:00.250
// +01:00"); the text itself when it holds no clock time.
std::string ClockOf(const std::string &timeText);

// "lines 1–138", or with numbers missing "lines 1–138: 137 stored, line 138
// missing"; "no lines" when it saw none.
std::string LinesText(const MachineStatus &status);

// What a review records of the fresh check made for it, after the
// reviewer's remark: "\n\nChains checked afresh: m1 intact, lines 1–9,
// checked 10:15:00 (2026-12-08 10:15:00 +01:00)"; "" for no machines.
std::string ChainsChecked(const std::vector<MachineStatus> &machines,
                          const std::function<std::string(const UtcTime &)> &timeText);

// What the page checks in the background, and how often.
struct WatchOptions {
    long long checkIntervalSeconds = 5;  // the pause between full passes
    long long silentAfterHours = 24;     // a machine that shipped nothing longer is silent
    long long acceptUnchained = -1;      // lines without chain members accepted (-1: none)
};

// The full passes over every machine, numbered as they start: a fresh check
// waits for one that started after it asked.
struct PassCount {
    long long started = 0;   // the last pass started
    long long finished = 0;  // the last pass that checked every machine
    long long failed = 0;    // the last pass that could not

    // The pass a fresh check asked for now waits for.
    long long Fresh() const { return started + 1; }
    void Start() { ++started; }
    void End(bool ok) { (ok ? finished : failed) = started; }
    bool Finished(long long pass) const { return finished >= pass; }
    bool Failed(long long pass) const { return failed >= pass && finished < pass; }
};

}  // namespace qz45trail
