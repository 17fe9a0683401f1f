// The lines the plant database holds, shown as the file view shows a file.
#pragma once

#include "database.h"
#include "table.h"

namespace qz45trail {

// Prints the stored lines as the file view does, by machine and line: the
// rows the view's filter selects from the rows the stored lines make (exit
// code: 0, or 2 for a filter that does not read).
int PrintStoredTrail(const Database &db, const ViewOptions &options);

}  // namespace qz45trail
