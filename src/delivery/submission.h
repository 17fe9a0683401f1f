// The three submitters: deliver one completed record to the audit service.
#pragma once

#include "qz45alarmevent_api.h"

namespace qz45 {

// Each reads the record, never writes it, and leaves the outcome in status:
// 0, EVT_E_APARTMENT or EVT_E_SERVICE, with the deciding HRESULT.
void SubmitGeneralEvent(const EventRecord &record, EventStatus &status);
void SubmitChangeEvent(const EventRecord &record, EventStatus &status);
void SubmitHistoryChangeEvent(const EventRecord &record, EventStatus &status);

// The application identifier given to the audit service with every identity.
extern const char kApplicationId[];

}  // namespace qz45
