// UTF-8 decoding and encoding, character classes, case folding, list splitting.
#include "util/codecs.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "util/unicode_tables.h"

namespace lumbrake {

// ---- lists ----

void split_list(std::vector<std::string>& out, std::string_view text, std::string_view separators,
                bool keep_empty) {
    out.clear();
    std::size_t start = 0;
    for (;;) {
        std::size_t sep = text.find_first_of(separators, start);
        if (sep == std::string_view::npos) {
            if (start < text.size() || (keep_empty && start > 0))
                out.emplace_back(text.substr(start));
            return;
        }
        if (sep > start || keep_empty) out.emplace_back(text.substr(start, sep - start));
        start = sep + 1;
    }
}

void join_list(std::string& out, const std::vector<std::string>& list, std::string_view separator) {
    out.clear();
    for (std::size_t i = 0; i < list.size(); ++i) {
        if (i) out.append(separator);
        out.append(list[i]);
    }
}

// ---- UTF-8 ----

namespace {

// Length announced by a first byte, 0 for 0xFE and 0xFF.
inline unsigned utf8_length(unsigned char b) {
    if (b < 0xC2) return 1;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    if (b < 0xF8) return 4;
    if (b < 0xFC) return 5;
    if (b < 0xFE) return 6;
    return 0;
}

// Lowest second byte that is not an overlong form, for the first bytes that need a check.
inline unsigned char min_second(unsigned char b) {
    switch (b) {
    case 0xE0:
        return 0xA0;
    case 0xF0:
        return 0x90;
    case 0xF8:
        return 0x88;
    case 0xFC:
        return 0x84;
    default:
        return 0x80;
    }
}

enum decode_status { DECODED, BAD, TRUNCATED };

// Decodes the sequence at p (with `avail` bytes readable, avail >= 1). On success sets c and
// the length used.
inline decode_status decode_one(const unsigned char* p, std::size_t avail, code_point& c,
                                unsigned& len) {
    unsigned char b = p[0];
    len = utf8_length(b);
    if (len == 1) {
        c = b;
        return DECODED;
    }
    if (len == 0) {
        len = 1;
        return BAD;
    }
    static constexpr unsigned char lead_mask[7] = {0, 0, 0x1F, 0x0F, 0x07, 0x03, 0x01};
    code_point value = b & lead_mask[len];
    std::size_t n = std::min<std::size_t>(len, avail);
    for (std::size_t i = 1; i < n; ++i) {
        unsigned char cb = p[i];
        if (cb < 0x80 || cb > 0xBF || (i == 1 && cb < min_second(b))) return BAD;
        value = (value << 6) | (cb & 0x3F);
    }
    if (n < len) return TRUNCATED;
    c = value;
    return DECODED;
}

} // namespace

code_point utf8_decode_at(std::string_view text, std::size_t& index, bool& valid) {
    if (index >= text.size()) {
        index = text.size();
        valid = false;
        return REPLACEMENT_CHARACTER;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + index;
    code_point c = 0;
    unsigned len = 0;
    switch (decode_one(p, text.size() - index, c, len)) {
    case DECODED:
        index += len;
        valid = true;
        return c;
    case TRUNCATED:
        index = text.size();
        break;
    case BAD:
        index += 1;
        break;
    }
    valid = false;
    return REPLACEMENT_CHARACTER;
}

code_point utf8_decode_next(std::string_view text, std::size_t& index, bool& valid) {
    if (index >= text.size() || text[index] == '\0') {
        index = std::min(index, text.size());
        valid = true;
        return 0;
    }
    const auto* base = reinterpret_cast<const unsigned char*>(text.data());
    const unsigned char* p = base + index;
    // Stop at an embedded NUL as a C string would.
    std::size_t limit = text.size() - index;
    unsigned announced = utf8_length(*p);
    std::size_t avail = std::min<std::size_t>(limit, announced ? announced : 1);
    for (std::size_t i = 1; i < avail; ++i)
        if (p[i] == 0) {
            avail = i;
            break;
        }
    code_point c = 0;
    unsigned len = 0;
    if (decode_one(p, avail, c, len) == DECODED) {
        index += len;
        valid = true;
        return c;
    }
    // Skip what the first byte announced, but not past the end or the NUL.
    index += std::max<std::size_t>(1, std::min<std::size_t>(announced, avail));
    valid = false;
    return REPLACEMENT_CHARACTER;
}

code_point utf8_decode_next(const char*& cursor, bool& valid) {
    if (*cursor == '\0') {
        valid = true;
        return 0;
    }
    // Never look past the NUL: at most six bytes are examined.
    std::size_t n = 0;
    while (n < 6 && cursor[n] != '\0')
        ++n;
    std::size_t index = 0;
    code_point c = utf8_decode_next(std::string_view(cursor, n), index, valid);
    cursor += index;
    return c;
}

void utf8_append(code_point c, std::string& out) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
        return;
    }
    unsigned len;
    unsigned char lead;
    if (c < 0x800) {
        len = 2;
        lead = 0xC0;
    } else if (c < 0x10000) {
        len = 3;
        lead = 0xE0;
    } else if (c < 0x200000) {
        len = 4;
        lead = 0xF0;
    } else if (c < 0x4000000) {
        len = 5;
        lead = 0xF8;
    } else if (c <= 0x7FFFFFFF) {
        len = 6;
        lead = 0xFC;
    } else {
        return;
    }
    char buf[6];
    for (unsigned i = len - 1; i > 0; --i) {
        buf[i] = static_cast<char>(0x80 | (c & 0x3F));
        c >>= 6;
    }
    buf[0] = static_cast<char>(lead | c);
    out.append(buf, len);
}

