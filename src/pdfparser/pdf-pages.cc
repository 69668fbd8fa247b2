#include "pdfparser/pdf-pages.h"

#include <algorithm>

#include "pdfparser/pdf-lexer.h"

namespace PdfParser {

namespace {

Pos data_end() {
    return XrefTable::instance().data_end;
}

// The position of a referenced object; false for a free or never-listed entry.
bool live_position(const ObjectRef& ref, Pos& out) {
    const XrefEntry& e = XrefTable::instance().entry(ref.number);
    if (e.free || e.generation < 0) return false;
    out = e.position;
    return true;
}

// A direct "<<" at pos, or a reference "N G R" to a live object: the dictionary's position.
Pos dictionary_value(Pos pos, Pos end) {
    skip_blanks(pos, end);
    if (pos + 1 < end && ByteSource::byte_at(pos) == '<' && ByteSource::byte_at(pos + 1) == '<')
        return pos;
    ObjectRef ref;
    Pos at;
    if (read_reference(pos, end, ref) && live_position(ref, at)) return at;
    return data_end();
}

// References "N G R" up to ']' (or end); a missing R throws.
void read_reference_array(Pos pos, Pos end, std::vector<ContentRef>& out) {
    for (;;) {
        skip_blanks(pos, end);
        if (pos >= end || ByteSource::byte_at(pos) == ']') break;
        ObjectRef ref;
        const Pos before = pos;
        if (!read_reference(pos, end, ref)) throw BadObjectException("Bad Reference (no R)");
        if (pos == before) throw BadObjectException("Bad Reference (no R)");
        Pos at;
        if (live_position(ref, at)) out.push_back({at, ref.number, ref.generation});
    }
}

} // namespace

void check_catalog(Span catalog) {
    Pos p = catalog.start;
    if (!find_tag(p, catalog.end, "/Catalog")) throw BadFormatException("Wrong Catalog");
}

ObjectRef pages(Span catalog) {
    Pos p = catalog.start;
    ObjectRef ref;
    if (!find_tag(p, catalog.end, "/Pages") || !read_reference(p, catalog.end, ref))
        throw BadFormatException("Pages not found");
    return ref;
}

PageNode page_node(Span body, std::uint32_t number, std::int32_t generation) {
    Pos p = body.start;
    if (!find_tag(p, body.end, "/Page")) throw BadFormatException("Wrong Page(s)");
    PageNode node;
    node.body = body;
    node.number = number;
    node.generation = generation;
    node.is_pages = p < body.end && ByteSource::byte_at(p) == 's';
    return node;
}

std::uint64_t count(const PageNode& node) {
    Pos p = node.body.start;
    if (!find_tag(p, node.body.end, "/Count")) return 0;
    skip_blanks(p, node.body.end);
    return read_unsigned(p);
}

std::vector<ObjectRef> kids(const PageNode& node) {
    std::vector<ObjectRef> out;
    if (count(node) == 0) return out;
    const Pos end = node.body.end;
    Pos p = node.body.start;
    if (!find_tag(p, end, "/Kids")) return out;
    skip_blanks(p, end);
    if (p >= end || ByteSource::byte_at(p) != '[')
        throw BadObjectException("Tag [ or ] not found, probably Array corrupted");
    ++p;
    for (;;) {
        skip_blanks(p, end);
        if (p >= end) throw BadObjectException("Tag [ or ] not found, probably Array corrupted");
        if (ByteSource::byte_at(p) == ']') break;
        ObjectRef ref;
        const Pos before = p;
        if (!read_reference(p, end, ref) || p == before)
            throw BadObjectException("Bad Reference (no R)");
        out.push_back(ref);
    }
    return out;
}

Pos resources(const PageNode& node) {
    Pos p = node.body.start;
    if (!find_tag(p, node.body.end, "/Resources")) return data_end();
    return dictionary_value(p, node.body.end);
}

Pos fonts(Pos resources_position) {
    const Pos end = data_end();
    if (resources_position >= end) return end;
    Dictionary d(resources_position, end);
    Pos p = d.start;
    // "/Font" also matches inside longer keys; only the entry whose value follows counts.
    while (find_tag(p, d.end, "/Font")) {
        const std::uint8_t c = ByteSource::byte_at(p);
        if (p < d.end && (is_blank(c) || c == '<' || is_digit(c))) {
            const Pos at = dictionary_value(p, d.end);
            if (at != end) return at;
        }
    }
    return end;
}

void font_entries(Pos font_dictionary, FontTable& table) {
    const Pos end = data_end();
    if (font_dictionary >= end) return;
    Dictionary d(font_dictionary, end);
    Pos p = d.start;
    while (find_tag(p, d.end, "/")) {
        const std::string name = "/" + read_token(p, d.end, "<[/>(");
        ObjectRef ref;
        const Pos before = p;
        if (!read_reference(p, d.end, ref) || p == before)
            throw BadFormatException("Bad Reference (no R)");
        Pos at;
        if (live_position(ref, at)) table.add(name, at);
    }
}

std::vector<ContentRef> contents(const PageNode& page) {
    std::vector<ContentRef> out;
    const Pos end = page.body.end;
    Pos p = page.body.start;
    if (!find_tag(p, end, "/Contents")) return out;
    skip_blanks(p, end);
    if (p >= end) return out;
    const std::uint8_t c = ByteSource::byte_at(p);
    if (c == '[') {
        Array a(p, end);
        read_reference_array(a.start, a.end, out);
        return out;
    }
    if (c == '<' && p + 1 < end && ByteSource::byte_at(p + 1) == '<') {
        // The stream stands in the page object itself.
        out.push_back({XrefTable::instance().position(page.number), page.number, page.generation});
        return out;
    }
    ObjectRef ref;
    Pos at;
    if (!read_reference(p, end, ref)) throw BadObjectException("Bad Reference (no R)");
    if (!live_position(ref, at)) return out;
    const Span body = object(at, data_end());
    Pos q = body.start;
    skip_blanks(q, body.end);
    if (q < body.end && ByteSource::byte_at(q) == '[') {
        Array a(q, body.end);
        read_reference_array(a.start, a.end, out);
    } else {
        out.push_back({at, ref.number, ref.generation});
    }
    return out;
}

void rectangle(Pos pos, Pos limit, double out[4]) {
    std::fill(out, out + 4, 0.0);
    Pos p = pos;
    skip_blanks(p, limit);
    if (p >= limit || ByteSource::byte_at(p) != '[') return;
    ++p;
    for (int i = 0; i < 4; ++i) {
        skip_blanks(p, limit);
        out[i] = parse_real(read_token(p, limit, "<[]/>"));
    }
    if (out[0] > out[2]) std::swap(out[0], out[2]);
    if (out[1] > out[3]) std::swap(out[1], out[3]);
}

SimpleFontCompare::SimpleFontCompare(const std::map<FontRecord, std::uint64_t>& usage) {
    std::uint64_t best = 0;
    bool first = true;
    for (const auto& [font, n] : usage) {
        if (first || n > best) {
            reference_ = font;
            best = n;
            first = false;
        }
    }
}

int SimpleFontCompare::classify(const FontRecord& font) const {
    if (font.size > reference_.size) return 14; // centralHeader
    if (font.style == reference_.style && font.rise == reference_.rise &&
        font.name == reference_.name)
        return 10; // centralNorm
    return 11;     // centralEmph
}

} // namespace PdfParser
