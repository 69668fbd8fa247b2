#include "pdfparser/pdf-xref.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <stdexcept>
#include <unordered_set>

#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-security.h"

namespace PdfParser {

// ---- XrefTable ----

XrefTable& XrefTable::instance() {
    static XrefTable table;
    return table;
}

void XrefTable::release() {
    XrefTable& t = instance();
    t.dense_ = {};
    t.sparse_ = {};
    t.size_ = 0;
    t.data_start = t.data_end = 0;
    t.encrypted = false;
    t.file_key.clear();
    t.key_length = 40;
}

const XrefEntry& XrefTable::entry(std::uint64_t number) const {
    if (number >= size_) throw std::out_of_range("vector");
    if (number < dense_.size()) return dense_[number];
    auto it = sparse_.find(number);
    return it == sparse_.end() ? unset_ : it->second;
}

void XrefTable::reset(std::size_t size, Pos data_start, std::size_t dense_limit) {
    size_ = size;
    unset_ = XrefEntry{data_start, -1, true};
    dense_.assign(std::min(size, dense_limit), unset_);
    sparse_.clear();
}

void XrefTable::set(std::uint64_t number, const XrefEntry& e) {
    if (number >= size_) return;
    if (number < dense_.size())
        dense_[number] = e;
    else
        sparse_[number] = e;
}

// ---- Helpers ----

namespace {

bool bytes_at(Pos p, std::string_view text) {
    for (std::size_t k = 0; k < text.size(); ++k)
        if (ByteSource::byte_at(p + k) != static_cast<std::uint8_t>(text[k])) return false;
    return p + text.size() <= ByteSource::length();
}

Pos saturating_add(Pos a, std::uint64_t b) {
    constexpr Pos max = std::numeric_limits<Pos>::max();
    return b > max - a ? max : a + static_cast<Pos>(b);
}

std::int32_t to_generation(std::uint64_t g) {
    return static_cast<std::int32_t>(
        std::min<std::uint64_t>(g, std::numeric_limits<std::int32_t>::max()));
}

// The bytes of a trailer dictionary: up to its closing ">>" when it can be delimited, else
// up to the end. A key search running past it would read the next trailer's /Prev (a loop)
// or another object's entries.
Span trailer_span(Pos start, Pos end) {
    try {
        return Dictionary(start, end);
    } catch (const BadObjectException&) {
        return {start, end};
    }
}

// Two numbers after a key (object number and generation).
bool read_pair(Span dict, std::string_view key, ObjectRef& ref) {
    Pos p = dict.start;
    if (!find_key(p, dict.end, key)) return false;
    skip_blanks(p, dict.end);
    ref.number = static_cast<std::uint32_t>(std::min<std::uint64_t>(read_unsigned(p), UINT32_MAX));
    skip_blanks(p, dict.end);
    ref.generation = to_generation(read_unsigned(p));
    return true;
}

bool read_one(Span dict, std::string_view key, std::uint64_t& value) {
    Pos p = dict.start;
    if (!find_key(p, dict.end, key)) return false;
    skip_blanks(p, dict.end);
    if (!is_digit(ByteSource::byte_at(p))) return false;
    value = read_unsigned(p);
    return true;
}

// Steps over a literal string at p (which stands on its '('), with nesting and escapes.
void skip_literal(Pos& p, Pos limit) {
    long depth = 0;
    while (p < limit) {
        const std::uint8_t c = ByteSource::byte_at(p++);
        if (c == '\\') {
            ++p;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth == 0) return;
        }
    }
}

// Plain byte search (stream data is binary: no string rules apply inside it).
bool find_plain(Pos& p, Pos limit, std::string_view text) {
    auto bytes = ByteSource::bytes(p, limit);
    ByteSource::charge(bytes.size() / 4);
    auto it = std::search(bytes.begin(), bytes.end(), text.begin(), text.end());
    if (it == bytes.end()) return false;
    p += static_cast<Pos>(it - bytes.begin()) + text.size();
    return true;
}

} // namespace

