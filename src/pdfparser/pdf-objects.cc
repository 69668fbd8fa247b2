#include "pdfparser/pdf-objects.h"

#include <algorithm>
#include <cstring>

#include "util/codecs.h"
#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-security.h"
#include "pdfparser/pdf-xref.h"

namespace PdfParser {

Array::Array(Pos start, Pos end) {
    Pos p = start;
    if (!find_tag(p, end, "["))
        throw BadObjectException("Tag [ or ] not found, probably Array corrupted");
    this->start = p;
    if (!find_tag(p, end, "]"))
        throw BadObjectException("Tag [ or ] not found, probably Array corrupted");
    this->end = p - 1;
}

Dictionary::Dictionary(Pos start, Pos end) {
    static const char* const message = "Tag << or >> not found, probably Dictionary corrupted";
    Pos p = start;
    if (!find_tag(p, end, "<<")) throw BadObjectException(message);
    this->start = p;
    const Pos limit = std::min(end, ByteSource::length());
    long depth = 2;
    long string_depth = 0;
    bool escaped = false;
    while (p < limit) {
        const std::uint8_t c = ByteSource::byte_at(p++);
        if (!escaped) {
            if (c == '(') {
                ++string_depth;
            } else if (c == ')') {
                if (string_depth > 0) --string_depth;
            } else if (string_depth == 0) {
                if (c == '<') {
                    ++depth;
                } else if (c == '>' && --depth == 0) {
                    this->end = p - 2;
                    return;
                }
            }
        }
        escaped = (c == '\\') && !escaped;
    }
    throw BadObjectException(message);
}

Dictionary::Dictionary(Pos start, Pos end, std::uint32_t number, std::int32_t generation)
    : Dictionary(start, end) {
    const XrefTable& table = XrefTable::instance();
    if (!table.encrypted) return;
    encrypted_ = true;
    const std::string key = object_key(table.file_key, table.key_length, number, generation);
    key_length_ = std::min<std::size_t>(key.size(), sizeof key_);
    std::memcpy(key_, key.data(), key_length_);
}

std::string Dictionary::get_string(std::string_view key) const {
    Pos p = start;
    if (!find_tag(p, end, key)) return {};
    std::string value = read_string(p, end);
    if (encrypted_ && !value.empty())
        value = rc4(std::string_view(reinterpret_cast<const char*>(key_), key_length_), value);
    if (value.size() >= 2 && static_cast<std::uint8_t>(value[0]) == 0xFE &&
        static_cast<std::uint8_t>(value[1]) == 0xFF)
        return utf16be_to_utf8(std::string_view(value).substr(2));
    return value;
}

std::string make_object_key(std::string_view file_key, std::uint32_t number,
                            std::int32_t generation) {
    std::string out(file_key);
    out += static_cast<char>(number & 0xFF);
    out += static_cast<char>((number >> 8) & 0xFF);
    out += static_cast<char>((number >> 16) & 0xFF);
    const auto g = static_cast<std::uint32_t>(generation);
    out += static_cast<char>(g & 0xFF);
    out += static_cast<char>((g >> 8) & 0xFF);
    return out;
}

std::string utf16be_to_utf8(std::string_view units) {
    std::string out;
    const std::size_t n = units.size() / 2;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t u = static_cast<std::uint8_t>(units[2 * k]) << 8 |
                                static_cast<std::uint8_t>(units[2 * k + 1]);
        if (u >= 0xD800 && u <= 0xDBFF && k + 1 < n) {
            const std::uint32_t low = static_cast<std::uint8_t>(units[2 * k + 2]) << 8 |
                                      static_cast<std::uint8_t>(units[2 * k + 3]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                lumbrake::utf8_append(0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00), out);
                ++k;
                continue;
            }
        }
        if (u >= 0xD800 && u <= 0xDFFF) continue; // a lone surrogate is no character
        lumbrake::utf8_append(u, out);
    }
    return out;
}

} // namespace PdfParser
