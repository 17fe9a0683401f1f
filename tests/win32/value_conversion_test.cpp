// EventValueToVariant: the VARIANT each value becomes, under Wine.
#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "delivery/value_conversion.h"
#include "event_value_blocks.h"

using qz45::EventValueToVariant;
using qz45::Variant;

namespace {

std::wstring BstrText(const VARIANT &v) {
    EXPECT_EQ(v.vt, VT_BSTR);
    if (v.vt != VT_BSTR || v.bstrVal == nullptr) return L"<null>";
    return std::wstring(v.bstrVal, SysStringLen(v.bstrVal));
}

}  // namespace

// Every code below 0 down to -24 gives its own type, none VT_EMPTY.
TEST(EventValueToVariant, TypeOfEveryLayout) {
    const VARTYPE expected[25] = {
        VT_BSTR,                                            // 0 (empty text)
        VT_I4,   VT_BSTR, VT_I2,   VT_I4,   VT_R4, VT_R8,   // -1 .. -6
        VT_DATE, VT_DATE,                                   // -7, -8
        VT_I2,   VT_I4,   VT_R4,   VT_R8,                   // -9 .. -12
        VT_I2,   VT_I4,   VT_R4,   VT_R8,                   // -13 .. -16
        VT_DATE,                                            // -17
        VT_I2,   VT_I4,   VT_R4,   VT_R8,                   // -18 .. -21
        VT_BSTR, VT_BSTR, VT_BSTR,                          // -22 .. -24
    };
    char buf[4] = "abc";
    for (int code = 0; code >= -24; --code) {
        EventValue v = NoisyValue(static_cast<int16_t>(code));
        if (code == 0) v = EventValue{};
        if (code <= -22) {
            v.Payload.TextRef.Text = buf;
            v.Payload.TextRef.TextLen = 3;
        }
        Variant out = EventValueToVariant(v);
        EXPECT_EQ(out.get().vt, expected[-code]) << "DataType " << code;
    }
}

TEST(EventValueToVariant, NumbersKeepTheirValueAndWidth) {
    EventValue v = NoisyValue(EVT_VALUE_INT16);
    PutAt<int16_t>(v, 4, -1);
    Variant out = EventValueToVariant(v);
    EXPECT_EQ(out.get().vt, VT_I2);
    EXPECT_EQ(out.get().iVal, -1);

    v = NoisyValue(EVT_VALUE_INT16_STATUS);
    PutAt<int16_t>(v, 4, 7);
    PutAt<int16_t>(v, 6, 3);
    out = EventValueToVariant(v);
    EXPECT_EQ(out.get().iVal, 7);

    v = NoisyValue(EVT_VALUE_INT32_STATUS_STAMP);
    PutAt<int32_t>(v, 4, INT32_MIN);
    out = EventValueToVariant(v);
    EXPECT_EQ(out.get().lVal, INT32_MIN);

    v = NoisyValue(EVT_VALUE_SINGLE_STATUS_PACKED);
    PutAt<float>(v, 4, 0.1f);
    out = EventValueToVariant(v);
    EXPECT_EQ(out.get().vt, VT_R4);
    EXPECT_EQ(out.get().fltVal, 0.1f);

    v = NoisyValue(EVT_VALUE_DOUBLE);
    PutAt<double>(v, 4, 2.5);
    out = EventValueToVariant(v);
    EXPECT_EQ(out.get().vt, VT_R8);
    EXPECT_EQ(out.get().dblVal, 2.5);
}

