// Turning the values an audit service receives (BSTRs, VARIANTs, DATEs) into
// 8-bit text, for logs and for stored audit trails.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace qz45svc {

// UTF-8 of length UTF-16 units (the whole string when length < 0).
std::string Utf8(const wchar_t *text, int length = -1);

// A BSTR's UTF-8 text (its full length, embedded zeros included); "" for null.
std::string BstrUtf8(BSTR s);

// "VT_I2", "VT_R8", ... for the types an event value may have; "VT_<n>" else.
std::string VariantTypeName(VARTYPE vt);

// An OLE date (days since 1899-12-30, UTC) as ISO 8601 with milliseconds,
// "2000-01-01T12:00:00.000Z"; "" for 0.0 (no time) or a date out of range.
std::string OleDateIso8601(DATE date);

// printf-style text of one number.
std::string NumberText(const char *format, double value);

}  // namespace qz45svc
