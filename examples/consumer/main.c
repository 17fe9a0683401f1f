/* An example caller: fills one record for the creation of record FIC101 and
 * sends it to the audit service, saying what happened and what to do about
 * a failure. Build it against the installed package (see CMakeLists.txt). */
#include <stdio.h>
#include <string.h>

#include "qz45alarmevent_api.h"

int main(void) {
    EventRecord rec;
    EventStatus sent;
    int16_t status = -1;
    int32_t type = EVT_TYPE_CREATE_RECORD;
    TimeStamp when = {946684800, 0};
    EventValue created;

    memset(&created, 0, sizeof created);
    created.DataType = EVT_VALUE_DOUBLE;
    created.Payload.Double.Value = 42.5;

    /* Create Record names its record (Descriptor) and a Property. */
    PopulateChangeValueEvent(&rec, NULL, NULL, "operator", "PLANT", &when,
                             "record created", NULL, &type, "ticket-7", NULL, NULL,
                             "FIC101", NULL, "North", "Unit 2", "PV", NULL, NULL,
                             &created, &status);
    if (status != EVT_SUCCESS) {
        printf("populate failed: %d (EVT_E_TOO_LONG: a text does not fit its field)\n", status);
        return 1;
    }
    printf("consumer: type %d for %s by %s\\%s, new value %.1f\n", (int)rec.Type,
           rec.Descriptor, rec.Domain, rec.User, rec.NewValue.Payload.Double.Value);

    memset(&sent, 0, sizeof sent);
    SendQZ45Event(&rec, &sent);
    switch (sent.status) {
    case EVT_SUCCESS:
        printf("consumer: delivered\n");
        return 0;
    case EVT_E_INVALID:
        printf("consumer: refused, a field the type requires is empty\n");
        break;
    case EVT_E_SERVICE:
        /* 0x80040154: the audit service is not registered (regsvr32 it);
         * 0x80070003: the trail's folder does not exist. */
        printf("consumer: the audit service failed, hresult 0x%08lX\n",
               (unsigned long)(uint32_t)sent.hresult);
        break;
    default:
        printf("consumer: not delivered, status %d\n", sent.status);
        break;
    }
    return 1;
}
