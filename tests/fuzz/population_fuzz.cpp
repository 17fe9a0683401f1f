// Feeds arbitrary texts (with or without terminators) and argument choices to
// both population exports, and checks the record against the arguments: on
// success every text field holds its argument (or stays zero), on a refusal
// the fields before the first over-long text hold theirs and every field from
// it on is zero.
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

template <std::size_t N>
bool AllZero(const char (&f)[N]) {
    for (char c : f)
        if (c != 0) return false;
    return true;
}

// One text field of the change export with the index of its argument.
struct TextField {
    const char *field;
    std::size_t size;
    std::size_t arg;
};

template <std::size_t N>
TextField Field(const char (&f)[N], std::size_t arg) {
    return {f, N, arg};
}

// Whether the record holds what the change export was given, in argument
// order, stopping at the first text that does not fit when it was refused.
bool MatchesArguments(const EventRecord &r, const Texts &t, int16_t status) {
    const TextField fields[] = {
        Field(r.Path, 0),       Field(r.AppName, 1),         Field(r.User, 2),
        Field(r.Domain, 3),     Field(r.Message, 4),         Field(r.RefId, 5),
        Field(r.AppKey, 6),     Field(r.Descriptor, 7),      Field(r.DescriptorType, 8),
        Field(r.Area, 9),       Field(r.Unit, 10),           Field(r.Property, 11)};
    bool refusedYet = false;
    for (const TextField &f : fields) {
        const char *arg = t.Get(f.arg);
        const bool fits = arg == nullptr || std::memchr(arg, 0, f.size) != nullptr;
        if (!fits) refusedYet = true;
        if (refusedYet || arg == nullptr) {
            for (std::size_t i = 0; i < f.size; ++i)
                if (f.field[i] != 0) return false;
        } else if (std::strcmp(f.field, arg) != 0) {
            return false;
        }
    }
    return refusedYet == (status == EVT_E_TOO_LONG);
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
    if (!MatchesArguments(r, t, status)) __builtin_trap();
    if (status == EVT_SUCCESS &&
        (r.AuditTrail != ((size & 2) ? audit : 1) || std::memcmp(&r.OldValue, &v, sizeof v) != 0 ||
         ((size & 4) ? std::memcmp(&r.NewValue, &v, sizeof v) != 0 : !AllZero(r.NewValue.Payload.Text))))
        __builtin_trap();
    return 0;
}
