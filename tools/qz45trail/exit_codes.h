// The exit codes of qz45trail, one table for every command.
#pragma once

namespace qz45trail {

constexpr int kExitOk = 0;
// A check failed: a line changed, removed, inserted or moved, the file and
// the database disagree, a line that is not a trail line, a file replaced
// or cut under a follower.
constexpr int kExitBroken = 1;
constexpr int kExitUsage = 2;
// The file or the database could not be read or written: no such file, a
// read error, no connection, a statement the server refused.
constexpr int kExitFailed = 3;
// verify: lines without chain members precede the chain, or no line is
// chained, and --unchained did not accept exactly that many.
constexpr int kExitUnchained = 4;
// verify: the last line has no line end (a writer at work, or one that
// died mid-line); every line before it checked out.
constexpr int kExitUnfinished = 5;

// Of two exit codes, the one that says more went wrong: a broken check (1)
// before a usage error (2), a failure to read or write (3), lines without
// chain members (4) and an unfinished last line (5); 0 only when both are.
int WorseExitCode(int a, int b);

}  // namespace qz45trail
