// Bounded access to the fixed-size text fields of a record.
//
// A record may come straight from a caller who wrote its fields by hand, so a
// field is never assumed to hold its terminator: every read stays inside the
// field, and every write leaves one.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace qz45 {

// Length of s, looking at no more than max bytes.
inline std::size_t BoundedLength(const char *s, std::size_t max) {
    const void *end = std::memchr(s, '\0', max);
    return end ? static_cast<std::size_t>(static_cast<const char *>(end) - s) : max;
}

// The text of a field: up to its first zero byte, or the whole field.
template <std::size_t N>
std::string_view FieldText(const char (&field)[N]) {
    return std::string_view(field, BoundedLength(field, N));
}

template <std::size_t N>
bool FieldEmpty(const char (&field)[N]) {
    return field[0] == '\0';
}

// Writes text into the field, cut to N - 1 bytes, always terminated.
template <std::size_t N>
void SetFieldText(char (&field)[N], std::string_view text) {
    std::size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

}  // namespace qz45
