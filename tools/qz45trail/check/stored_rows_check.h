// The check of one machine's stored rows, fed one by one in line order:
// platform-free, so that what the database holds and what the tests build
// are checked alike.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "findings.h"
#include "sha256.h"
#include "shipments.h"
#include "trail_chain.h"
#include "trail_row.h"

namespace qz45trail {

class LineSource;

// A machine's first chained line: its position and SHA-256 (0 and "" when
// no line is chained). The line's hash member covers the chain up to it.
struct FirstChained {
    long long lineNo = 0;
    std::string sha;
};

// Checks the line numbers (without gaps), each row's columns against the
// row its line text makes, the shipment log's SHA-256 of the lines it names
// and its coverage of the lines, the chain with the file's rules, and with a
// witness, that every stored line from its first on is the file's line at
// its position. The first finding on a row ends the check.
class StoredRowsCheck {
public:
    // log: the machine's shipments in order of their last lines.
    // acceptUnchained: the lines without chain members before the chain
    // that are accepted (-1: none).
    StoredRowsCheck(std::string machine, const std::vector<Shipment> &log,
                    long long acceptUnchained);
    StoredRowsCheck(const StoredRowsCheck &) = delete;
    StoredRowsCheck &operator=(const StoredRowsCheck &) = delete;

    // The trail file(s) as a witness: file reads the trail from line
    // `from` on (the files' first; those before it were pruned), name names
    // it in the findings.
    void UseWitness(LineSource *file, long long from, std::string name);

    // The machine's lines up to `line` are archived (out of the table): the
    // rows go on from the next, chained to `hash`; `where` names the
    // archive's manifest in the verdict.
    void StartAfter(long long line, std::string hash, std::string where);

    // The next stored row (its stored columns). False once a finding ends
    // the check: no further rows are wanted.
    bool Add(const Row &stored);

    // The findings, once the rows are all in (the witness read to its end).
    Findings Finish();

    const FirstChained &First() const { return first_; }

private:
    bool Stop(const std::string &text);
    bool CheckRow(long long n, const Row &stored);
    bool CheckWitnessLine(long long n, const std::string &text);
    bool CheckEnds(bool *unlogged);
    void CheckChain(const ChainVerdict &verdict);
    void CheckWitnessEnd(bool unlogged);

    const std::string machine_;
    const long long acceptUnchained_;
    std::map<long long, std::string> loggedSha_;  // by the last line of a shipment
    std::map<long long, long long> loggedFirst_;  // the first line, by the last
    std::string lastShipped_;

    LineSource *witness_ = nullptr;
    long long witnessFrom_ = 1;
    std::string witnessName_;
    long long witnessEndsAfter_ = -1;  // the file's last line, once it ended before the rows

    Sha256 hasher_;
    ChainCheck chain_;
    Row derived_;
    std::string fileLine_;
    long long count_ = 0, replaced_ = 0;
    bool submitted_ = false;  // the last row with a time of submission has it here
    UtcTime lastSubmittedAt_;
    FirstChained first_;
    long long archivedThrough_ = 0;
    std::string archivedWhere_;
    Findings findings_;
    bool stopped_ = false;
};

// Machines whose first chained line is the same line at the same position
// hold one trail, shipped under two names: said of the later machine, and
// left to the verdicts.
class SharedTrails {
public:
    // The next machine, in order, and its first chained line.
    void Add(const std::string &machine, const FirstChained &first, Findings *found);

private:
    // The first machine seen with each first chained line.
    std::map<std::pair<long long, std::string>, std::string> chains_;
};

}  // namespace qz45trail
