/* An example caller: fills one record for the creation of record FIC101 and
 * sends it to the audit service, saying what the trail will hold, or what
 * failed and what to do about it, in the words qz45event uses. Build it
 * against the installed package (see CMakeLists.txt). */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "qz45alarmevent_api.h"

/* What a failed delivery means and what to do, for the HRESULTs a send
 * meets most. trail: 1 when the remedy concerns the trail file, 2 when it
 * concerns the service's bitness. */
struct failure {
    uint32_t hresult;
    const char *name, *meaning, *remedy;
    int trail;
};

static const struct failure failures[] = {
    {0x80040154, "REGDB_E_CLASSNOTREG", "class not registered: the audit service is not registered",
     "register it as administrator: regsvr32 qz45_audit_trail.dll", 2},
    {0x800700C1, "ERROR_BAD_EXE_FORMAT", "the registered audit service DLL is built for the other bitness",
     "register the service DLL of this program's bitness: regsvr32 qz45_audit_trail.dll", 2},
    {0x80070003, "ERROR_PATH_NOT_FOUND", "path not found: the trail's folder is missing",
     "create the folder, or set QZ45_AUDIT_TRAIL to a file in a folder that exists", 1},
    {0x80070005, "E_ACCESSDENIED", "access denied: this process cannot write the trail",
     "let this account write the trail's folder (icacls FOLDER /grant \"USER:(OI)(CI)M\"), "
     "or set QZ45_AUDIT_TRAIL to a file it may write", 1},
    {0x80070070, "ERROR_DISK_FULL",
     "disk full: the trail's volume is below its floor (QZ45_AUDIT_TRAIL_FLOOR_MB, 64 by default)",
     "free space on that volume, or set QZ45_AUDIT_TRAIL to a file on a larger one", 1},
    {0x8007000D, "ERROR_INVALID_DATA",
     "the trail file is not a trail; the service refused to append to it",
     "check it with qz45trail verify FILE; move it aside or set QZ45_AUDIT_TRAIL to a new file", 1},
};

static void report_failure(const EventStatus *sent) {
    const uint32_t hr = (uint32_t)sent->hresult;
    const char *trail = getenv("QZ45_AUDIT_TRAIL");
    size_t i;
    if (sent->status == EVT_E_INVALID) {
        fprintf(stderr, "consumer: status EVT_E_INVALID (-95): the record lacks a field its type "
                        "requires; refused before reaching the audit service\n"
                        "consumer: what to do: fill User, Domain and what the type requires "
                        "('qz45event types' lists it)\n");
        return;
    }
    fprintf(stderr, "consumer: status %s (%d), hresult 0x%08lX",
            sent->status == EVT_E_SERVICE ? "EVT_E_SERVICE" : "EVT_E_APARTMENT",
            (int)sent->status, (unsigned long)hr);
    for (i = 0; i < sizeof failures / sizeof failures[0]; ++i) {
        const struct failure *f = &failures[i];
        if (f->hresult != hr) continue;
        fprintf(stderr, " %s: %s\nconsumer: what to do: %s", f->name, f->meaning, f->remedy);
        if (f->trail == 2)
            fprintf(stderr, " (the %d-bit service for this %d-bit program)",
                    (int)sizeof(void *) * 8, (int)sizeof(void *) * 8);
        else if (trail != NULL)
            fprintf(stderr, " (QZ45_AUDIT_TRAIL is %s)", trail);
        else
            fprintf(stderr, " (QZ45_AUDIT_TRAIL is not set: the reference service writes "
                            "%%ProgramData%%\\qz45\\audit-trail.jsonl)");
        fprintf(stderr, "\n");
        return;
    }
    fprintf(stderr, "\nconsumer: what to do: see the Application event log (source Zentrova.45)\n");
}

int main(void) {
    EventRecord rec;
    EventStatus sent;
    int16_t status = -1;
    int32_t type = EVT_TYPE_CREATE_RECORD;
    TimeStamp when = {946684800, 0};
    EventValue value;

    memset(&value, 0, sizeof value);
    value.DataType = EVT_VALUE_DOUBLE;
    value.Payload.Double.Value = 42.5;

    /* Create Record names its record (Descriptor) and a Property. It is a
     * general event: it carries one value, and the library sends OldValue
     * as that value; a NewValue it does not send. Only the change events
     * ('qz45event types' lists them) carry an old and a new value. */
    PopulateChangeValueEvent(&rec, NULL, NULL, "operator", "PLANT", &when,
                             "record created", NULL, &type, "ticket-7", NULL, NULL,
                             "FIC101", NULL, "North", "Unit 2", "PV", NULL, &value, NULL,
                             &status);
    if (status != EVT_SUCCESS) {
        printf("populate failed: %d (EVT_E_TOO_LONG: a text does not fit its field)\n", status);
        return 1;
    }
    printf("consumer: type %d for %s by %s\\%s, value %.1f (the trail's \"Value\")\n",
           (int)rec.Type, rec.Descriptor, rec.Domain, rec.User, rec.OldValue.Payload.Double.Value);

    memset(&sent, 0, sizeof sent);
    SendQZ45Event(&rec, &sent);
    if (sent.status == EVT_SUCCESS) {
        printf("consumer: delivered\n");
        return 0;
    }
    report_failure(&sent);
    return 1;
}
