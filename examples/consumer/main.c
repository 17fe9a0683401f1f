/* Fills one record through the installed library and prints what it holds. */
#include <stdio.h>
#include <string.h>

#include "qz45alarmevent_api.h"

int main(void) {
    EventRecord rec;
    int16_t status = -1;
    int32_t type = EVT_TYPE_CREATE_RECORD;
    TimeStamp when = {946684800, 0};
    EventValue created;

    memset(&created, 0, sizeof created);
    created.DataType = EVT_VALUE_DOUBLE;
    created.Payload.Double.Value = 42.5;

    PopulateChangeValueEvent(&rec, NULL, NULL, "operator", "PLANT", &when,
                             "record created", NULL, &type, "ticket-7", NULL, NULL,
                             "FIC101", NULL, "North", "Unit 2", "PV", NULL, NULL,
                             &created, &status);
    if (status != EVT_SUCCESS) {
        printf("populate failed: %d\n", status);
        return 1;
    }
    printf("consumer: type %d for %s by %s\\%s, new value %.1f\n", (int)rec.Type,
           rec.Descriptor, rec.Domain, rec.User, rec.NewValue.Payload.Double.Value);
    return 0;
}
