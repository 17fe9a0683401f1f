// An EventValue as the VARIANT that the audit service receives.
#pragma once

#include "frame/ole_resources.h"
#include "qz45alarmevent_api.h"

namespace qz45 {

// Converts a copy of the block to a new VARIANT of type VT_I2, VT_I4, VT_R4,
// VT_R8, VT_DATE or VT_BSTR, never VT_EMPTY; a text becomes a BSTR converted
// from the ANSI code page, an empty text an empty (non-null) BSTR. What is
// read is DecodeEventValue's to say, including the terminator stored into the
// caller's buffer of a text by address. Throws ComError when string memory
// runs out; nothing is returned then.
Variant EventValueToVariant(EventValue value);

}  // namespace qz45
