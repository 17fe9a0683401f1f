// The check of a trail file: its hash chain across the trail's files (or one
// file's), the lines without chain members before the chain, and a last
// line without its line end.
#pragma once

#include <string>

#include "findings.h"

namespace qz45trail {

class TrailSetReader;

// Reads the trail from set (opened) to its end. fileName names the trail in
// the findings; acceptUnchained is the number of lines without chain members
// before the chain that are accepted (-1: none). Exit codes: 1 for a broken
// chain or a line that is not a trail line, 3 when the files could not be
// read (or lines were pruned meanwhile), 4 for lines without chain members
// not accepted, 5 for an unfinished last line.
Findings CheckTrailFile(TrailSetReader *set, const std::string &fileName,
                        long long acceptUnchained);

}  // namespace qz45trail
