#include "event/value_decoding.h"

#include <cstdio>
#include <cstring>

#include "event/ole_date.h"
#include "event/record_text.h"

namespace qz45 {
namespace {

// The three text-by-address layouts share their leading pair, so one of them
// serves to read it.
static_assert(offsetof(EventValue, Payload.TextRef.Text) ==
                  offsetof(EventValue, Payload.TextRefPacked.Text) &&
              offsetof(EventValue, Payload.TextRef.Text) ==
                  offsetof(EventValue, Payload.TextRefStamp.Text));
static_assert(offsetof(EventValue, Payload.TextRef.TextLen) ==
                  offsetof(EventValue, Payload.TextRefPacked.TextLen) &&
              offsetof(EventValue, Payload.TextRef.TextLen) ==
                  offsetof(EventValue, Payload.TextRefStamp.TextLen));

constexpr std::size_t kTextMax = kValueTextBufferSize - 1;
static_assert(EVT_VALUE_TEXT_REF_MAX == kTextMax);
static_assert(EVT_VALUE_TEXT_MAX < sizeof(EventValue{}.Payload.Text));

void SetInt16(DecodedValue &d, int16_t v) {
    d.kind = DecodedValue::Kind::Int16;
    d.int16 = v;
}
void SetInt32(DecodedValue &d, int32_t v) {
    d.kind = DecodedValue::Kind::Int32;
    d.int32 = v;
}
void SetSingle(DecodedValue &d, float v) {
    d.kind = DecodedValue::Kind::Single;
    d.single = v;
}
void SetDouble(DecodedValue &d, double v) {
    d.kind = DecodedValue::Kind::Double;
    d.real = v;
}
void SetDate(DecodedValue &d, double v) {
    d.kind = DecodedValue::Kind::Date;
    d.real = v;
}

// Copies up to n bytes of src, ended early by a zero byte, as the text result.
void SetText(DecodedValue &d, const char *src, std::size_t n) {
    d.kind = DecodedValue::Kind::Text;
    const std::size_t len = BoundedLength(src, n < kTextMax ? n : kTextMax);
    std::memcpy(d.text, src, len);
    d.text[len] = '\0';
    d.textLength = len;
}

void SetRecordField(DecodedValue &d, int32_t recId, int32_t fldId) {
    d.kind = DecodedValue::Kind::Text;
    const int n = std::snprintf(d.text, sizeof d.text, "%d %d", static_cast<int>(recId),
                                static_cast<int>(fldId));
    d.textLength = n > 0 ? static_cast<std::size_t>(n) : 0;
}

// The text by address. The caller declared TextLen bytes at Text, plus the
// byte behind them that receives the terminator when TextLen is in 0..1023.
void SetTextByAddress(DecodedValue &d, char *text, int16_t textLen) {
    if (text == nullptr || textLen < 0) {
        SetText(d, "", 0);
        return;
    }
    const std::size_t n = static_cast<std::size_t>(textLen);
    if (n <= kTextMax) text[n] = '\0';
    SetText(d, text, n);
}

}  // namespace

DecodedValue DecodeEventValue(EventValue value) {
    DecodedValue d;
    const auto &p = value.Payload;
    switch (value.DataType) {
    case EVT_VALUE_RECORD: SetInt32(d, p.Record.RecId); break;
    case EVT_VALUE_RECORD_FIELD: SetRecordField(d, p.RecordField.RecId, p.RecordField.FldId); break;
    case EVT_VALUE_INT16: SetInt16(d, p.Int16.Value); break;
    case EVT_VALUE_INT32: SetInt32(d, p.Int32.Value); break;
    case EVT_VALUE_SINGLE: SetSingle(d, p.Single.Value); break;
    case EVT_VALUE_DOUBLE: SetDouble(d, p.Double.Value); break;
    case EVT_VALUE_TIME_WORD: SetDate(d, 0.0); break;  // no encoding is known for it
    case EVT_VALUE_PACKED_TIME: {
        double date = 0.0;
        PackedTimeToOleDate(p.PackedTime.FAST, p.PackedTime.SLOW, &date);
        SetDate(d, date);
        break;
    }
    case EVT_VALUE_INT16_STATUS: SetInt16(d, p.Int16Status.Value); break;
    case EVT_VALUE_INT32_STATUS: SetInt32(d, p.Int32Status.Value); break;
    case EVT_VALUE_SINGLE_STATUS: SetSingle(d, p.SingleStatus.Value); break;
    case EVT_VALUE_DOUBLE_STATUS: SetDouble(d, p.DoubleStatus.Value); break;
    case EVT_VALUE_INT16_STATUS_PACKED: SetInt16(d, p.Int16StatusPacked.Value); break;
    case EVT_VALUE_INT32_STATUS_PACKED: SetInt32(d, p.Int32StatusPacked.Value); break;
    case EVT_VALUE_SINGLE_STATUS_PACKED: SetSingle(d, p.SingleStatusPacked.Value); break;
    case EVT_VALUE_DOUBLE_STATUS_PACKED: SetDouble(d, p.DoubleStatusPacked.Value); break;
    case EVT_VALUE_TIME_STAMP: {
        double date = 0.0;
        UnixTimeToOleDate(p.Stamp.secs, p.Stamp.usecs, &date);
        SetDate(d, date);
        break;
    }
    case EVT_VALUE_INT16_STATUS_STAMP: SetInt16(d, p.Int16StatusStamp.Value); break;
    case EVT_VALUE_INT32_STATUS_STAMP: SetInt32(d, p.Int32StatusStamp.Value); break;
    case EVT_VALUE_SINGLE_STATUS_STAMP: SetSingle(d, p.SingleStatusStamp.Value); break;
    case EVT_VALUE_DOUBLE_STATUS_STAMP: SetDouble(d, p.DoubleStatusStamp.Value); break;
    case EVT_VALUE_TEXT_REF_STATUS:
    case EVT_VALUE_TEXT_REF_PACKED:
    case EVT_VALUE_TEXT_REF_STAMP: SetTextByAddress(d, p.TextRef.Text, p.TextRef.TextLen); break;
    default:
        if (value.DataType > 0) {
            const std::size_t n = static_cast<std::size_t>(value.DataType);
            SetText(d, p.Text, n < EVT_VALUE_TEXT_MAX ? n : EVT_VALUE_TEXT_MAX);
        } else {
            SetText(d, "", 0);  // 0, and every code below -24
        }
        break;
    }
    return d;
}

}  // namespace qz45