bool read_reference(Pos& pos, Pos end, ObjectRef& ref) {
    Pos p = pos;
    skip_blanks(p, end);
    if (p >= end || !is_digit(ByteSource::byte_at(p))) return false;
    const std::uint64_t n = read_unsigned(p);
    skip_blanks(p, end);
    if (p >= end || !is_digit(ByteSource::byte_at(p))) return false;
    const std::uint64_t g = read_unsigned(p);
    skip_blanks(p, end);
    if (p >= end || ByteSource::byte_at(p) != 'R') return false;
    ref.number = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, UINT32_MAX));
    ref.generation = to_generation(g);
    pos = p + 1;
    return true;
}

// ---- Indirect objects ----

Span object(Pos offset, Pos data_end) {
    static const char* const message = "Tag obj or endobj not found, probably Object corrupted";
    const Pos limit = std::min(data_end, ByteSource::length());
    Pos p = offset;
    if (!find_tag(p, limit, "obj")) throw BadObjectException(message);
    const Pos body = p;
    // Look for "endobj" outside literal strings, comments and stream data: binary data holds
    // unbalanced brackets, so a search that counts them would miss the end of the object.
    while (p < limit) {
        const std::uint8_t c = ByteSource::byte_at(p);
        if (c == '(') {
            skip_literal(p, limit);
        } else if (c == '%') {
            while (p < limit && ByteSource::byte_at(p) != '\n' && ByteSource::byte_at(p) != '\r')
                ++p;
        } else if (c == 'e' && bytes_at(p, "endobj")) {
            return {body, p};
        } else if (c == 's' && bytes_at(p, "stream") && is_delimiter(ByteSource::byte_at(p - 1))) {
            p += 6;
            Pos q = p;
            if (find_plain(q, limit, "endstream")) p = q;
        } else {
            ++p;
        }
    }
    throw BadObjectException(message);
}

Span resolve(std::uint64_t number) {
    const XrefTable& t = XrefTable::instance();
    return object(t.position(number), t.data_end);
}

std::uint64_t integer_object(Pos offset, Pos data_end) {
    const Span body = object(offset, data_end);
    for (Pos p = body.start; p < body.end; ++p)
        if (is_digit(ByteSource::byte_at(p))) return read_unsigned(p);
    throw BadObjectException("Wrong object type");
}

// ---- File structure ----

FileStructure::FileStructure(Pos data_start, Pos data_end)
    : data_start_(data_start), data_end_(std::min(data_end, ByteSource::length())),
      table_(&XrefTable::instance()) {
    XrefTable& t = *table_;
    t.data_start = data_start_;
    t.data_end = data_end_;
    t.encrypted = false;
    t.file_key.clear();
    t.key_length = 40;
    t.reset(0, data_start_, 0);

    // Header: within the first 200 bytes; everything before it is ignored.
    Pos p = data_start_;
    if (!find_tag(p, std::min(data_end_, saturating_add(data_start_, 200)), "%PDF-"))
        throw BadFormatException("Header %PDF- not found");
    header_found_ = true;
    data_start_ = p - 5;
    t.data_start = data_start_;
    while (p < data_end_ && version_.size() < 32 && !is_blank(ByteSource::byte_at(p)))
        version_ += static_cast<char>(ByteSource::byte_at(p++));
    const Pos size = data_end_ - data_start_;

    // Linearization hint: an update after linearizing makes the file longer than /L says.
    Pos trailer_search = data_start_;
    const Pos hint_end = std::min(data_end_, saturating_add(data_start_, 210));
    p = data_start_;
    if (find_tag(p, hint_end, "/Linearized")) {
        linearized_ = true;
        trailer_search = p;
        Pos q = p;
        if (find_tag(q, hint_end, "/L")) {
            skip_blanks(q, hint_end);
            const std::uint64_t l = read_unsigned(q);
            if (static_cast<double>(size) > 1.25 * static_cast<double>(l))
                linearized_ = false;
            else
                trailer_search = q;
        }
    }
    if (!linearized_) {
        if (size < 1000) {
            trailer_search = data_start_;
        } else {
            Pos q = data_end_ - 10;
            trailer_search = find_tag(q, data_end_, "%%EOF") ? data_end_ - 200 : data_end_ - 1000;
        }
    }

    // The keyword is searched byte by byte: binary stream data before it holds unbalanced
    // brackets that a search stepping over strings would take for an open string.
    p = trailer_search;
    if (!find_plain(p, data_end_, "trailer")) throw BadFormatException("Trailer not found");
    if (!linearized_) {
        // Several small updates may end within the searched tail: the newest trailer is last.
        for (Pos q = p; find_plain(q, data_end_, "trailer");)
            p = q;
    }
    skip_blanks(p, data_end_);
    const Span trailer = trailer_span(p, data_end_);
    if (!read_pair(trailer, "/Root", root_)) throw BadFormatException("Document root not found");
    if (!read_pair(trailer, "/Info", info_)) info_ = ObjectRef{};
    std::uint64_t entries = 0;
    if (!read_one(trailer, "/Size", entries)) throw BadFormatException("Xref size not found");
    // A real entry takes 20 bytes of the file; beyond that the numbers stay valid but unstored.
    t.reset(static_cast<std::size_t>(std::min<std::uint64_t>(entries, SIZE_MAX / 2)), data_start_,
            size / 16 + 1024);

    Pos first_xref;
    if (linearized_) {
        Pos q = data_start_;
        if (!find_tag(q, data_end_, "xref")) throw BadFormatException("Xref not found");
        first_xref = q - 4;
    } else {
        Pos q = trailer.start;
        if (!find_plain(q, data_end_, "startxref")) throw BadFormatException("Startxref not found");
        skip_blanks(q, data_end_);
        first_xref = saturating_add(data_start_, read_unsigned(q));
    }
    read_sections(first_xref);
}

