// Cheap checks that keep data the Word library cannot read safely away from it: the compound
// file header and the Word file information block (FIB) with the sizes of its streams.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumbrake::wvadapter {

// The compound-file signature D0 CF 11 E0 A1 B1 1A E1.
bool has_compound_signature(const unsigned char* data, std::size_t length);

// True when data is a compound file whose header is self-consistent: byte order, version and
// sector sizes, and every sector number of the header inside the file.
bool plausible_compound_file(const unsigned char* data, std::size_t length);

// The first bytes of a Word stream that carry one of the document signatures the library
// reads outside a compound file (the legacy Word formats).
bool has_legacy_word_signature(const unsigned char* data, std::size_t length);

// No table stream of that name.
inline constexpr std::size_t no_stream = static_cast<std::size_t>(-1);

// Judges the head of the "WordDocument" stream (fib, fib_length of its first bytes) against
// the stream's size and the sizes of the "0Table" and "1Table" streams. False, with a reason
// in why, for an encrypted document, an unknown signature, or offsets, lengths and character
// counts that point outside their streams.
bool plausible_fib(const unsigned char* fib, std::size_t fib_length, std::size_t word_size,
                   std::size_t table0_size, std::size_t table1_size, std::string& why);

// Reads little-endian numbers from a buffer known to be long enough.
inline std::uint16_t le16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
inline std::uint32_t le32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

} // namespace lumbrake::wvadapter
