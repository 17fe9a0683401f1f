// The check of the lines the plant database holds, by machine: the rows
// read from the database and fed to the stored rows' check.
#pragma once

#include <string>

#include "database.h"
#include "findings.h"

namespace qz45trail {

class LineSource;
class StoredRowsCheck;

// Starts check after the machine's archived lines, when the record of
// archives has any: their last line, which it returns (0: none), and (when
// given) the manifest that names them.
long long StartAfterArchive(const Database &db, const std::string &machine,
                            StoredRowsCheck *check, std::string *manifest = nullptr);

// Checks every machine's stored trail (or one machine's): the line numbers
// without gaps, each row's columns against its stored line, the chain with
// the file's rules, and the shipment log (a line logged as shipped that is
// no longer there was deleted). Finds one verdict per machine with its line
// count and when its last line was shipped. Lines without chain members
// before the chain fail it (4) unless there are exactly acceptUnchained of
// them (-1: none accepted). Machines whose first chained line is the same
// line at the same position hold one trail: said, and left to the verdicts.
// A query that fails ends the check (3).
Findings VerifyStoredTrail(const Database &db, const std::string &machine,
                           long long acceptUnchained);

// The same for one machine, with its trail file(s) as a witness: every stored
// line from line witnessFrom on (the first line the files still hold; those
// before it were pruned) must be the file's line at its position, byte for
// byte; the file's lines beyond them are reported as not shipped yet. file
// reads the trail from line witnessFrom; fileName names it in the findings.
Findings VerifyStoredAgainstFile(const Database &db, const std::string &machine, LineSource *file,
                                 long long witnessFrom, const std::string &fileName,
                                 long long acceptUnchained);

}  // namespace qz45trail
