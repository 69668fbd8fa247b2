// Text codecs: UTF-8 decoding and encoding with a fixed treatment of bad input, Unicode
// character classes and case folding (BMP tables of their time), single-byte charsets,
// query strings, list splitting. Base64 lives in util/base64.h (included here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "util/base64.h"

namespace lumbrake {

using code_point = std::uint32_t;
inline constexpr code_point REPLACEMENT_CHARACTER = 0xFFFD;

// ---- query strings and lists ----

// Fills the map from "a=1&b=x+y%21&c": names literal, values "+"- and %XX-decoded, a bad
// "%" kept; an item without "=" gives an empty value; later items win. Asserts qs != 0.
void cgi_parse_query(std::map<std::string, std::string>& out, const char* qs);
void cgi_parse_query(std::map<std::string, std::string>& out, const std::string& qs);

// Splits at any character of `separators`; empty pieces are kept only with keep_empty.
// The list is cleared first.
void split_list(std::vector<std::string>& out, std::string_view text, std::string_view separators,
                bool keep_empty = false);
// Writes the elements with `separator` between them (out is replaced).
void join_list(std::string& out, const std::vector<std::string>& list, std::string_view separator);

// ---- UTF-8 ----

// The code point at `index`, which moves past it. Bad sequences give U+FFFD with valid
// false: a cut-off sequence moves the index to the end, any other bad one by one byte.
// At or past the end: U+FFFD, valid false, index set to text.size().
code_point utf8_decode_at(std::string_view text, std::size_t& index, bool& valid);

// The same on a NUL-terminated text; after a bad sequence the cursor skips the length the
// first byte announces, but never past the NUL. At the NUL itself: 0, valid, no move.
code_point utf8_decode_next(const char*& cursor, bool& valid);
// Bounded variant: the end of `text` acts as the terminating NUL.
code_point utf8_decode_next(std::string_view text, std::size_t& index, bool& valid);

// Appends the UTF-8 form (1 to 6 bytes); values above 0x7FFFFFFF append nothing.
void utf8_append(code_point c, std::string& out);

// True when every code point is a letter or a number and the text is valid (empty: true).
bool utf8_is_alnum(std::string_view text);

// Folds every code point through the case-folding table; out is replaced. valid is false
// when the text holds a bad sequence (that sequence is folded as U+FFFD).
void utf8_case_fold(std::string_view text, std::string& out, bool& valid);

// ---- Unicode classes (U+0000..U+FFFF; nothing from U+10000 up) ----

// High nibble: major category; low nibble: minor category in Unicode order.
enum unicode_major : std::uint8_t {
    UC_UNASSIGNED = 0,
    UC_LETTER = 1,
    UC_MARK = 2,
    UC_NUMBER = 3,
    UC_PUNCTUATION = 4,
    UC_SYMBOL = 5,
    UC_SEPARATOR = 6,
    UC_OTHER = 7,
};

namespace unicode_data {
extern const std::uint8_t class_table[0x10000]; // generated: unicode_tables.cc
}

// The 65536-byte class table.
const std::uint8_t* unicode_class_table();
// The class byte of c, 0 (unassigned) from U+10000 up: one look-up.
inline std::uint8_t unicode_class(code_point c) {
    return c < 0x10000 ? unicode_data::class_table[c] : 0;
}
inline unsigned unicode_major_class(code_point c) {
    return unicode_class(c) >> 4;
}

inline bool is_unicode_alnum(code_point c) {
    unsigned m = unicode_major_class(c);
    return m == UC_LETTER || m == UC_NUMBER;
}
inline bool is_unicode_mark(code_point c) {
    return unicode_major_class(c) == UC_MARK;
}
inline bool is_unicode_punctuation(code_point c) {
    return unicode_major_class(c) == UC_PUNCTUATION;
}
inline bool is_unicode_symbol(code_point c) {
    return unicode_major_class(c) == UC_SYMBOL;
}
inline bool is_unicode_separator(code_point c) {
    return unicode_major_class(c) == UC_SEPARATOR;
}
inline bool is_unicode_other(code_point c) {
    return unicode_major_class(c) == UC_OTHER;
}

// ---- case folding ----

struct case_fold_entry {
    code_point source;
    std::uint8_t count; // 0..3 targets
    code_point targets[3];
};

// The whole table, ordered by source code point.
const case_fold_entry* case_fold_table(std::size_t& count);
// The entry of c, or null when c folds to itself.
const case_fold_entry* case_fold_lookup(code_point c);

// ---- single-byte charsets ----

class charset {
public:
    enum kind_t : int { SEVEN_BIT = 0, TABLE = 1, UTF8 = 2, ICONV = 3 };

    charset() : charset("utf-8") {}
    explicit charset(std::string_view label) { set(label); }

    // Chooses the decoding by label (case-insensitive): our tables first, then any charset
    // the C library's iconv knows (EUC-JP, Shift_JIS, GBK, Big5, ISO-2022-JP...). A label
    // nobody knows gives seven-bit decoding and false. "iso-8859-1", "latin-1" and "us-ascii"
    // decode bytes 0x80-0x9F as windows-1252, as every page so labelled means them.
    bool set(std::string_view label);

    const std::string& label() const { return label_; }
    int kind() const { return kind_; }
    // The 256-entry byte table (kind TABLE only, else null); undefined bytes give 0.
    const code_point* table() const { return table_; }

    // Decodes one code point at `index` (moved past it). Seven-bit and table kinds take one
    // byte and are always valid; UTF-8 decodes as utf8_decode_at; the iconv kind takes as many
    // bytes as the character has (a bad or cut-off sequence: U+FFFD, valid false, one byte
    // resp. to the end). At or past the end: U+FFFD, valid false.
    code_point next_code_point_at(std::string_view text, std::size_t& index, bool& valid) const;
    // The same at a cursor into a NUL-terminated text (UTF-8 as utf8_decode_next). At the
    // NUL: 0, valid, no move.
    code_point next_code_point(const char*& cursor, bool& valid) const;

private:
    code_point next_iconv(const char* p, std::size_t available, std::size_t& used,
                          bool& valid) const;

    std::string label_;
    int kind_ = UTF8;
    const code_point* table_ = nullptr;
    // The iconv kind: one conversion descriptor, shared by copies. Its shift state carries over
    // between calls that read on where the last one stopped (ISO-2022-JP escapes).
    std::shared_ptr<void> iconv_;
    mutable const char* iconv_next_ = nullptr;
};

// The process-wide decoder (starts as "utf-8"), for the single-threaded worker's parsers.
charset& input_charset();
bool set_input_charset(std::string_view label);
code_point next_code_point_at(std::string_view text, std::size_t& index, bool& valid);
code_point next_code_point(const char*& cursor, bool& valid);

} // namespace lumbrake
