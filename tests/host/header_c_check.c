/* The public header must compile as C; its layout asserts run here too. */
#include "qz45alarmevent_api.h"

int qz45_header_c_record_size(void) { return (int)sizeof(EventRecord); }
