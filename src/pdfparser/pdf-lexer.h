// The byte source over the document and the lexical readers that every PDF part shares.
// Every reader reads the document through ByteSource::byte_at, which never looks past the end
// (it yields 0 there), so a reader given a bad end stops at the document's end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "pdfparser/pdf-objects.h"

namespace PdfParser {

// Process-wide: one document at a time per process. The document bytes stay the caller's;
// they must outlive close().
class ByteSource {
public:
    static constexpr std::size_t window_size = 10240;

    // Makes the source over [begin, end) and loads the first window; a source already open is
    // replaced. The work budget (below) starts afresh.
    static void open(const std::uint8_t* begin, const std::uint8_t* end);
    static void open(std::string_view document);
    // Frees the window; byte_at then yields 0 everywhere and length() is 0.
    static void close();
    static bool is_open();

    // The byte at offset (0 at or past the end). Reloads the window when offset lies outside it.
    static std::uint8_t byte_at(Pos offset);
    static Pos length();

    // Direct view of [begin, end) clamped to the document, for bulk readers (filters).
    static std::span<const std::uint8_t> bytes(Pos begin, Pos end);

    // Work budget of one parse, so that hostile cross-references and streams cannot make a
    // parse run for hours: every byte_at costs 1, filters charge what they read and write.
    // Over budget throws BadFormatException "Document too complex".
    static void charge(std::size_t work);
    static std::uint64_t work_done();

    struct State {
        const std::uint8_t* begin = nullptr;
        std::size_t length = 0;
        std::unique_ptr<std::uint8_t[]> window;
        Pos window_begin = 0;
        Pos window_end = 0; // one past the last loaded byte
        std::uint64_t work = 0;
        std::uint64_t budget = 0;
    };

private:
    static std::uint8_t reload(Pos offset);
    [[noreturn]] static void over_budget();
    static State state_;
};

inline std::uint8_t ByteSource::byte_at(Pos offset) {
    if (++state_.work > state_.budget) [[unlikely]]
        over_budget();
    if (offset >= state_.window_begin && offset < state_.window_end)
        return state_.window[offset - state_.window_begin];
    return reload(offset);
}

inline Pos ByteSource::length() {
    return state_.length;
}

// The C library's isspace on a byte.
inline bool is_blank(std::uint8_t c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
inline bool is_digit(std::uint8_t c) {
    return c >= '0' && c <= '9';
}

// Searches forward from pos (up to end) for the tag outside literal strings; on success pos
// stands just behind the tag. A byte that breaks a partial match is not tried as the start of
// a new one. A ')' at the start position is stepped over first.
bool find_tag(Pos& pos, Pos end, std::string_view tag);

// find_tag for a whole name: the byte behind the tag must end the name (white space, a
// delimiter or the end of the range), so that "/Length" does not stop at "/Length1".
bool find_key(Pos& pos, Pos end, std::string_view key);

// True for the bytes that end a name or a number: white space and ( ) < > [ ] { } / %.
bool is_delimiter(std::uint8_t c);

// Advances over white space before end.
void skip_blanks(Pos& pos, Pos end);

// Decimal digits (no sign); stops at the first non-digit; an empty run gives 0. Saturates
// instead of overflowing.
std::uint64_t read_unsigned(Pos& pos);

// "(...)" at pos with nesting and escapes; anything else gives "" and leaves pos. An
// unterminated string ends at the document's end.
std::string read_literal_string(Pos& pos);

// "<...>" at pos, hex digit pairs into bytes, a last single digit as the high half; anything
// else gives "" and leaves pos. White space between the digits is skipped.
std::string read_hex_string(Pos& pos);

// The string at pos after white space: literal when it starts with '(', else hex.
std::string read_string(Pos& pos, Pos end);

} // namespace PdfParser
