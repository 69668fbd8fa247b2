#include "pdfparser/pdf-lexer.h"

#include <algorithm>
#include <cstring>
#include <limits>

namespace PdfParser {

ByteSource::State ByteSource::state_;

namespace {

// Generous for real documents (a parse reads each byte a few times), small enough that a
// document built to make lookups scan it over and over ends in seconds.
constexpr std::uint64_t budget_per_byte = 64;
constexpr std::uint64_t budget_base = 256u << 20;

} // namespace

void ByteSource::open(const std::uint8_t* begin, const std::uint8_t* end) {
    state_.begin = begin;
    state_.length = (begin && end > begin) ? static_cast<std::size_t>(end - begin) : 0;
    if (!state_.window) state_.window = std::make_unique<std::uint8_t[]>(window_size);
    state_.work = 0;
    state_.budget = budget_base + budget_per_byte * state_.length;
    state_.window_begin = 0;
    state_.window_end = std::min(window_size, state_.length);
    if (state_.window_end) std::memcpy(state_.window.get(), state_.begin, state_.window_end);
}

void ByteSource::open(std::string_view document) {
    auto* p = reinterpret_cast<const std::uint8_t*>(document.data());
    open(p, p + document.size());
}

void ByteSource::close() {
    state_.window.reset();
    state_.begin = nullptr;
    state_.length = 0;
    state_.window_begin = 0;
    state_.window_end = 0;
}

bool ByteSource::is_open() {
    return state_.window != nullptr;
}

std::uint8_t ByteSource::reload(Pos offset) {
    if (offset >= state_.length || !state_.window) return 0;
    state_.window_begin = offset;
    state_.window_end = std::min<std::size_t>(offset + window_size, state_.length);
    std::memcpy(state_.window.get(), state_.begin + offset, state_.window_end - offset);
    return state_.window[0];
}

std::span<const std::uint8_t> ByteSource::bytes(Pos begin, Pos end) {
    end = std::min(end, state_.length);
    if (begin >= end || !state_.begin) return {};
    return {state_.begin + begin, end - begin};
}

void ByteSource::charge(std::size_t work) {
    state_.work += work;
    if (state_.work > state_.budget) over_budget();
}

std::uint64_t ByteSource::work_done() {
    return state_.work;
}

void ByteSource::over_budget() {
    // Stay over budget: every later read fails at once, so the parse ends quickly.
    state_.work = state_.budget;
    throw BadFormatException("Document too complex");
}

bool find_tag(Pos& pos, Pos end, std::string_view tag) {
    const Pos limit = std::min(end, ByteSource::length());
    Pos p = pos;
    if (tag.empty()) return true;
    if (p < limit && ByteSource::byte_at(p) == ')') ++p;
    long depth = 0;
    std::size_t matched = 0;
    bool escaped = false; // the byte before was an unescaped backslash
    while (p < limit) {
        const std::uint8_t c = ByteSource::byte_at(p++);
        if (depth == 0 && c == static_cast<std::uint8_t>(tag[matched])) {
            escaped = false;
            if (++matched == tag.size()) {
                pos = p;
                return true;
            }
            continue;
        }
        matched = 0;
        if (!escaped) {
            if (c == '(') ++depth;
            // A stray ')' outside any string must not hide the rest of the range.
            else if (c == ')' && depth > 0)
                --depth;
        }
        escaped = (c == '\\') && !escaped;
    }
    pos = p;
    return false;
}

bool is_delimiter(std::uint8_t c) {
    switch (c) {
    case '(':
    case ')':
    case '<':
    case '>':
    case '[':
    case ']':
    case '{':
    case '}':
    case '/':
    case '%':
        return true;
    default:
        return is_blank(c) || c == 0;
    }
}

bool find_key(Pos& pos, Pos end, std::string_view key) {
    const Pos limit = std::min(end, ByteSource::length());
    Pos p = pos;
    while (find_tag(p, end, key)) {
        if (p >= limit || is_delimiter(ByteSource::byte_at(p))) {
            pos = p;
            return true;
        }
    }
    pos = p;
    return false;
}

void skip_blanks(Pos& pos, Pos end) {
    const Pos limit = std::min(end, ByteSource::length());
    while (pos < limit && is_blank(ByteSource::byte_at(pos)))
        ++pos;
}

std::uint64_t read_unsigned(Pos& pos) {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    const Pos limit = ByteSource::length();
    while (pos < limit) {
        const std::uint8_t c = ByteSource::byte_at(pos);
        if (!is_digit(c)) break;
        const unsigned d = c - '0';
        value = (value > (max - d) / 10) ? max : value * 10 + d;
        ++pos;
    }
    return value;
}

std::string read_literal_string(Pos& pos) {
    std::string out;
    const Pos limit = ByteSource::length();
    if (pos >= limit || ByteSource::byte_at(pos) != '(') return out;
    Pos p = pos + 1;
    long depth = 1;
    while (p < limit) {
        std::uint8_t c = ByteSource::byte_at(p++);
        if (c == '\\') {
            if (p >= limit) break;
            const std::uint8_t e = ByteSource::byte_at(p++);
            switch (e) {
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case '(':
                out += '(';
                break;
            case ')':
                out += ')';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                if (e >= '0' && e <= '7') {
                    // One to three octal digits: "\0)" must not swallow the closing bracket.
                    unsigned value = e - '0';
                    for (int k = 0; k < 2 && p < limit; ++k) {
                        const std::uint8_t d = ByteSource::byte_at(p);
                        if (d < '0' || d > '7') break;
                        value = value * 8 + (d - '0');
                        ++p;
                    }
                    out += static_cast<char>(value & 0xFF);
                }
                // Any other byte after a backslash (a line end too) is dropped with it.
                break;
            }
            continue;
        }
        if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0) break;
        }
        out += static_cast<char>(c);
    }
    pos = p;
    return out;
}

namespace {

int hex_value(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string read_hex_string(Pos& pos) {
    std::string out;
    const Pos limit = ByteSource::length();
    if (pos >= limit || ByteSource::byte_at(pos) != '<') return out;
    Pos p = pos + 1;
    int high = -1;
    while (p < limit) {
        const std::uint8_t c = ByteSource::byte_at(p++);
        if (c == '>') break;
        const int v = hex_value(c);
        if (v < 0) continue; // white space (and stray bytes) between the digits
        if (high < 0) {
            high = v;
        } else {
            out += static_cast<char>(high << 4 | v);
            high = -1;
        }
    }
    if (high >= 0) out += static_cast<char>(high << 4);
    pos = p;
    return out;
}

std::string read_string(Pos& pos, Pos end) {
    skip_blanks(pos, end);
    if (pos >= ByteSource::length()) return {};
    const std::uint8_t c = ByteSource::byte_at(pos);
    if (c == '(') return read_literal_string(pos);
    if (c == '<' && ByteSource::byte_at(pos + 1) != '<') return read_hex_string(pos);
    return {};
}

} // namespace PdfParser