bool utf8_is_alnum(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        bool valid;
        code_point c = utf8_decode_at(text, i, valid);
        if (!valid || !is_unicode_alnum(c)) return false;
    }
    return true;
}

// ---- classes ----

const std::uint8_t* unicode_class_table() {
    return unicode_data::class_table;
}

// ---- case folding ----

const case_fold_entry* case_fold_table(std::size_t& count) {
    count = unicode_data::fold_table_size;
    return unicode_data::fold_table;
}

namespace {

// BMP index: entry number + 1 per code point (0: no entry). Built once, thread-safely.
struct fold_index {
    std::unique_ptr<std::uint16_t[]> bmp{new std::uint16_t[0x10000]()};
    std::size_t first_above_bmp = 0; // entries from here on are above U+FFFF, sorted
    // ASCII bytes whose fold is one ASCII byte, that byte (the byte itself without an entry);
    // -1 for any other (none in Unicode's folding, but then the general path decides).
    std::int16_t ascii[0x80];

    fold_index() {
        const std::size_t n = unicode_data::fold_table_size;
        first_above_bmp = n;
        for (std::size_t i = 0; i < n; ++i) {
            code_point s = unicode_data::fold_table[i].source;
            if (s < 0x10000)
                bmp[s] = static_cast<std::uint16_t>(i + 1);
            else if (first_above_bmp == n)
                first_above_bmp = i;
        }
        for (unsigned c = 0; c < 0x80; ++c) {
            ascii[c] = static_cast<std::int16_t>(c);
            if (const std::uint16_t e = bmp[c]) {
                const case_fold_entry& f = unicode_data::fold_table[e - 1];
                ascii[c] = f.count == 1 && f.targets[0] < 0x80
                               ? static_cast<std::int16_t>(f.targets[0])
                               : std::int16_t{-1};
            }
        }
    }
};

const fold_index& get_fold_index() {
    static const fold_index index;
    return index;
}

} // namespace

const case_fold_entry* case_fold_lookup(code_point c) {
    const fold_index& ix = get_fold_index();
    if (c < 0x10000) {
        std::uint16_t e = ix.bmp[c];
        return e ? &unicode_data::fold_table[e - 1] : nullptr;
    }
    const case_fold_entry* begin = unicode_data::fold_table + ix.first_above_bmp;
    const case_fold_entry* end = unicode_data::fold_table + unicode_data::fold_table_size;
    const case_fold_entry* it = std::lower_bound(
        begin, end, c, [](const case_fold_entry& e, code_point v) { return e.source < v; });
    return (it != end && it->source == c) ? it : nullptr;
}

void utf8_case_fold(std::string_view text, std::string& out, bool& valid) {
    out.clear();
    out.reserve(text.size());
    valid = true;
    const fold_index& ix = get_fold_index();
    std::size_t i = 0;
    while (i < text.size()) {
        // Most text is ASCII: one table look-up a byte.
        const auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80 && ix.ascii[b] >= 0) {
            out += static_cast<char>(ix.ascii[b]);
            ++i;
            continue;
        }
        bool ok;
        code_point c = utf8_decode_at(text, i, ok);
        if (!ok) valid = false;
        if (const case_fold_entry* e = case_fold_lookup(c)) {
            for (unsigned k = 0; k < e->count; ++k)
                utf8_append(e->targets[k], out);
        } else {
            utf8_append(c, out);
        }
    }
}

} // namespace lumbrake
