#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "event/value_decoding.h"
#include "event_value_blocks.h"

using qz45::DecodedValue;
using qz45::DecodeEventValue;
using Kind = DecodedValue::Kind;

namespace {

EventValue Inline(int16_t dataType, const std::string &bytes) {
    EventValue v{};
    v.DataType = dataType;
    std::memcpy(v.Payload.Text, bytes.data(), bytes.size());
    return v;
}

EventValue ByAddress(int16_t dataType, char *text, int16_t textLen) {
    EventValue v = NoisyValue(dataType);
    v.Payload.TextRef.Text = text;
    v.Payload.TextRef.TextLen = textLen;
    return v;
}

}  // namespace

// Each numeric code reads its value at offset 4, in its own width and sign,
// whatever lies behind it.
TEST(DecodeEventValue, NumbersKeepWidthAndSign) {
    for (int16_t code : {-3, -9, -13, -18}) {
        EventValue v = NoisyValue(code);
        PutAt<int16_t>(v, 4, -1);
        PutAt<int16_t>(v, 6, 3);
        DecodedValue d = DecodeEventValue(v);
        EXPECT_EQ(d.kind, Kind::Int16) << code;
        EXPECT_EQ(d.int16, -1) << code;
    }
    for (int16_t code : {-1, -4, -10, -14, -19}) {
        EventValue v = NoisyValue(code);
        PutAt<int32_t>(v, 4, -123456789);
        DecodedValue d = DecodeEventValue(v);
        EXPECT_EQ(d.kind, Kind::Int32) << code;
        EXPECT_EQ(d.int32, -123456789) << code;
    }
    for (int16_t code : {-5, -11, -15, -20}) {
        EventValue v = NoisyValue(code);
        PutAt<float>(v, 4, 0.1f);
        DecodedValue d = DecodeEventValue(v);
        EXPECT_EQ(d.kind, Kind::Single) << code;
        EXPECT_EQ(d.single, 0.1f) << code;
    }
    for (int16_t code : {-6, -12, -16, -21}) {
        EventValue v = NoisyValue(code);
        PutAt<double>(v, 4, -2.5e300);
        DecodedValue d = DecodeEventValue(v);
        EXPECT_EQ(d.kind, Kind::Double) << code;
        EXPECT_EQ(d.real, -2.5e300) << code;
    }
}

TEST(DecodeEventValue, Dates) {
    EventValue word = NoisyValue(EVT_VALUE_TIME_WORD);
    PutAt<int32_t>(word, 4, 946684800);
    DecodedValue d = DecodeEventValue(word);
    EXPECT_EQ(d.kind, Kind::Date);
    EXPECT_EQ(d.real, 0.0);

    EventValue packed = NoisyValue(EVT_VALUE_PACKED_TIME);
    PutAt<int32_t>(packed, 4, 15);
    PutAt<int32_t>(packed, 8, 25);
    d = DecodeEventValue(packed);
    EXPECT_EQ(d.kind, Kind::Date);
    EXPECT_DOUBLE_EQ(d.real, 36526 + 1.5 / 86400);

    EventValue stamp = NoisyValue(EVT_VALUE_TIME_STAMP);
    PutAt<int32_t>(stamp, 4, 946728000);
    PutAt<int32_t>(stamp, 8, 0);
    d = DecodeEventValue(stamp);
    EXPECT_EQ(d.kind, Kind::Date);
    EXPECT_EQ(d.real, 36526.5);

    PutAt<int32_t>(stamp, 4, 0);
    EXPECT_EQ(DecodeEventValue(stamp).real, 0.0);
}

TEST(DecodeEventValue, RecordAndFieldAsText) {
    EventValue v = NoisyValue(EVT_VALUE_RECORD_FIELD);
    PutAt<int32_t>(v, 4, 12);
    PutAt<int32_t>(v, 8, -3);
    DecodedValue d = DecodeEventValue(v);
    EXPECT_EQ(d.kind, Kind::Text);
    EXPECT_EQ(d.Text(), "12 -3");

    PutAt<int32_t>(v, 4, INT32_MIN);
    PutAt<int32_t>(v, 8, INT32_MAX);
    EXPECT_EQ(DecodeEventValue(v).Text(), "-2147483648 2147483647");
}

