#include "delivery/value_conversion.h"

#include "event/value_decoding.h"

namespace qz45 {

Variant EventValueToVariant(EventValue value) {
    const DecodedValue d = DecodeEventValue(value);
    Variant result;
    VARIANT &v = result.get();
    switch (d.kind) {
    case DecodedValue::Kind::Int16:
        v.vt = VT_I2;
        v.iVal = d.int16;
        break;
    case DecodedValue::Kind::Int32:
        v.vt = VT_I4;
        v.lVal = d.int32;
        break;
    case DecodedValue::Kind::Single:
        v.vt = VT_R4;
        v.fltVal = d.single;
        break;
    case DecodedValue::Kind::Double:
        v.vt = VT_R8;
        v.dblVal = d.real;
        break;
    case DecodedValue::Kind::Date:
        v.vt = VT_DATE;
        v.date = d.real;
        break;
    case DecodedValue::Kind::Text:
        v.bstrVal = Bstr::FromAnsi(d.Text()).release();
        v.vt = VT_BSTR;
        break;
    }
    return result;
}

}  // namespace qz45