void FileStructure::read_sections(Pos xref) {
    XrefTable& t = *table_;
    std::unordered_set<Pos> visited;
    bool newest = true;
    while (visited.insert(xref).second) { // a /Prev chain that loops ends where it repeats
        if (!bytes_at(xref, "xref")) throw BadFormatException("Xref not found");
        Pos p = xref + 4;
        skip_blanks(p, data_end_);
        while (p < data_end_ && ByteSource::byte_at(p) != 't') {
            if (!is_digit(ByteSource::byte_at(p))) break; // the trailer search decides
            const std::uint64_t first = read_unsigned(p);
            skip_blanks(p, data_end_);
            const std::uint64_t count = read_unsigned(p);
            skip_blanks(p, data_end_);
            for (std::uint64_t k = 0; k < count; ++k) {
                skip_blanks(p, data_end_);
                const std::uint64_t offset = read_unsigned(p);
                skip_blanks(p, data_end_);
                const std::int32_t generation = to_generation(read_unsigned(p));
                skip_blanks(p, data_end_);
                const std::uint8_t flag = p < data_end_ ? ByteSource::byte_at(p) : 0;
                if (flag != 'f' && flag != 'n')
                    throw BadFormatException("XRef table corrupted (flag ?)");
                ++p;
                const std::uint64_t number = first + k;
                if (number < first || number >= t.size()) continue; // beyond /Size: ignored
                if (t.entry(number).generation < generation)
                    t.set(number,
                          XrefEntry{saturating_add(data_start_, offset), generation, flag == 'f'});
            }
            skip_blanks(p, data_end_);
        }
        if (!find_plain(p, data_end_, "trailer")) throw BadFormatException("Trailer not found");
        skip_blanks(p, data_end_);
        const Span trailer = trailer_span(p, data_end_);

        if (newest) {
            newest = false;
            Pos q = trailer.start;
            if (!find_key(q, trailer.end, "/Encrypt")) {
                t.encrypted = false;
            } else {
                skip_blanks(q, trailer.end);
                Pos dict = data_end_;
                ObjectRef ref;
                if (bytes_at(q, "<<"))
                    dict = q;
                else if (read_reference(q, trailer.end, ref))
                    dict = t.position(ref.number);
                auto first_id = [&]() -> std::string {
                    Pos r = trailer.start;
                    if (!find_key(r, trailer.end, "/ID"))
                        throw BadObjectException("Trailer ID not found");
                    skip_blanks(r, trailer.end);
                    if (ByteSource::byte_at(r) != '[')
                        throw BadObjectException("Trailer ID corrupted");
                    ++r;
                    return read_string(r, trailer.end);
                };
                SecurityHandler handler;
                handler.read(dict, data_end_, first_id);
                t.file_key = handler.file_key();
                t.key_length = handler.length();
                t.encrypted = true;
            }
        }

        std::uint64_t prev = 0;
        if (!read_one(trailer, "/Prev", prev)) break;
        xref = saturating_add(data_start_, prev);
    }
}

