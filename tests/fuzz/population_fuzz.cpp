// Feeds arbitrary texts (with or without terminators) and argument choices to
// both population exports.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "qz45alarmevent_api.h"

namespace {

// Splits the input into up to 17 texts; a text is passed as a heap buffer of
// exactly its bytes, terminated only when the input says so, so a measure
// that runs past the limit + 1 shows as a heap overflow.
struct Texts {
    std::vector<std::vector<char>> bufs;
    const char *Get(std::size_t i) const {
        return i < bufs.size() && !bufs[i].empty() ? bufs[i].data() : nullptr;
    }
};

Texts Split(const uint8_t *data, std::size_t size) {
    Texts t;
    std::size_t pos = 0;
    while (pos + 2 <= size && t.bufs.size() < 17) {
        std::size_t len = (data[pos] | (data[pos + 1] << 8)) % 2100;
        pos += 2;
        if (len > size - pos) len = size - pos;
        std::vector<char> b(data + pos, data + pos + len);
        pos += len;
        bool terminate = len > 0 && (b.back() & 1);
        if (terminate) b.push_back('\0');
        // An unterminated text must still stop within limit + 1 reads; make
        // it long enough that any field's limit is reached.
        if (!terminate && !b.empty()) b.resize(2049, 'x');
        t.bufs.push_back(std::move(b));
    }
    return t;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
    Texts t = Split(data, size);
    EventRecord r;
    int16_t status = 0;
    int32_t audit = size > 0 ? data[0] : 0, type = size > 1 ? data[1] : 0;
    TimeStamp ts{static_cast<int32_t>(size), 7};
    EventValue v;
    std::memset(&v, size & 0xff, sizeof v);

    PopulateGeneralSystemEvent(&r, t.Get(0), t.Get(1), t.Get(2), t.Get(3), &ts, t.Get(4),
                               (size & 1) ? &audit : nullptr, &type, t.Get(5), t.Get(6),
                               nullptr, &status);
    if (status != EVT_SUCCESS && status != EVT_E_TOO_LONG) __builtin_trap();
    PopulateChangeValueEvent(&r, t.Get(0), t.Get(1), t.Get(2), t.Get(3), &ts, t.Get(4),
                             (size & 2) ? &audit : nullptr, &type, t.Get(5), t.Get(6), nullptr,
                             t.Get(7), t.Get(8), t.Get(9), t.Get(10), t.Get(11), &ts, &v,
                             (size & 4) ? &v : nullptr, &status);
    if (status != EVT_SUCCESS && status != EVT_E_TOO_LONG) __builtin_trap();
    // Every text field the export wrote is terminated within its field.
    if (status == EVT_SUCCESS && std::memchr(r.Descriptor, 0, sizeof r.Descriptor) == nullptr)
        __builtin_trap();
    return 0;
}
