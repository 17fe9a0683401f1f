// Reads an EventValue into a plain value: a number of one of four kinds, a
// date, or a text. Platform-free; the Windows step that makes a VARIANT of the
// result is delivery/value_conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "qz45alarmevent_api.h"

namespace qz45 {

// Every text result passes through this many bytes, terminator included.
constexpr std::size_t kValueTextBufferSize = 1024;

struct DecodedValue {
    enum class Kind { Int16, Int32, Single, Double, Date, Text };

    Kind kind = Kind::Text;
    int16_t int16 = 0;    // Kind::Int16
    int32_t int32 = 0;    // Kind::Int32
    float single = 0.0f;  // Kind::Single
    double real = 0.0;    // Kind::Double, and Kind::Date as an OLE date
    // Kind::Text: textLength bytes of 8-bit text, always followed by a zero
    // byte; textLength < kValueTextBufferSize.
    char text[kValueTextBufferSize] = {};
    std::size_t textLength = 0;

    std::string_view Text() const { return std::string_view(text, textLength); }
};

// Decodes a copy of the block by its DataType:
// - 0 to 603: the inline text, ended by its first zero byte or after DataType
//   bytes; a DataType above 603 is read as 603, the most that fits the block.
// - below -24: an empty text.
// - -1..-21: the leading member(s); -2 is the text "RecId FldId", -7 is the
//   date 0.0, -8 and -17 are converted to dates.
// - -22..-24, the text by address: when Text is non-null and TextLen is in
//   0..1023, a zero byte is stored at Text + TextLen in the caller's buffer and
//   the text is read up to its first zero byte. A TextLen above 1023 reads at
//   most 1023 bytes and writes nothing; a negative TextLen or a null Text
//   gives an empty text.
DecodedValue DecodeEventValue(EventValue value);

}  // namespace qz45
