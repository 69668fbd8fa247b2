#include "util/escape.h"

#include "util/entities.h"

#include <cstdio>

namespace lumbrake {

const char* markup_reference(char c) {
    switch (c) {
    case '&':
        return "&amp;";
    case '<':
        return "&lt;";
    case '>':
        return "&gt;";
    case '"':
        return "&quot;";
    default:
        return nullptr;
    }
}

namespace {

// The text with every byte that `reference` names replaced by what it names.
template <class Reference> std::string escaped(std::string_view text, Reference reference) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (const char* r = reference(c))
            out += r;
        else
            out += c;
    }
    return out;
}

} // namespace

std::string xml_escape(std::string_view text) {
    return escaped(text, [](char c) -> const char* {
        switch (c) {
        case '\'':
            return "&apos;";
        case '\t':
            return "&#9;";
        case '\n':
            return "&#10;";
        case '\r':
            return "&#13;";
        default:
            return markup_reference(c);
        }
    });
}

std::string html_escape(std::string_view text) {
    return escaped(text, markup_reference);
}

void xml_escape_inplace(std::string& text) {
    const auto& names = xml_entity_names();
    for (std::size_t i = 0; i != text.size(); ++i) {
        auto it = names.find(std::string_view(&text[i], 1));
        if (it == names.end()) continue;
        std::string entity = "&";
        entity += it->second;
        entity += ';';
        text.replace(i, 1, entity);
        // The inserted entity is walked over byte by byte; none of its bytes is a key.
    }
}

namespace {

std::string describe(const char* what, unsigned value, std::size_t offset) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s 0x%02X at byte %zu", what, value, offset);
    return buf;
}

} // namespace

bool xml_text_writable(std::string_view text, std::string& why) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        unsigned c = s[i];
        if (c < 0x80) {
            if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
                why = describe("control character", c, i);
                return false;
            }
            ++i;
            continue;
        }
        std::size_t len;
        unsigned cp;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else {
            why = describe("invalid UTF-8 byte", c, i);
            return false;
        }
        if (n - i < len) {
            why = describe("truncated UTF-8 sequence starting with byte", c, i);
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            unsigned cc = s[i + k];
            if ((cc & 0xC0) != 0x80) {
                why = describe("invalid UTF-8 sequence starting with byte", c, i);
                return false;
            }
            cp = (cp << 6) | (cc & 0x3F);
        }
        bool overlong = (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000);
        if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            why = describe("invalid UTF-8 sequence starting with byte", c, i);
            return false;
        }
        if (cp == 0xFFFE || cp == 0xFFFF) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "non-character U+%04X at byte %zu", cp, i);
            why = buf;
            return false;
        }
        i += len;
    }
    return true;
}

} // namespace lumbrake
