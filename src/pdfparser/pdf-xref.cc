#include "pdfparser/pdf-xref.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <stdexcept>
#include <unordered_set>

#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-security.h"
#include "util/log.h"

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

// The last occurrence of text in [begin, end), searched from the end.
bool find_last_plain(Pos begin, Pos end, std::string_view text, Pos& at) {
    auto bytes = ByteSource::bytes(begin, end);
    auto it = std::search(bytes.rbegin(), bytes.rend(), text.rbegin(), text.rend());
    ByteSource::charge(static_cast<std::size_t>(it - bytes.rbegin()) / 4);
    if (it == bytes.rend()) return false;
    at = begin + static_cast<Pos>(bytes.rend() - it) - text.size();
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
    const Pos hint_end = std::min(data_end_, saturating_add(data_start_, 210));
    p = data_start_;
    if (find_tag(p, hint_end, "/Linearized")) {
        linearized_ = true;
        Pos q = p;
        if (find_tag(q, hint_end, "/L")) {
            skip_blanks(q, hint_end);
            const std::uint64_t l = read_unsigned(q);
            if (static_cast<double>(size) > 1.25 * static_cast<double>(l)) linearized_ = false;
        }
    }

    // The newest section is the one the last "startxref" names; its trailer (or, for a
    // cross-reference stream, its dictionary) wherever it stands. A linearized file names
    // its first-page section at the start.
    std::optional<Pos> first_xref;
    if (linearized_) {
        Pos q = data_start_;
        if (find_tag(q, data_end_, "xref") && !(q >= 9 && bytes_at(q - 9, "start")))
            first_xref = q - 4;
    }
    if (!first_xref) {
        Pos at = 0;
        if (!find_last_plain(data_start_, data_end_, "startxref", at)) {
            Pos q = data_start_;
            throw BadFormatException(find_plain(q, data_end_, "trailer") ? "Startxref not found"
                                                                         : "Trailer not found");
        }
        Pos q = at + 9;
        skip_blanks(q, data_end_);
        first_xref = saturating_add(data_start_, read_unsigned(q));
    }
    read_sections(*first_xref);
    load_object_streams();
}

void FileStructure::read_newest_trailer(Span trailer) {
    XrefTable& t = *table_;
    if (!read_pair(trailer, "/Root", root_)) throw BadFormatException("Document root not found");
    if (!read_pair(trailer, "/Info", info_)) info_ = ObjectRef{};
    std::uint64_t entries = 0;
    if (!read_one(trailer, "/Size", entries)) throw BadFormatException("Xref size not found");
    // A real entry takes some bytes of the file; beyond that the numbers stay valid but
    // unstored.
    t.reset(static_cast<std::size_t>(std::min<std::uint64_t>(entries, SIZE_MAX / 2)), data_start_,
            (data_end_ - data_start_) / 16 + 1024);
}

void FileStructure::store(std::uint64_t number, const XrefEntry& e, bool fill_gaps) {
    XrefTable& t = *table_;
    if (number >= t.size()) return; // beyond /Size: ignored
    const XrefEntry& current = t.entry(number);
    // The newest section read first keeps its entries unless an older one gives a strictly
    // higher generation; a hybrid file's stream fills what its table left free.
    if (fill_gaps ? (current.free || current.generation < 0) : current.generation < e.generation)
        t.set(number, e);
}

void FileStructure::read_table(Pos p, Pos limit) {
    skip_blanks(p, limit);
    while (p < limit && ByteSource::byte_at(p) != 't') {
        if (!is_digit(ByteSource::byte_at(p))) break; // the trailer search decides
        const std::uint64_t first = read_unsigned(p);
        skip_blanks(p, limit);
        const std::uint64_t count = read_unsigned(p);
        skip_blanks(p, limit);
        for (std::uint64_t k = 0; k < count; ++k) {
            skip_blanks(p, limit);
            const std::uint64_t offset = read_unsigned(p);
            skip_blanks(p, limit);
            const std::int32_t generation = to_generation(read_unsigned(p));
            skip_blanks(p, limit);
            const std::uint8_t flag = p < limit ? ByteSource::byte_at(p) : 0;
            if (flag != 'f' && flag != 'n')
                throw BadFormatException("XRef table corrupted (flag ?)");
            ++p;
            const std::uint64_t number = first + k;
            if (number < first) continue;
            store(number, XrefEntry{saturating_add(data_start_, offset), generation, flag == 'f'},
                  false);
        }
        skip_blanks(p, limit);
    }
}

