#include "wvadapter/wv-events.h"

namespace lumbrake::wvadapter {

namespace {

void put_u16(std::string& out, std::uint16_t v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>(v >> 8));
}

void put_u32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<char>((v >> (8 * i)) & 0xff));
}

struct reader {
    std::string_view data;
    std::size_t pos = 0;

    bool u8(std::uint8_t& v) {
        if (data.size() - pos < 1) return false;
        v = static_cast<std::uint8_t>(data[pos++]);
        return true;
    }
    bool u16(std::uint16_t& v) {
        if (data.size() - pos < 2) return false;
        v = static_cast<std::uint16_t>(static_cast<std::uint8_t>(data[pos]) |
                                       static_cast<std::uint8_t>(data[pos + 1]) << 8);
        pos += 2;
        return true;
    }
    bool u32(std::uint32_t& v) {
        if (data.size() - pos < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i)
            v |= std::uint32_t(static_cast<std::uint8_t>(data[pos + i])) << (8 * i);
        pos += 4;
        return true;
    }
    bool units(std::u16string& out) {
        std::uint32_t n = 0;
        if (!u32(n)) return false;
        // Compare with what is left before allocating: a hostile count cannot reserve memory.
        if (n > (data.size() - pos) / 2) return false;
        out.resize(n);
        const auto* p = reinterpret_cast<const unsigned char*>(data.data() + pos);
        for (std::uint32_t i = 0; i < n; ++i, p += 2)
            out[i] = static_cast<char16_t>(p[0] | p[1] << 8);
        pos += 2 * std::size_t(n);
        return true;
    }
};

} // namespace

void append_status(std::string& out, EventType type, std::uint8_t value) {
    out.push_back(static_cast<char>(type));
    out.push_back(static_cast<char>(value));
}

void append_mark(std::string& out, EventType type) {
    out.push_back(static_cast<char>(type));
}

void append_units(std::string& out, EventType type, const std::u16string& units) {
    out.push_back(static_cast<char>(type));
    put_u32(out, static_cast<std::uint32_t>(units.size()));
    // Sized once and written in place: a push_back per byte was most of the cost of text.
    const std::size_t at = out.size();
    out.resize(at + 2 * units.size());
    char* p = out.data() + at;
    for (char16_t u : units) {
        *p++ = static_cast<char>(u & 0xff);
        *p++ = static_cast<char>(u >> 8);
    }
}

void append_special(std::string& out, std::uint16_t code) {
    out.push_back(static_cast<char>(EventType::special));
    put_u16(out, code);
}

bool decode_events(std::string_view data, std::vector<Event>& out) {
    // A record of text with its paragraph marks takes some 30 bytes or more: room for most
    // documents' records at once, rather than moving them at every doubling.
    out.reserve(out.size() + data.size() / 32);
    reader r{data};
    while (r.pos < data.size()) {
        Event e;
        e.type = static_cast<EventType>(data[r.pos++]);
        bool ok = true;
        switch (e.type) {
        case EventType::init:
        case EventType::story:
        case EventType::para_begin:
        case EventType::end:
            ok = r.u8(e.value);
            break;
        case EventType::section_begin:
        case EventType::section_end:
        case EventType::para_end:
            break;
        case EventType::title:
        case EventType::text:
            ok = r.units(e.text);
            break;
        case EventType::special:
            ok = r.u16(e.code);
            break;
        default:
            ok = false;
        }
        if (!ok) return false;
        out.push_back(std::move(e));
    }
    return true;
}

} // namespace lumbrake::wvadapter
