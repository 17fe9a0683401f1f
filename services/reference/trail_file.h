// Appending to an audit-trail file that many writers share: threads of one
// process and processes of one machine, each with its own handle.
#pragma once

#include <windows.h>

#include <string>

namespace qz45trail {

// Appends content (a JSON object with at least one member, as written) to
// the trail at path as one chained line, and flushes it to the file before
// returning S_OK. The whole append (finding the end and the last line,
// writing, flushing) holds a lock on the trail file itself, so writers in
// other processes wait rather than fail, lines never interleave, and each
// line chains to the one before it on disk. A line left unfinished at the
// end by a writer that died is cut off first. On failure nothing of the
// line stays in the file and the result is the failure's HRESULT.
HRESULT AppendChained(const std::wstring &path, const std::string &content);

}  // namespace qz45trail
