/*
 * A caller built the MSVC way: the installed header and the MSVC import
 * library qz45alarmevent_api.lib, no C runtime at all. It fills one start-up
 * event and sends it to the audit service. With nothing to print with, it
 * tells how that went by its exit code:
 *   0   delivered
 *   10  the population export refused the record (its status is not 0)
 *   92..95  SendQZ45Event failed with status -92..-95
 *
 * The records are static: they start zeroed without a memset from a runtime,
 * and a 6 KiB record on the stack would need the runtime's stack probe.
 */
#include "qz45alarmevent_api.h"

static EventRecord record;
static EventStatus outcome;

int qz45_consumer_entry(void) {
    int16_t status = -1;
    int32_t type = EVT_TYPE_STARTUP;

    PopulateGeneralSystemEvent(&record, NULL, NULL, "msvc-user", "PLANT", NULL,
                               "started by the MSVC-ABI consumer", NULL, &type,
                               "msvc-consumer-1", NULL, NULL, &status);
    if (status != EVT_SUCCESS) return 10;
    SendQZ45Event(&record, &outcome);
    return outcome.status == EVT_SUCCESS ? 0 : -outcome.status;
}
