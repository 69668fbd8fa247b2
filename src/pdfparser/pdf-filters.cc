#include "pdfparser/pdf-filters.h"

#include <algorithm>
#include <array>
#include <cstring>

#include <zlib.h>

#include "util/log.h"
#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-security.h"

namespace PdfStreamFilter {

using PdfParser::ByteSource;

const char* FilterError::what() const noexcept {
    try {
        what_ = message();
    } catch (...) {
        return "filter error";
    }
    return what_.c_str();
}

void MultipleFilterError::log() const {
    if (lumbrake::log_enabled(lumbrake::LF_WORKERPARSERS, lumbrake::LL_DEBUG)) {
        lumbrake::write_log_line(std::string(lumbrake::log_tag(lumbrake::LL_DEBUG)) +
                                 " [src/pdfparser/FilterError:69] " + message());
    }
}

std::string InflateFilterError::message() const {
    switch (code_) {
    case Z_OK:
        return "Z_OK";
    case Z_STREAM_END:
        return "Z_STREAM_END";
    case Z_NEED_DICT:
        return "Z_NEED_DICT";
    case Z_ERRNO:
        return "Z_ERRNO";
    case Z_STREAM_ERROR:
        return "Z_STREAM_ERROR";
    case Z_DATA_ERROR:
        return "Z_DATA_ERROR";
    case Z_MEM_ERROR:
        return "Z_MEM_ERROR";
    case Z_BUF_ERROR:
        return "Z_BUF_ERROR";
    case Z_VERSION_ERROR:
        return "Z_VERSION_ERROR";
    default:
        return "Unknow error code";
    }
}

namespace {

// What one filter wrote so far must stay below the limit; the work counts into the parse's
// budget as well.
void check_output(const ByteSink& out) {
    if (out.size() > max_decoded_size) throw OutputLimitError("Decoded stream too large");
}

std::vector<std::uint8_t> flatten(const ByteSink& in) {
    ByteSource::charge(in.size());
    return in.to_vector();
}

std::span<const std::uint8_t> file_bytes(Pos begin, Pos end) {
    auto bytes = ByteSource::bytes(begin, end);
    ByteSource::charge(bytes.size());
    return bytes;
}

} // namespace

// ---- Inflate ----

void InflateFilter::decode_bytes(const std::uint8_t* data, std::size_t n, ByteSink& out) {
    constexpr std::size_t chunk = 4 * 10000;
    out.reserve(chunk);
    std::vector<std::uint8_t> buffer(chunk);
    z_stream zs{};
    int rc = inflateInit(&zs);
    if (rc != Z_OK) throw InflateFilterError(rc);
    struct Ender {
        z_stream* zs;
        ~Ender() { inflateEnd(zs); }
    } ender{&zs};
    zs.next_in = const_cast<Bytef*>(data);
    // zlib counts input in 32 bits; a longer input is given in slices.
    std::size_t left = n;
    auto feed = [&] {
        const std::size_t k = std::min<std::size_t>(left, 1u << 30);
        zs.avail_in += static_cast<uInt>(k);
        left -= k;
    };
    feed();
    do {
        if (zs.avail_in == 0 && left) feed();
        zs.next_out = buffer.data();
        zs.avail_out = static_cast<uInt>(chunk);
        rc = inflate(&zs, Z_NO_FLUSH);
        if (rc != Z_OK && rc != Z_STREAM_END) throw InflateFilterError(rc);
        const std::size_t produced = chunk - zs.avail_out;
        out.write(buffer.data(), produced);
        ByteSource::charge(produced);
        check_output(out);
    } while (rc != Z_STREAM_END);
}

void InflateFilter::decode(Pos begin, Pos end, ByteSink& out) {
    auto bytes = file_bytes(begin, end);
    decode_bytes(bytes.data(), bytes.size(), out);
}

void InflateFilter::decode(const ByteSink& in, ByteSink& out) {
    auto bytes = flatten(in);
    decode_bytes(bytes.data(), bytes.size(), out);
}

// ---- LZW ----

void LZWDecodeFilter::decode_bytes(const std::uint8_t* data, std::size_t n, ByteSink& out) {
    constexpr int table_size = 4097;
    out.reserve(4 * 1000);
    std::vector<std::uint16_t> prefix(table_size, 0);
    std::vector<std::uint8_t> suffix(table_size, 0);
    for (int k = 0; k < 256; ++k)
        suffix[k] = static_cast<std::uint8_t>(k);
    std::array<std::uint8_t, table_size> stack{};

    int width = 9;
    int next_code = 258;
    int previous = -1;
    std::uint8_t first_byte = 0;
    std::uint32_t bits = 0;
    int bit_count = 0;

    for (std::size_t at = 0; at < n; ++at) {
        bits = (bits << 8) | data[at];
        bit_count += 8;
        while (bit_count >= width) {
            const int code = static_cast<int>((bits >> (bit_count - width)) & ((1u << width) - 1));
            bit_count -= width;
            if (code == 256) {
                width = 9;
                next_code = 258;
                previous = -1;
                continue;
            }
            if (code == 257) {
                ByteSource::charge(out.size());
                return;
            }
            if (previous < 0) {
                first_byte = suffix[code];
                out.push_back(first_byte);
                previous = code;
                continue;
            }
            std::size_t depth = 0;
            int c = code;
            if (c >= next_code) {
                // The code being defined right now: the previous string plus its first byte.
                stack[depth++] = first_byte;
                c = previous;
            }
            while (c >= 256) {
                if (prefix[c] == c) throw LZWDecodeFilterError("bad code");
                if (depth >= 4096) throw LZWDecodeFilterError("prefix too long");
                stack[depth++] = suffix[c];
                c = prefix[c];
            }
            if (depth >= 4096) throw LZWDecodeFilterError("prefix too long");
            stack[depth++] = suffix[c];
            first_byte = suffix[c];
            if (next_code < 4096) {
                prefix[next_code] = static_cast<std::uint16_t>(previous);
                suffix[next_code] = first_byte;
                ++next_code;
                if ((next_code + 1) % (1 << width) == 0 && width < 12) ++width;
            }
            previous = code;
            while (depth > 0)
                out.push_back(stack[--depth]);
        }
        bits &= (1u << bit_count) - 1;
        if ((at & 0xFFF) == 0) check_output(out);
    }
    check_output(out);
    ByteSource::charge(out.size());
}

void LZWDecodeFilter::decode(Pos begin, Pos end, ByteSink& out) {
    auto bytes = file_bytes(begin, end);
    decode_bytes(bytes.data(), bytes.size(), out);
}

void LZWDecodeFilter::decode(const ByteSink& in, ByteSink& out) {
    auto bytes = flatten(in);
    decode_bytes(bytes.data(), bytes.size(), out);
}

// ---- ASCII85 ----

void ASCII85Filter::decode_bytes(const std::uint8_t* data, std::size_t n, bool last_tilde,
                                 ByteSink& out) {
    std::size_t stop = n;
    if (last_tilde) {
        while (stop > 0 && data[stop - 1] != '~')
            --stop;
        if (stop == 0) throw ASCII85FilterError("ASCII85 Filter: No tag ~>");
        --stop;
    } else {
        const void* t = n ? std::memchr(data, '~', n) : nullptr;
        if (!t) throw ASCII85FilterError("ASCII85 Filter: No tag ~>");
        stop = static_cast<std::size_t>(static_cast<const std::uint8_t*>(t) - data);
    }
    std::size_t at = 0;
    while (at < stop) {
        if (PdfParser::is_blank(data[at])) {
            ++at;
            continue;
        }
        if (data[at] == 'z') {
            const std::uint8_t zeros[4] = {0, 0, 0, 0};
            out.write(zeros, 4);
            ++at;
            continue;
        }
        std::uint64_t value = 0;
        int count = 0;
        while (count < 5 && at < stop) {
            const std::uint8_t c = data[at++];
            if (PdfParser::is_blank(c)) continue;
            if (c < '!' || c > 'u') throw ASCII85FilterError("ASCII85 Filter: Bad character");
            value = value * 85 + (c - 33);
            ++count;
        }
        if (count == 0) break;
        for (int k = count; k < 5; ++k)
            value = value * 85 + ('u' - 33);
        const std::uint8_t bytes[4] = {
            static_cast<std::uint8_t>(value >> 24), static_cast<std::uint8_t>(value >> 16),
            static_cast<std::uint8_t>(value >> 8), static_cast<std::uint8_t>(value)};
        out.write(bytes, count == 5 ? 4 : static_cast<std::size_t>(count - 1));
    }
    ByteSource::charge(out.size());
    check_output(out);
}

void ASCII85Filter::decode(Pos begin, Pos end, ByteSink& out) {
    auto bytes = file_bytes(begin, end);
    decode_bytes(bytes.data(), bytes.size(), true, out);
}

void ASCII85Filter::decode(const ByteSink& in, ByteSink& out) {
    auto bytes = flatten(in);
    decode_bytes(bytes.data(), bytes.size(), false, out);
}

// ---- Pass-through ----

void DumbFilter::decode(Pos begin, Pos end, ByteSink& out) {
    auto bytes = file_bytes(begin, end);
    out.reserve(bytes.size());
    out.write(bytes.data(), bytes.size());
    check_output(out);
}

void DumbFilter::decode(const ByteSink& in, ByteSink& out) {
    ByteSource::charge(in.size());
    in.for_each_segment([&](const std::uint8_t* p, std::size_t k) { out.write(p, k); });
    check_output(out);
}

// ---- RC4 ----

RC4Filter::RC4Filter(std::string file_key, int key_length_bits, std::uint32_t number,
                     std::int32_t generation)
    : object_key_(PdfParser::object_key(file_key, key_length_bits, number, generation)) {}

void RC4Filter::decode(Pos begin, Pos end, ByteSink& out) {
    auto bytes = file_bytes(begin, end);
    std::vector<std::uint8_t> buffer(bytes.begin(), bytes.end());
    PdfParser::Rc4State st;
    PdfParser::rc4_schedule(st, reinterpret_cast<const std::uint8_t*>(object_key_.data()),
                            object_key_.size());
    PdfParser::rc4_xor(st, buffer.data(), buffer.size());
    out.write(buffer.data(), buffer.size());
    check_output(out);
}

void RC4Filter::decode(const ByteSink& in, ByteSink& out) {
    auto buffer = flatten(in);
    PdfParser::Rc4State st;
    PdfParser::rc4_schedule(st, reinterpret_cast<const std::uint8_t*>(object_key_.data()),
                            object_key_.size());
    PdfParser::rc4_xor(st, buffer.data(), buffer.size());
    out.write(buffer.data(), buffer.size());
    check_output(out);
}

// ---- Chain ----

void MultipleFilter::append(std::unique_ptr<GenericFilter> filter) {
    filters_.push_back(std::move(filter));
}

void MultipleFilter::prepend(std::unique_ptr<GenericFilter> filter) {
    filters_.insert(filters_.begin(), std::move(filter));
}

void MultipleFilter::run_rest(ByteSink& out) {
    for (std::size_t k = 1; k < filters_.size(); ++k) {
        ByteSink intermediate(1024, 1024);
        intermediate.append(out);
        filters_[k]->decode(intermediate, out);
    }
}

void MultipleFilter::decode(Pos begin, Pos end, ByteSink& out) {
    if (filters_.empty()) throw MultipleFilterError("Multiple filter error: Filter empty");
    ByteSink work(out.chunk_size());
    filters_[0]->decode(begin, end, work);
    run_rest(work);
    out.append(work);
}

void MultipleFilter::decode(const ByteSink& in, ByteSink& out) {
    if (filters_.empty()) throw MultipleFilterError("Multiple filter error: Filter empty");
    ByteSink work(out.chunk_size());
    filters_[0]->decode(in, work);
    run_rest(work);
    out.append(work);
}

// ---- Factory ----

std::unique_ptr<GenericFilter> make_filter(std::string_view name) {
    if (name == "FlateDecode" || name == "Fl") return std::make_unique<InflateFilter>();
    if (name == "Dumb") return std::make_unique<DumbFilter>();
    if (name == "ASCII85Decode" || name == "A85") return std::make_unique<ASCII85Filter>();
    if (name == "LZWDecode") return std::make_unique<LZWDecodeFilter>();
    throw MultipleFilterError("Unsupported Filter : " + std::string(name));
}

std::unique_ptr<MultipleFilter> make_filter_array(Pos begin, Pos end) {
    end = std::min(end, ByteSource::length());
    Pos p = begin;
    PdfParser::skip_blanks(p, end);
    if (p >= end || ByteSource::byte_at(p) != '/')
        throw PdfParser::BadObjectException("Wrong Filter");
    auto chain = std::make_unique<MultipleFilter>();
    while (p < end) {
        if (ByteSource::byte_at(p) != '/') {
            ++p;
            continue;
        }
        ++p;
        std::string name;
        while (p < end) {
            const std::uint8_t c = ByteSource::byte_at(p);
            if (PdfParser::is_blank(c) || c == '/') break;
            name += static_cast<char>(c);
            ++p;
        }
        chain->append(make_filter(name));
    }
    return chain;
}

} // namespace PdfStreamFilter
