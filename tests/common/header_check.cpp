// The public header as C++: see header_check.c.
#include "header_check.c"
