// Arbitrary 608-byte blocks through the decoder. The first 608 bytes of an
// input are the block (zero-padded); for a text by address the harness points
// Text at a buffer of its own, exactly as long as TextLen declares, filled
// from the rest of the input, so any read or write past the declared bytes
// trips the sanitizer. A zero first byte of the address member stands for a
// null Text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "event/value_decoding.h"

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

// Bytes the caller declared at Text: TextLen, plus the terminator's byte when
// TextLen is in 0..1023.
std::size_t DeclaredBytes(int16_t textLen) {
    if (textLen < 0) return 0;
    const auto n = static_cast<std::size_t>(textLen);
    return n <= EVT_VALUE_TEXT_REF_MAX ? n + 1 : n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    EventValue v{};
    const std::size_t head = size < sizeof v ? size : sizeof v;
    std::memcpy(&v, data, head);
    const uint8_t *rest = data + head;
    const std::size_t restSize = size - head;

    const bool byAddress = v.DataType <= EVT_VALUE_TEXT_REF_STATUS &&
                           v.DataType >= EVT_VALUE_TEXT_REF_STAMP;
    std::unique_ptr<char[]> buf;
    std::size_t declared = 0;
    if (byAddress) {
        const bool null = reinterpret_cast<const uint8_t *>(&v)[offsetof(EventValue, Payload)] == 0;
        declared = DeclaredBytes(v.Payload.TextRef.TextLen);
        buf.reset(new char[declared]);
        for (std::size_t i = 0; i < declared; ++i)
            buf[i] = restSize ? static_cast<char>(rest[i % restSize]) : 'x';
        v.Payload.TextRef.Text = null ? nullptr : buf.get();
    }

    const qz45::DecodedValue d = qz45::DecodeEventValue(v);

    if (d.kind == qz45::DecodedValue::Kind::Text) {
        Check(d.textLength < qz45::kValueTextBufferSize);
        Check(d.text[d.textLength] == '\0');
        Check(std::memchr(d.text, '\0', d.textLength) == nullptr);
        if (v.DataType > 0)
            Check(d.textLength <= static_cast<std::size_t>(v.DataType) &&
                  d.textLength <= EVT_VALUE_TEXT_MAX);
        if (byAddress && v.Payload.TextRef.Text != nullptr && v.Payload.TextRef.TextLen >= 0 &&
            v.Payload.TextRef.TextLen <= EVT_VALUE_TEXT_REF_MAX)
            Check(buf[static_cast<std::size_t>(v.Payload.TextRef.TextLen)] == '\0');
    } else {
        Check(v.DataType < 0 && v.DataType >= EVT_VALUE_TEXT_REF_STAMP);
    }
    return 0;
}
