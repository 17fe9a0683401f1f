#pragma once

#include "qz45alarmevent_api.h"

namespace qz45 {

// Completes the caller's record in place with this machine's and process's
// defaults, refuses it (EVT_E_INVALID, EVT_E_BAD_TYPE) or hands it to the
// submitter its type calls for.
void CompleteAndRouteEvent(EventRecord &record, EventStatus &status);

}  // namespace qz45