Span FileStructure::read_xref_stream(Pos pos, bool newest, bool fill_gaps) {
    // "N G obj" must stand at the position.
    Pos p = pos;
    ObjectRef self;
    if (!is_digit(ByteSource::byte_at(p))) throw BadFormatException("Xref not found");
    self.number = static_cast<std::uint32_t>(std::min<std::uint64_t>(read_unsigned(p), UINT32_MAX));
    skip_blanks(p, data_end_);
    self.generation = to_generation(read_unsigned(p));
    skip_blanks(p, data_end_);
    if (!bytes_at(p, "obj")) throw BadFormatException("Xref not found");
    const Span body = object(pos, data_end_);
    Pos q = body.start;
    skip_blanks(q, body.end);
    if (!bytes_at(q, "<<")) throw BadFormatException("Xref not found");
    const Span dict = Dictionary(q, body.end);
    Pos type = dict.start;
    if (!find_key(type, dict.end, "/XRef")) throw BadFormatException("Xref not found");
    if (newest) read_newest_trailer(dict);

    static const char* const corrupt = "XRef stream corrupted";
    // /W: the byte widths of the three fields of a row.
    int w[3] = {0, 0, 0};
    {
        Pos k = dict.start;
        if (!find_key(k, dict.end, "/W")) throw BadFormatException(corrupt);
        const Array a(k, dict.end);
        Pos r = a.start;
        for (int& width : w) {
            skip_blanks(r, a.end);
            if (r >= a.end || !is_digit(ByteSource::byte_at(r))) throw BadFormatException(corrupt);
            const std::uint64_t v = read_unsigned(r);
            if (v > 8) throw BadFormatException(corrupt);
            width = static_cast<int>(v);
        }
    }
    const std::size_t row = static_cast<std::size_t>(w[0] + w[1] + w[2]);
    if (row == 0) throw BadFormatException(corrupt);

    // /Index: pairs (first number, count); [0 /Size] when absent.
    std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
    {
        Pos k = dict.start;
        if (find_key(k, dict.end, "/Index")) {
            const Array a(k, dict.end);
            Pos r = a.start;
            for (;;) {
                skip_blanks(r, a.end);
                if (r >= a.end || !is_digit(ByteSource::byte_at(r))) break;
                const std::uint64_t first = read_unsigned(r);
                skip_blanks(r, a.end);
                if (r >= a.end || !is_digit(ByteSource::byte_at(r))) break;
                ranges.emplace_back(first, read_unsigned(r));
            }
        } else {
            std::uint64_t size = 0;
            if (!read_one(dict, "/Size", size)) throw BadFormatException("Xref size not found");
            ranges.emplace_back(0, size);
        }
    }

    ByteSink sink(1024, 0);
    StreamObject(pos, self.number, self.generation, false).decode(sink);
    const std::vector<std::uint8_t> data = sink.to_vector();

    // Entries of streams count against what the file could hold, so that a small stream
    // inflating to millions of rows cannot fill the memory with table entries.
    const std::uint64_t entry_cap = (1u << 20) + (data_end_ - data_start_);
    std::size_t at = 0;
    auto field = [&](int width, std::uint64_t fallback) {
        if (width == 0) return fallback;
        std::uint64_t v = 0;
        for (int b = 0; b < width; ++b)
            v = v << 8 | data[at++];
        return v;
    };
    for (const auto& [first, count] : ranges) {
        for (std::uint64_t k = 0; k < count; ++k) {
            if (data.size() - at < row || stream_entries_ >= entry_cap) return dict;
            ++stream_entries_;
            const std::uint64_t kind = field(w[0], 1);
            const std::uint64_t f2 = field(w[1], 0);
            const std::uint64_t f3 = field(w[2], 0);
            const std::uint64_t number = first + k;
            if (number < first) break;
            switch (kind) {
            case 0:
                store(number, XrefEntry{data_start_, to_generation(f3), true}, fill_gaps);
                break;
            case 1:
                store(number, XrefEntry{saturating_add(data_start_, f2), to_generation(f3), false},
                      fill_gaps);
                break;
            case 2: {
                if (number >= table_->size()) break;
                const XrefEntry before = table_->entry(number);
                store(number, XrefEntry{data_start_, 0, false, true}, fill_gaps);
                const XrefEntry& after = table_->entry(number);
                if (after.compressed && !before.compressed)
                    slots_[number] = StreamSlot{
                        static_cast<std::uint32_t>(std::min<std::uint64_t>(f2, UINT32_MAX)),
                        static_cast<std::uint32_t>(std::min<std::uint64_t>(f3, UINT32_MAX))};
                break;
            }
            default:
                break; // other kinds are references to the null object
            }
        }
    }
    return dict;
}

