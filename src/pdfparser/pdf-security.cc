#include "pdfparser/pdf-security.h"

#include <algorithm>
#include <cstring>
#include <new>

#include <openssl/evp.h>

#include "pdfparser/pdf-lexer.h"

namespace PdfParser {

const std::uint8_t password_padding[32] = {
    0x28, 0xBF, 0x4E, 0x5E, 0x4E, 0x75, 0x8A, 0x41, 0x64, 0x00, 0x4E, 0x56, 0xFF, 0xFA, 0x01, 0x08,
    0x2E, 0x2E, 0x00, 0xB6, 0xD0, 0x68, 0x3E, 0x80, 0x2F, 0x0C, 0xA9, 0xFE, 0x64, 0x53, 0x69, 0x7A};

// ---- MD5 (the crypto library's) ----

Md5::Md5() : ctx_(EVP_MD_CTX_new()) {
    if (!ctx_) throw std::bad_alloc();
    init();
}

Md5::~Md5() {
    EVP_MD_CTX_free(static_cast<EVP_MD_CTX*>(ctx_));
}

void Md5::init() {
    EVP_DigestInit_ex(static_cast<EVP_MD_CTX*>(ctx_), EVP_md5(), nullptr);
}

void Md5::update(const void* data, std::size_t length) {
    if (length) EVP_DigestUpdate(static_cast<EVP_MD_CTX*>(ctx_), data, length);
}

std::array<std::uint8_t, 16> Md5::final() {
    std::array<std::uint8_t, 16> out{};
    unsigned int n = 0;
    EVP_DigestFinal_ex(static_cast<EVP_MD_CTX*>(ctx_), out.data(), &n);
    return out;
}

std::array<std::uint8_t, 16> Md5::digest(std::string_view data) {
    Md5 md;
    md.update(data);
    return md.final();
}

// ---- RC4 (written out: the crypto library may not offer it any more) ----

void rc4_schedule(Rc4State& state, const std::uint8_t* key, std::size_t length) {
    length = std::min<std::size_t>(length, 256);
    for (int k = 0; k < 256; ++k)
        state.s[k] = static_cast<std::uint8_t>(k);
    state.i = state.j = 0;
    if (length == 0) return;
    std::uint8_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = static_cast<std::uint8_t>(j + state.s[k] + key[k % length]);
        std::swap(state.s[k], state.s[j]);
    }
}

void rc4_xor(Rc4State& state, std::uint8_t* bytes, std::size_t length) {
    std::uint8_t i = state.i, j = state.j;
    for (std::size_t k = 0; k < length; ++k) {
        i = static_cast<std::uint8_t>(i + 1);
        j = static_cast<std::uint8_t>(j + state.s[i]);
        std::swap(state.s[i], state.s[j]);
        bytes[k] ^= state.s[static_cast<std::uint8_t>(state.s[i] + state.s[j])];
    }
    state.i = i;
    state.j = j;
}

std::string rc4(std::string_view key, std::string_view data) {
    Rc4State st;
    rc4_schedule(st, reinterpret_cast<const std::uint8_t*>(key.data()), key.size());
    std::string out(data);
    rc4_xor(st, reinterpret_cast<std::uint8_t*>(out.data()), out.size());
    return out;
}

std::string object_key(std::string_view file_key, int key_length_bits, std::uint32_t number,
                       std::int32_t generation) {
    const std::size_t n = std::min<std::size_t>(std::max(key_length_bits, 0) / 8, file_key.size());
    const auto d = Md5::digest(make_object_key(file_key.substr(0, n), number, generation));
    return std::string(reinterpret_cast<const char*>(d.data()), std::min<std::size_t>(n + 5, 16));
}

// ---- The handler ----

namespace {

// Reads a signed decimal after white space: an optional '-' then digits.
bool read_signed(Pos& p, Pos end, std::int64_t& value) {
    skip_blanks(p, end);
    bool negative = false;
    if (p < end && ByteSource::byte_at(p) == '-') {
        negative = true;
        ++p;
    }
    if (p >= end || !is_digit(ByteSource::byte_at(p))) return false;
    const std::uint64_t u = read_unsigned(p);
    const std::uint64_t low = u & 0xFFFFFFFFu; // a permission word is 32 bits
    value = negative ? -static_cast<std::int64_t>(low) : static_cast<std::int64_t>(low);
    return true;
}

bool read_number_after(Pos start, Pos end, std::string_view key, std::int64_t& value) {
    Pos p = start;
    return find_key(p, end, key) && read_signed(p, end, value);
}

} // namespace

