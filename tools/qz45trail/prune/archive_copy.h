// A rotated file's copy in the archive folder, made before prune lets the
// file go: whole, checked byte for byte, never over another file.
#pragma once

#include <string>

#include "trail_set.h"

namespace qz45trail {

enum class Archived { kCopied, kAlready, kConflict, kFailed };

// A copy of the file in the archive folder under its own name, checked byte
// for byte: copied to "<name>.partial" there first, and given its name only
// when it is whole, never over a file that is there. kAlready when the
// archive holds the same bytes under the name (a prune stopped after the
// copy); kConflict when it holds other bytes there; kFailed with the reason.
// With dryRun, kCopied where it would copy.
Archived CopyToArchive(const TrailPart &part, const std::string &folder, bool dryRun,
                       std::string *why);

}  // namespace qz45trail