TEST(EventValueToVariant, Dates) {
    EventValue v = NoisyValue(EVT_VALUE_TIME_WORD);
    Variant out = EventValueToVariant(v);
    EXPECT_EQ(out.get().vt, VT_DATE);
    EXPECT_EQ(out.get().date, 0.0);

    v = NoisyValue(EVT_VALUE_TIME_STAMP);
    PutAt<int32_t>(v, 4, 946684800);
    PutAt<int32_t>(v, 8, 0);
    out = EventValueToVariant(v);
    EXPECT_EQ(out.get().date, 36526.0);
    PutAt<int32_t>(v, 4, 0);
    EXPECT_EQ(EventValueToVariant(v).get().date, 0.0);
    // The same bits as a native build gives, on this compiler's floating point.
    PutAt<int32_t>(v, 4, INT32_MAX);
    EXPECT_EQ(EventValueToVariant(v).get().date, 50424 + 11647 / 86400.0);
    PutAt<int32_t>(v, 4, 1);
    EXPECT_EQ(EventValueToVariant(v).get().date, 25569 + 1 / 86400.0);

    v = NoisyValue(EVT_VALUE_PACKED_TIME);
    PutAt<int32_t>(v, 4, 0);
    PutAt<int32_t>(v, 8, 25);
    EXPECT_EQ(EventValueToVariant(v).get().date, 36526.0);
}

TEST(EventValueToVariant, Texts) {
    EventValue empty{};
    Variant out = EventValueToVariant(empty);
    ASSERT_EQ(out.get().vt, VT_BSTR);
    ASSERT_NE(out.get().bstrVal, nullptr);
    EXPECT_EQ(SysStringLen(out.get().bstrVal), 0u);

    out = EventValueToVariant(NoisyValue(-25));
    ASSERT_NE(out.get().bstrVal, nullptr);
    EXPECT_EQ(BstrText(out.get()), L"");

    EventValue inl{};
    inl.DataType = 3;
    std::memcpy(inl.Payload.Text, "abcdef", 6);
    EXPECT_EQ(BstrText(EventValueToVariant(inl).get()), L"abc");
    EXPECT_EQ(std::string(inl.Payload.Text, 6), "abcdef");

    EventValue rf = NoisyValue(EVT_VALUE_RECORD_FIELD);
    PutAt<int32_t>(rf, 4, 12);
    PutAt<int32_t>(rf, 8, -3);
    EXPECT_EQ(BstrText(EventValueToVariant(rf).get()), L"12 -3");
}

// A text by address as a caller in any language lays it out by hand: on
// i686 the address takes 4 bytes at 4 and TextLen sits at 8; on x86-64 the
// address takes 8 bytes at 4 (unaligned) and TextLen sits at 12.
TEST(EventValueToVariant, TextByAddressAtTheArchitecturesOffsets) {
#if defined(_WIN64)
    constexpr std::size_t kTextLenAt = 12;
#else
    constexpr std::size_t kTextLenAt = 8;
#endif
    static_assert(kTextLenAt == 4 + sizeof(char *), "the address ends where TextLen begins");
    for (int16_t code : {EVT_VALUE_TEXT_REF_STATUS, EVT_VALUE_TEXT_REF_PACKED,
                         EVT_VALUE_TEXT_REF_STAMP}) {
        char buf[] = "hello world";
        EventValue v = NoisyValue(code);
        PutAt<char *>(v, 4, buf);
        PutAt<int16_t>(v, kTextLenAt, 5);
        EXPECT_EQ(BstrText(EventValueToVariant(v).get()), L"hello") << code;
        EXPECT_EQ(std::string(buf, sizeof buf), std::string("hello\0world", sizeof buf));

        PutAt<char *>(v, 4, nullptr);
        Variant out = EventValueToVariant(v);
        ASSERT_NE(out.get().bstrVal, nullptr);
        EXPECT_EQ(BstrText(out.get()), L"") << code;
    }
}

TEST(EventValueToVariant, TextComesFromTheAnsiCodePage) {
    if (GetACP() != 1252) GTEST_SKIP() << "ANSI code page is " << GetACP();
    EventValue v{};
    v.DataType = 2;
    v.Payload.Text[0] = static_cast<char>(0x80);  // the euro sign in 1252
    v.Payload.Text[1] = static_cast<char>(0xE9);
    EXPECT_EQ(BstrText(EventValueToVariant(v).get()), L"\u20AC\u00E9");
}
