/* The public header, compiled at every language level it claims (C89, C99,
 * C11; C++98, C++11 as header_check.cpp) with every warning an error: its
 * layout asserts run in each. */
#include "qz45alarmevent_api.h"

int qz45_header_c_record_size(void) { return (int)sizeof(EventRecord); }
