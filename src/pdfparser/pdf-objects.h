// PDF objects as byte ranges of the document: the exception family of the PDF code, spans,
// arrays and dictionaries. Nothing is parsed into a tree; a value is read when asked for by
// searching the object's range for its key (see pdf-lexer.h for the readers).
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace PdfParser {

// A byte offset into the document held by the ByteSource.
using Pos = std::size_t;

// Base of every error the PDF code throws about the document; its message is what the front
// end reports.
class PdfParserException : public std::exception {
public:
    explicit PdfParserException(std::string message) : message_(std::move(message)) {}
    const std::string& message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

// A malformed or missing object.
class BadObjectException : public PdfParserException {
public:
    using PdfParserException::PdfParserException;
};

// A broken file frame (header, cross-reference, trailer, page tree).
class BadFormatException : public PdfParserException {
public:
    using PdfParserException::PdfParserException;
};

// Two offsets into the document; end is exclusive.
struct Span {
    Pos start = 0;
    Pos end = 0;
};

// The bytes between "[" and the first "]" behind it outside literal strings (an inner array
// is not matched: its "]" ends the span).
class Array : public Span {
public:
    // Throws BadObjectException "Tag [ or ] not found, probably Array corrupted".
    Array(Pos start, Pos end);
};

// The bytes between "<<" and the first ">" of its closing ">>" (nested dictionaries and hex
// strings balance themselves; literal strings are stepped over).
class Dictionary : public Span {
public:
    // Throws BadObjectException "Tag << or >> not found, probably Dictionary corrupted".
    Dictionary(Pos start, Pos end);
    // The same for the body of object (number, generation): when the document is encrypted
    // the dictionary carries the object's RC4 key and its strings are decrypted.
    Dictionary(Pos start, Pos end, std::uint32_t number, std::int32_t generation);

    // The string value of a key tag such as "/Title": literal or hex string, decrypted when
    // the dictionary is encrypted, UTF-16BE with the mark FE FF turned into UTF-8, other bytes
    // unchanged. An absent key or a value of another kind gives "".
    std::string get_string(std::string_view key) const;

    bool encrypted() const { return encrypted_; }
    const std::uint8_t* key() const { return key_; }
    std::size_t key_length() const { return key_length_; }

private:
    bool encrypted_ = false;
    std::uint8_t key_[16] = {};
    std::size_t key_length_ = 0;
};

// The bytes that are hashed into an object's key: the file key, the three low bytes of the
// object number and the two low bytes of the generation, least significant first.
std::string make_object_key(std::string_view file_key, std::uint32_t number,
                            std::int32_t generation);

// Big-endian UTF-16 units (the bytes after a FE FF mark) as UTF-8; an odd last byte is
// dropped, surrogate pairs are joined and lone surrogates dropped.
std::string utf16be_to_utf8(std::string_view units);

} // namespace PdfParser
