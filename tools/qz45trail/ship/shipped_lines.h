// What the database holds of this trail already, checked against the file
// before anything more is shipped: the lines stored for the machine, and the
// trail's first lines stored for another machine.
#pragma once

#include <string>

#include "database.h"
#include "trail_batches.h"

namespace qz45trail {

// Where the shipper stands: the lines known to be in the database, and how
// many of them it found there rather than shipped.
struct ShipPosition {
    long long committedLines = 0;
    long long present = 0;
    // The files start after pruned lines the database is yet to be asked for.
    bool prefixUnchecked = false;
};

// Reads what the database holds for machine past the lines known to be
// there, checks each against the trail's next line (by SHA-256) and moves
// past it, counted as present. Before, when the files start after pruned
// lines, checks that the database holds every one of those. A disagreement
// throws Refusal; the trail, as TrailBatches::NextStored does.
void CheckStoredLines(const Database &db, const std::string &file, const std::string &machine,
                      TrailBatches *trail, ShipPosition *position);

// Before a trail's first line goes in under a machine that holds none:
// another machine that holds it already. Its first chained line (whose hash
// covers the chain up to it) or, when none of the first lines is chained, its
// first line, stored at the same position for another machine, is that
// machine's trail: shipping it again under this name would hold one trail
// twice (Refusal). False when the trail has no line yet, to be looked at
// again with the first one.
bool CheckNotStoredElsewhere(const Database &db, const std::string &file,
                             const std::string &machine);

}  // namespace qz45trail
