// Stop-bit integers: 7 bits a byte, least significant group first, bit 7 set on the LAST byte.
// 0 is the single byte 0x80; a 32-bit value takes 1 to 5 bytes, a 16-bit value 1 to 3.
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/log.h"

namespace lumbrake {

// Longest encodings: decoders give up after this many bytes without a stop bit.
inline constexpr std::size_t math_max_bytes32 = 5;
inline constexpr std::size_t math_max_bytes16 = 3;

// Number of bytes of a value: 1 + (index of its highest set bit) / 7, and 1 for 0.
inline std::size_t math_encoded_size(std::uint32_t value) {
    std::size_t n = 1;
    while (value >= 0x80) {
        value >>= 7;
        ++n;
    }
    return n;
}

// Writes the value into buf; returns the bytes written, 0 when buflen is too small.
inline std::size_t math_encode(unsigned char* buf, std::size_t buflen, std::uint32_t value) {
    TN_ASSERT(buflen > 0);
    const std::size_t l = math_encoded_size(value);
    if (l > buflen) return 0;
    for (std::size_t i = 0; i + 1 < l; ++i) {
        buf[i] = static_cast<unsigned char>(value & 0x7F);
        value >>= 7;
    }
    buf[l - 1] = static_cast<unsigned char>(0x80 | (value & 0x7F));
    return l;
}

// Decodes one number of at most max_bytes bytes. Returns the bytes used, or 0 when the buffer
// ends before the stop byte or no stop byte comes within max_bytes. Bits beyond the width of
// T are dropped (writers never produce them).
template <typename T>
inline std::size_t math_decode_n(const unsigned char* buf, std::size_t length, T& value,
                                 std::size_t max_bytes) {
    T v = 0;
    const std::size_t n = length < max_bytes ? length : max_bytes;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char b = buf[i];
        const unsigned shift = static_cast<unsigned>(7 * i);
        if (shift < sizeof(T) * 8)
            v = static_cast<T>(v | static_cast<T>(static_cast<T>(b & 0x7F) << shift));
        if (b & 0x80) {
            value = v;
            return i + 1;
        }
    }
    return 0;
}

inline std::size_t math_decode(const unsigned char* buf, std::size_t length, std::uint32_t& value) {
    return math_decode_n<std::uint32_t>(buf, length, value, math_max_bytes32);
}

inline std::size_t math_decode16(const unsigned char* buf, std::size_t length,
                                 std::uint16_t& value) {
    return math_decode_n<std::uint16_t>(buf, length, value, math_max_bytes16);
}

} // namespace lumbrake
