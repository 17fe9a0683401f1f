// Appending to an audit-trail file that many writers share: threads of one
// process and processes of one machine, each with its own handle.
#pragma once

#include <windows.h>

#include <string>

namespace qz45trail {

// What Submit gets for a file that is not a trail (its first line is not a
// trail line, or it ends in more than a line's worth of bytes without a line
// end): ERROR_INVALID_DATA. The file is left exactly as it was.
constexpr HRESULT kNotATrail = HRESULT_FROM_WIN32(ERROR_INVALID_DATA);

// Appends content (a JSON object with at least one member, as written) to
// the trail at path as one chained line, and flushes it to the file before
// returning S_OK.
//
// The whole append (finding the end and the last line, writing, flushing)
// holds a lock on the trail file itself, so writers in other processes wait
// rather than fail, lines never interleave, and each line chains to the one
// before it on disk. It appends only to a trail: a new or empty file, or one
// whose first line is a trail line.
//
// What it finds after the last line end:
// - a whole line, correctly chained to the one before it, that lost its line
//   end: it is ended, and the new line chains to it;
// - anything else (a line a writer left unfinished when it died, never
//   reported as stored): its bytes are first kept in the companion file
//   "<trail>.torn", with where and when they were cut, then cut off. Should
//   that file not take them, nothing is cut and the append fails.
//
// No line that has its line end is ever cut back. When the line was written
// whole but the flush failed, the line stays in the trail and the result is
// the flush's failure: a caller that retries may store the event twice,
// which is better than a line a reader has seen vanishing. When the write
// itself failed part-way, the part without its line end is cut off again.
//
// Rotation: when the line would take the file past rotation.maxBytes, or the
// file's first line was stored on an earlier UTC day and rotation.daily is
// set, the file (whole lines only) is renamed under the lock to the name that
// says where it starts (trail_set.h) and the line begins a new file under the
// trail's name, chained to the last line of the old one. A writer that
// waited for the lock on a file renamed meanwhile writes nothing to it and
// starts again on the new one.
struct TrailRotation {
    unsigned long long maxBytes = 32ull << 20;  // 0: no limit
    bool daily = false;
};
HRESULT AppendChained(const std::wstring &path, const std::string &content,
                      const TrailRotation &rotation = TrailRotation{});

// QZ45_AUDIT_TRAIL_ROTATE_KB (the limit in KiB; 0: none; 32768 when unset)
// and QZ45_AUDIT_TRAIL_ROTATE_DAILY=1.
TrailRotation RotationFromEnvironment();

// "<trail>.torn": where AppendChained keeps the unfinished lines it cuts off.
// Each is one JSON line {"trail","cut_at","bytes","time"} followed by the
// line's bytes exactly as they were, and a line end.
std::wstring TornPath(const std::wstring &trail);

// The time now as the trail writes times: "2000-01-01T12:00:00.250Z".
std::string NowUtc();

}  // namespace qz45trail