void FileStructure::read_encryption(Span trailer) {
    XrefTable& t = *table_;
    Pos q = trailer.start;
    if (!find_key(q, trailer.end, "/Encrypt")) {
        t.encrypted = false;
        return;
    }
    skip_blanks(q, trailer.end);
    Pos dict = data_end_;
    ObjectRef ref;
    if (bytes_at(q, "<<"))
        dict = q;
    else if (read_reference(q, trailer.end, ref))
        dict = t.position(ref.number);
    auto first_id = [&]() -> std::string {
        Pos r = trailer.start;
        if (!find_key(r, trailer.end, "/ID")) throw BadObjectException("Trailer ID not found");
        skip_blanks(r, trailer.end);
        if (ByteSource::byte_at(r) != '[') throw BadObjectException("Trailer ID corrupted");
        ++r;
        return read_string(r, trailer.end);
    };
    SecurityHandler handler;
    handler.read(dict, data_end_, first_id);
    t.file_key = handler.file_key();
    t.key_length = handler.length();
    t.encrypted = true;
}

void FileStructure::read_sections(Pos xref) {
    std::unordered_set<Pos> visited;
    bool newest = true;
    while (visited.insert(xref).second) { // a /Prev chain that loops ends where it repeats
        Span trailer;
        if (bytes_at(xref, "xref")) {
            Pos p = xref + 4;
            Pos q = p;
            if (!find_plain(q, data_end_, "trailer")) throw BadFormatException("Trailer not found");
            const Pos table_end = q - 7;
            skip_blanks(q, data_end_);
            trailer = trailer_span(q, data_end_);
            if (newest) read_newest_trailer(trailer);
            read_table(p, table_end);
            // A hybrid file lists the objects of its object streams in a stream beside the
            // table; a broken one loses only those objects.
            std::uint64_t stm = 0;
            if (read_one(trailer, "/XRefStm", stm)) {
                const Pos at = saturating_add(data_start_, stm);
                if (visited.insert(at).second) {
                    try {
                        read_xref_stream(at, false, true);
                    } catch (const PdfParserException&) {
                    } catch (const PdfStreamFilter::FilterError&) {
                    }
                }
            }
        } else {
            trailer = read_xref_stream(xref, newest, false);
        }
        if (newest) {
            newest = false;
            read_encryption(trailer);
        }
        std::uint64_t prev = 0;
        if (!read_one(trailer, "/Prev", prev)) break;
        xref = saturating_add(data_start_, prev);
    }
}

