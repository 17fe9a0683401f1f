// What the database holds of this trail already, checked against the file.
#include "shipped_lines.h"

#include "sha256.h"
#include "ship_errors.h"
#include "stored_lines.h"
#include "trail_row.h"
#include "trail_set.h"

namespace qz45trail {
namespace {

// The lines read for a trail's first chained line before its first line
// stands for it.
constexpr long long kFingerprintLines = 1000;

// A trail's first chained line among its first kFingerprintLines or, with
// none, its first line; lineNo 0 when it has no line yet.
struct Fingerprint {
    long long lineNo = 0;
    std::string sha;
};

Fingerprint FingerprintOf(const std::string &file, const std::string &machine) {
    TrailSetReader reader(file);
    std::string error, line, why;
    if (!reader.Open(&error)) throw ReadFailure(error);
    Sha256 hasher;
    Row row;
    Fingerprint print;
    for (long long read = 0; read < kFingerprintLines && reader.Next(&line) == LineResult::kLine;
         ++read) {
        // A line that is not a trail line is refused when its turn comes.
        if (!RowFromLine(machine, reader.Number(), line, &row, &why, &hasher)) break;
        if (print.lineNo == 0 || !row[kLineHash].null) {
            print.lineNo = reader.Number();
            print.sha = row[kLineSha256].text;
        }
        if (!row[kLineHash].null) break;
    }
    return print;
}

}  // namespace

void CheckStoredLines(const Database &db, const std::string &file, const std::string &machine,
                      TrailBatches *trail, ShipPosition *position) {
    const long long through = position->committedLines;
    if (position->prefixUnchecked) {
        const long long held = CountStoredThrough(db, machine, through);
        if (held != through)
            throw Refusal(file + " starts at line " + std::to_string(through + 1) +
                          " (the lines before it were pruned), but the database holds " +
                          std::to_string(held) + " of lines 1-" + std::to_string(through) +
                          " of machine " + machine + ": nothing shipped");
        position->prefixUnchecked = false;
    }
    std::string line, sha;
    ForEachStoredSha(db, machine, through, [&](const StoredSha &stored) {
        const long long n = stored.lineNo;
        const long long held = position->committedLines;
        if (n != held + 1)
            throw Refusal("the database holds line " + std::to_string(n) + " of machine " +
                          machine + " but not line " + std::to_string(held + 1) +
                          ": its rows were changed; nothing shipped");
        if (!trail->NextStored(&line, n))
            throw Refusal("the database holds more lines of machine " + machine + " than " + file +
                          " has (" + std::to_string(held) + "): it is not the trail shipped from " +
                          machine + " (--machine names another machine), or its end was cut "
                          "off; nothing shipped");
        if (!Sha256Hex(line, &sha)) throw Refusal("cannot compute SHA-256");
        if (sha != stored.sha)
            throw Refusal("line " + std::to_string(n) + " of " + file +
                          " differs from the line stored for machine " + machine +
                          ": the file is not the trail shipped from " + machine +
                          ", or it was changed after shipping; nothing shipped");
        position->committedLines = n;
        ++position->present;
    });
}

bool CheckNotStoredElsewhere(const Database &db, const std::string &file,
                             const std::string &machine) {
    if (HoldsAnyLine(db, machine)) return true;
    const Fingerprint print = FingerprintOf(file, machine);
    if (print.lineNo == 0) return false;
    const std::string other = StoredElsewhere(db, machine, print.lineNo, print.sha);
    if (!other.empty())
        throw Refusal(file + " line " + std::to_string(print.lineNo) + " is stored as line " +
                      std::to_string(print.lineNo) + " of machine " + other + ": this trail was "
                      "shipped as machine " + other + " (ship it on with --machine " + other +
                      "); nothing shipped as machine " + machine);
    return true;
}

}  // namespace qz45trail