TEST(DecodeEventValue, InlineTexts) {
    EventValue zero{};
    DecodedValue d = DecodeEventValue(zero);
    EXPECT_EQ(d.kind, Kind::Text);
    EXPECT_EQ(d.Text(), "");

    EXPECT_EQ(DecodeEventValue(Inline(3, "abcdef")).Text(), "abc");
    EXPECT_EQ(DecodeEventValue(Inline(8, std::string("ab\0cdefg", 8))).Text(), "ab");

    EventValue five = Inline(5, "abcdefgh");
    EXPECT_EQ(DecodeEventValue(five).Text(), "abcde");
    EXPECT_EQ(std::string(five.Payload.Text, 8), "abcdefgh");

    const std::string full(603, 'q');
    EXPECT_EQ(DecodeEventValue(Inline(603, full)).Text(), full);
}

// A DataType above 603 reads no further than 603 bytes: the block ends 604
// bytes behind offset 4 and the text needs no terminator of its own.
TEST(DecodeEventValue, InlineTextLongerThanTheBlockStopsAt603) {
    const std::string all(604, 'z');
    for (int16_t code : {604, 1000, INT16_MAX}) {
        DecodedValue d = DecodeEventValue(Inline(code, all));
        EXPECT_EQ(d.Text(), all.substr(0, 603)) << code;
    }
}

TEST(DecodeEventValue, CodesBelowTheLayoutsAreEmptyText) {
    for (int16_t code : {-25, -100, INT16_MIN}) {
        DecodedValue d = DecodeEventValue(NoisyValue(code));
        EXPECT_EQ(d.kind, Kind::Text) << code;
        EXPECT_EQ(d.Text(), "") << code;
    }
}

TEST(DecodeEventValue, TextByAddressStoresItsTerminatorInTheCallersBuffer) {
    for (int16_t code : {-22, -23, -24}) {
        char buf[] = "hello world";
        DecodedValue d = DecodeEventValue(ByAddress(code, buf, 5));
        EXPECT_EQ(d.kind, Kind::Text);
        EXPECT_EQ(d.Text(), "hello") << code;
        EXPECT_EQ(std::string(buf, sizeof buf), std::string("hello\0world\0", 12)) << code;
    }
    char early[] = "ab\0cdef";
    EXPECT_EQ(DecodeEventValue(ByAddress(-22, early, 6)).Text(), "ab");
    EXPECT_EQ(early[6], '\0');

    char none[] = "x";
    EXPECT_EQ(DecodeEventValue(ByAddress(-22, none, 0)).Text(), "");
    EXPECT_EQ(none[0], '\0');
}

TEST(DecodeEventValue, TextByAddressOfTheLongestLength) {
    auto buf = std::make_unique<char[]>(1024);
    std::memset(buf.get(), 'w', 1024);
    DecodedValue d = DecodeEventValue(ByAddress(-24, buf.get(), 1023));
    EXPECT_EQ(d.Text(), std::string(1023, 'w'));
    EXPECT_EQ(buf[1023], '\0');
}

// What the caller did not declare is neither read nor written: the buffers
// below are exactly as long as declared, so the sanitizer sees any overrun.
TEST(DecodeEventValue, TextByAddressOutsideItsBoundsStaysInside) {
    auto big = std::make_unique<char[]>(2000);
    std::memset(big.get(), 'b', 2000);
    DecodedValue d = DecodeEventValue(ByAddress(-22, big.get(), 2000));
    EXPECT_EQ(d.Text(), std::string(1023, 'b'));
    EXPECT_EQ(std::string(big.get(), 2000), std::string(2000, 'b'));

    char small[] = {'s', 's'};
    for (int16_t len : {-1, INT16_MIN}) {
        EXPECT_EQ(DecodeEventValue(ByAddress(-23, small, len)).Text(), "");
        EXPECT_EQ(std::string(small, 2), "ss");
    }

    EXPECT_EQ(DecodeEventValue(ByAddress(-24, nullptr, 5)).Text(), "");
}