void SecurityHandler::read(Pos position, Pos data_end,
                           const std::function<std::string()>& first_id) {
    // The entries are searched within the dictionary itself: a search running on to the end
    // of the file would take the /Length of some later stream for the key length.
    Span dict{position, data_end};
    try {
        dict = Dictionary(position, data_end);
    } catch (const BadObjectException&) {
        throw BadObjectException("Bad Encrypt");
    }
    Pos p = dict.start;
    if (!find_key(p, dict.end, "/Filter")) throw BadObjectException("Bad Encrypt");
    p = dict.start;
    if (!find_key(p, dict.end, "/Standard")) throw BadFormatException("Unsupported encrypt");

    std::int64_t v = 0;
    length_ = 40;
    if (read_number_after(dict.start, dict.end, "/Length", v)) length_ = static_cast<int>(v);
    if (!read_number_after(dict.start, dict.end, "/R", v))
        throw BadObjectException("Bad encrypt revision");
    r_ = static_cast<int>(v);
    if (!read_number_after(dict.start, dict.end, "/V", v))
        throw BadObjectException("Bad encrypt version");
    v_ = static_cast<int>(v);
    if (v_ > 2) throw BadObjectException("Unsupported encrypt");
    if (!read_number_after(dict.start, dict.end, "/P", v))
        throw BadObjectException("Bad encrypt privileges");
    p_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(v));
    // Key lengths are multiples of 8 bits from 40 to 128.
    if (length_ < 40 || length_ > 128 || length_ % 8 != 0)
        throw BadObjectException("Unsupported encrypt");
    if (r_ != 2 && r_ != 3) throw BadObjectException("Unsupported encrypt");

    id_ = first_id();

    p = dict.start;
    if (!find_key(p, dict.end, "/U")) throw BadObjectException("Bad encrypt user key");
    u_ = read_string(p, dict.end);
    if (u_.size() < (r_ == 2 ? 32u : 16u)) throw BadObjectException("Bad encrypt user key");
    p = dict.start;
    if (!find_key(p, dict.end, "/O")) throw BadObjectException("Bad encrypt owner key");
    o_ = read_string(p, dict.end);
    if (o_.size() < 32) throw BadObjectException("Bad encrypt owner key");
}

std::string SecurityHandler::file_key() const {
    const std::size_t n = static_cast<std::size_t>(length_) / 8;
    Md5 md;
    md.update(password_padding, 32);
    md.update(o_.data(), 32);
    const auto p = static_cast<std::uint32_t>(p_);
    const std::uint8_t pb[4] = {static_cast<std::uint8_t>(p), static_cast<std::uint8_t>(p >> 8),
                                static_cast<std::uint8_t>(p >> 16),
                                static_cast<std::uint8_t>(p >> 24)};
    md.update(pb, 4);
    md.update(id_);
    auto digest = md.final();
    if (r_ >= 3) {
        for (int k = 0; k < 50; ++k) {
            md.init();
            md.update(digest.data(), n);
            digest = md.final();
        }
    }
    const std::string key(reinterpret_cast<const char*>(digest.data()), digest.size());

    bool readable = false;
    if (r_ == 2) {
        const std::string u =
            rc4(std::string_view(key).substr(0, n), std::string_view(u_).substr(0, 32));
        readable = std::memcmp(u.data(), password_padding, 32) == 0;
    } else {
        // Revision 3: MD5 of the padding and the first /ID, encrypted twenty times with the
        // key XORed with the round number; it matches the first 16 bytes of /U.
        md.init();
        md.update(password_padding, 32);
        md.update(id_);
        const auto h = md.final();
        std::string value(reinterpret_cast<const char*>(h.data()), h.size());
        for (int round = 0; round < 20; ++round) {
            std::string round_key = key.substr(0, n);
            for (char& c : round_key)
                c = static_cast<char>(c ^ round);
            value = rc4(round_key, value);
        }
        readable = std::memcmp(value.data(), u_.data(), 16) == 0;
    }
    if (!readable) throw BadObjectException("This pdf requires user password");
    return key;
}

} // namespace PdfParser
