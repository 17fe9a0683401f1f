// Value blocks for tests, written byte by byte at the offsets a caller uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "qz45alarmevent_api.h"

// A block whose payload is noise everywhere, so that a read of the wrong
// width or at the wrong offset shows.
inline EventValue NoisyValue(int16_t dataType) {
    EventValue v;
    std::memset(&v, 0xA5, sizeof v);
    v.DataType = dataType;
    return v;
}

// Stores x at the given offset of the block.
template <typename T>
void PutAt(EventValue &v, std::size_t offset, T x) {
    std::memcpy(reinterpret_cast<unsigned char *>(&v) + offset, &x, sizeof x);
}
