// The free space on the trail's volume, checked before each append.
//
// Two levels, in MiB of free space left after the line, read from the
// environment at every check (a value that is not a plain decimal number
// counts as unset; 0 turns the level off):
//   QZ45_AUDIT_TRAIL_WARN_MB   below it, a warning goes to the Windows event
//                              log (source "QZ45 audit trail", a warning, id
//                              1), at most one an hour for all writers of the
//                              trail together; 1024 when unset.
//   QZ45_AUDIT_TRAIL_FLOOR_MB  below it, lines are refused whole; 64 when
//                              unset. Never above the warning level while
//                              that is on: a higher floor is lowered to it,
//                              and each process says so once in the event
//                              log (a warning, id 2).
//
// The warning says how much is left, and how long that lasts before lines
// are refused, at the rate the free space has been shrinking lately (a
// weighted mean of the rates between successive samples at least a minute
// apart, an older one counting half as much for every hour of its age); "no
// rate yet" until there are two such samples.
//
// What the writers share lives in "<trail>.space", one JSON object read and
// written under the trail's lock; it is made once the volume is below the
// warning level:
//   {"warned":T,"sampled":T,"free":BYTES,"bytes_per_hour":N}
// T in seconds since 1970 (UTC), warned 0 for never; bytes_per_hour is
// absent while no rate is known, negative while space is being freed.
//
// A process asks the system again after 10 seconds, or sooner when what it
// last heard, less what it wrote since, comes within 8 MiB of a level; in
// between a check costs no system call.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

namespace qz45trail {

// S_OK when bytes more fit above the floor; HRESULT_FROM_WIN32(ERROR_DISK_FULL)
// when they do not. Below the warning level it writes a warning to the
// Windows event log, at most one an hour. S_OK, too, when the free space
// cannot be learned: the write itself then tells.
HRESULT CheckSpace(const std::wstring &trail, std::size_t bytes);

}  // namespace qz45trail
