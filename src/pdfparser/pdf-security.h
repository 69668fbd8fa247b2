// The standard security handler (empty user password, RC4, revisions 2 and 3), with the MD5
// digest and the RC4 cipher it is built from.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "pdfparser/pdf-objects.h"

namespace PdfParser {

class Md5 {
public:
    Md5();
    ~Md5();
    Md5(const Md5&) = delete;
    Md5& operator=(const Md5&) = delete;
    void init();
    void update(const void* data, std::size_t length);
    void update(std::string_view data) { update(data.data(), data.size()); }
    // The 16-byte digest; the context must be init()ed again before reuse.
    std::array<std::uint8_t, 16> final();

    static std::array<std::uint8_t, 16> digest(std::string_view data);

private:
    void* ctx_; // EVP_MD_CTX
};

struct Rc4State {
    std::uint8_t s[256];
    std::uint8_t i = 0;
    std::uint8_t j = 0;
};

// Key schedule over a key of 1 to 256 bytes (longer keys use their first 256 bytes).
void rc4_schedule(Rc4State& state, const std::uint8_t* key, std::size_t length);
// XORs the bytes with the key stream in place, continuing the state.
void rc4_xor(Rc4State& state, std::uint8_t* bytes, std::size_t length);
// One-shot: a fresh schedule under key, then XOR.
std::string rc4(std::string_view key, std::string_view data);

// The key of one object: MD5 of (first key_length_bits / 8 bytes of the file key, object
// number, generation), its first n + 5 bytes, at most 16.
std::string object_key(std::string_view file_key, int key_length_bits, std::uint32_t number,
                       std::int32_t generation);

// The 32-byte padding string of the standard security handler.
extern const std::uint8_t password_padding[32];

class SecurityHandler {
public:
    // Reads the encryption dictionary at position (bounded by data_end); first_id gives the
    // trailer's first /ID string (it may throw its own errors). Throws BadObjectException /
    // BadFormatException with the messages of the handler ("Bad Encrypt", "Unsupported encrypt",
    // ...).
    void read(Pos position, Pos data_end, const std::function<std::string()>& first_id);
    // Computes the file key and checks it against /U; throws BadObjectException
    // "This pdf requires user password" when the empty password does not open the file.
    // Returns the 16-byte digest; the key proper is its first length() / 8 bytes.
    std::string file_key() const;

    const std::string& owner() const { return o_; }
    const std::string& user() const { return u_; }
    const std::string& id() const { return id_; }
    std::int32_t permissions() const { return p_; }
    int version() const { return v_; }
    int revision() const { return r_; }
    int length() const { return length_; }

private:
    std::string o_;
    std::string u_;
    std::string id_;
    std::int32_t p_ = 0;
    int v_ = 0;
    int r_ = 0;
    int length_ = 40;
};

} // namespace PdfParser