// ---- Stream objects ----

namespace {

std::string read_name(Pos& p, Pos end) {
    std::string name;
    ++p; // the slash
    while (p < end && name.size() < 127) {
        const std::uint8_t c = ByteSource::byte_at(p);
        if (is_delimiter(c)) break;
        name += static_cast<char>(c);
        ++p;
    }
    return name;
}

// The filter named at p (a name, an array, or a reference to either).
std::unique_ptr<PdfStreamFilter::GenericFilter> filter_at(Pos p, Pos end, bool follow) {
    skip_blanks(p, end);
    const std::uint8_t c = ByteSource::byte_at(p);
    if (c == '[') {
        const Array a(p, end);
        return PdfStreamFilter::make_filter_array(a.start, a.end);
    }
    if (c == '/') return PdfStreamFilter::make_filter(read_name(p, end));
    ObjectRef ref;
    if (follow && read_reference(p, end, ref)) {
        const XrefTable& t = XrefTable::instance();
        const Span body = object(t.position(ref.number), t.data_end);
        return filter_at(body.start, body.end, false);
    }
    throw BadObjectException("Wrong Filter");
}

} // namespace

StreamObject::StreamObject(Pos object_position, std::uint32_t number, std::int32_t generation)
    : number_(number), generation_(generation) {
    const XrefTable& t = XrefTable::instance();
    const Pos data_end =
        std::min(t.data_end ? t.data_end : ByteSource::length(), ByteSource::length());
    body_ = object(object_position, data_end);

    // The keyword "stream" ends the dictionary: keys are looked up before it.
    Pos p = body_.start;
    if (!find_tag(p, body_.end, "stream"))
        throw BadFormatException("Tag Stream not found, probably stream corrupted");
    const Pos keys_end = p - 6;
    if (ByteSource::byte_at(p) == '\n')
        ++p;
    else if (ByteSource::byte_at(p) == '\r')
        p += ByteSource::byte_at(p + 1) == '\n' ? 2 : 1;
    data_start_ = p;

    p = body_.start;
    if (!find_key(p, keys_end, "/Length"))
        throw BadObjectException("Tag Length not found, probably stream corrupted");
    skip_blanks(p, keys_end);
    const std::uint64_t n = read_unsigned(p);
    Pos q = p;
    skip_blanks(q, keys_end);
    if (q < keys_end && is_digit(ByteSource::byte_at(q))) {
        read_unsigned(q);
        skip_blanks(q, keys_end);
        if (ByteSource::byte_at(q) != 'R') throw BadObjectException("Bad Reference (no R)");
        const Pos at = t.position(n);
        if (at >= data_end) throw BadFormatException("Out of bounds reference");
        length_ = integer_object(at, data_end);
    } else {
        length_ = n;
    }

    p = body_.start;
    if (find_key(p, keys_end, "/Filter"))
        filter_ = filter_at(p, keys_end, true);
    else
        filter_ = PdfStreamFilter::make_filter("Dumb");
    if (t.encrypted) {
        auto chain = std::make_unique<PdfStreamFilter::MultipleFilter>();
        chain->append(std::make_unique<PdfStreamFilter::RC4Filter>(t.file_key, t.key_length, number,
                                                                   generation));
        chain->append(std::move(filter_));
        filter_ = std::move(chain);
    }

    // The word behind the data must be "endstream".
    if (length_ > data_end - std::min(data_start_, data_end))
        throw BadObjectException("Stream corrupted");
    p = data_start_ + static_cast<Pos>(length_);
    skip_blanks(p, data_end);
    std::string word;
    while (p < data_end && word.size() < 16) {
        const std::uint8_t c = ByteSource::byte_at(p);
        if (is_blank(c) || c == '<' || c == '[') break;
        word += static_cast<char>(c);
        ++p;
    }
    if (word != "endstream") throw BadObjectException("Stream corrupted");
}

void StreamObject::decode(ByteSink& out) const {
    filter_->decode(data_start_, data_start_ + static_cast<Pos>(length_), out);
}

} // namespace PdfParser