void FileStructure::load_object_streams() {
    if (slots_.empty()) return;
    XrefTable& t = *table_;
    // Requested (index, number) per object stream, in stream order so the text is stable.
    std::map<std::uint32_t, std::vector<std::pair<std::uint32_t, std::uint64_t>>> wanted;
    for (const auto& [number, slot] : slots_)
        if (t.entry(number).compressed) wanted[slot.stream].emplace_back(slot.index, number);
    slots_.clear();

    auto lose = [&](std::uint64_t number) {
        XrefEntry e = t.entry(number);
        e.free = true;
        e.compressed = false;
        t.set(number, e);
    };
    // What the copies may add to the document.
    const std::size_t extra_cap = (64u << 20) + 4 * (data_end_ - data_start_);
    const Pos base = ByteSource::length();
    std::string extra;
    for (auto& [stream, objects] : wanted) {
        std::sort(objects.begin(), objects.end());
        std::string bytes;
        std::vector<std::pair<std::uint64_t, std::uint64_t>> header; // (number, offset)
        std::uint64_t first = 0;
        try {
            if (stream >= t.size()) throw BadObjectException("Object stream not found");
            const XrefEntry se = t.entry(stream);
            if (se.free || se.compressed || se.generation < 0 || extra.size() >= extra_cap)
                throw BadObjectException("Object stream not found");
            const Span body = object(se.position, data_end_);
            Pos q = body.start;
            skip_blanks(q, body.end);
            const Span dict = Dictionary(q, body.end);
            std::uint64_t n = 0;
            if (!read_one(dict, "/N", n) || !read_one(dict, "/First", first))
                throw BadObjectException("Object stream corrupted");
            ByteSink sink(1024, 0);
            StreamObject(se.position, stream, se.generation).decode(sink);
            bytes = sink.str();
            // The header: n pairs of object number and offset (from /First), before /First.
            const std::size_t header_end = std::min<std::uint64_t>(first, bytes.size());
            std::size_t i = 0;
            auto number_at = [&](std::uint64_t& v) {
                while (i < header_end && is_blank(static_cast<std::uint8_t>(bytes[i])))
                    ++i;
                if (i >= header_end || !is_digit(static_cast<std::uint8_t>(bytes[i]))) return false;
                v = 0;
                while (i < header_end && is_digit(static_cast<std::uint8_t>(bytes[i])))
                    v = std::min<std::uint64_t>(v * 10 + (bytes[i++] - '0'), UINT32_MAX);
                return true;
            };
            for (std::uint64_t k = 0; k < n; ++k) {
                std::uint64_t number = 0, offset = 0;
                if (!number_at(number) || !number_at(offset)) break;
                header.emplace_back(number, offset);
            }
        } catch (const PdfParserException& e) {
            TN_LOG(lumbrake::LF_WORKERPARSERS, lumbrake::LL_DEBUG,
                   "PDF object stream " << stream << ": " << e.message());
        } catch (const PdfStreamFilter::FilterError& e) {
            TN_LOG(lumbrake::LF_WORKERPARSERS, lumbrake::LL_DEBUG,
                   "PDF object stream " << stream << ": " << e.message());
        }
        // Each object runs from its offset to the next higher one (or the end of the data).
        std::vector<std::uint64_t> starts;
        for (const auto& h : header)
            starts.push_back(h.second);
        std::sort(starts.begin(), starts.end());
        for (const auto& [index, number] : objects) {
            if (index >= header.size() || extra.size() >= extra_cap) {
                lose(number);
                continue;
            }
            const std::uint64_t from =
                std::min<std::uint64_t>(first + header[index].second, bytes.size());
            const auto next = std::upper_bound(starts.begin(), starts.end(), header[index].second);
            const std::uint64_t to = next == starts.end()
                                         ? bytes.size()
                                         : std::min<std::uint64_t>(first + *next, bytes.size());
            extra += '\n';
            XrefEntry e = t.entry(number);
            e.position = base + extra.size();
            e.generation = 0;
            e.free = false;
            e.compressed = true;
            t.set(number, e);
            extra += std::to_string(number) + " 0 obj\n";
            extra.append(bytes, from, to - from);
            extra += "\nendobj\n";
        }
    }
    ByteSource::extend(extra);
    data_end_ = ByteSource::length();
    t.data_end = data_end_;
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

int small_number(Span dict, std::string_view key, int fallback) {
    std::uint64_t v = 0;
    if (!read_one(dict, key, v)) return fallback;
    return static_cast<int>(std::min<std::uint64_t>(v, 1u << 30));
}

// The predictor of a stream's /DecodeParms (a dictionary, an array of them, or a reference
// to either): the first /Predictor found rules.
PdfStreamFilter::PredictorParams predictor_params(Pos keys, Pos keys_end) {
    PdfStreamFilter::PredictorParams out;
    Pos p = keys;
    if (!find_key(p, keys_end, "/DecodeParms")) return out;
    skip_blanks(p, keys_end);
    Span region{p, keys_end};
    ObjectRef ref;
    Pos q = p;
    if (read_reference(q, keys_end, ref)) {
        const XrefTable& t = XrefTable::instance();
        if (ref.number >= t.size()) return out;
        const XrefEntry& e = t.entry(ref.number);
        if (e.free || e.generation < 0) return out;
        region = object(e.position, t.data_end);
    } else if (ByteSource::byte_at(p) == '<') {
        region = Dictionary(p, keys_end);
    } else if (ByteSource::byte_at(p) == '[') {
        region = Array(p, keys_end);
    } else {
        return out;
    }
    out.predictor = small_number(region, "/Predictor", 1);
    if (out.predictor < 2) return out;
    out.colors = small_number(region, "/Colors", 1);
    out.bits_per_component = small_number(region, "/BitsPerComponent", 8);
    out.columns = small_number(region, "/Columns", 1);
    return out;
}

} // namespace

StreamObject::StreamObject(Pos object_position, std::uint32_t number, std::int32_t generation,
                           bool decrypt)
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
    predictor_ = predictor_params(body_.start, keys_end);
    if (t.encrypted && decrypt) {
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
    PdfStreamFilter::undo_predictor(predictor_, out);
}

} // namespace PdfParser
