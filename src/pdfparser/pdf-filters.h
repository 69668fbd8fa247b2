// Stream filters: Flate, LZW, ASCII85, pass-through, chains, and RC4 decryption. A filter
// decodes either a range of the document (read through the ByteSource) or another sink's
// bytes, and appends to the sink it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pdfparser/pdf-bytesink.h"
#include "pdfparser/pdf-objects.h"

namespace PdfStreamFilter {

using PdfParser::ByteSink;
using PdfParser::Pos;

// Decoded output of one filter stops here: a small compressed stream must not be able to fill
// the memory of the worker.
inline constexpr std::size_t max_decoded_size = 64u << 20;

// Base of the filter errors (a family apart from PdfParser::PdfParserException).
class FilterError : public std::exception {
public:
    virtual int code() const = 0;
    virtual std::string message() const = 0;
    virtual void log() const {}
    const char* what() const noexcept override;

protected:
    mutable std::string what_;
};

class MessageFilterError : public FilterError {
public:
    explicit MessageFilterError(std::string message) : message_(std::move(message)) {}
    int code() const override { return 1; }
    std::string message() const override { return message_; }

private:
    std::string message_;
};

class LZWDecodeFilterError : public MessageFilterError {
public:
    using MessageFilterError::MessageFilterError;
};
class ASCII85FilterError : public MessageFilterError {
public:
    using MessageFilterError::MessageFilterError;
};
class MultipleFilterError : public MessageFilterError {
public:
    using MessageFilterError::MessageFilterError;
    void log() const override; // a DEBUG line of the WORKERPARSERS facility
};
// Decoded output above max_decoded_size.
class OutputLimitError : public MessageFilterError {
public:
    using MessageFilterError::MessageFilterError;
};

// Carries the zlib return code; its message is the code's name ("Z_BUF_ERROR", ...).
class InflateFilterError : public FilterError {
public:
    explicit InflateFilterError(int zlib_code) : code_(zlib_code) {}
    int code() const override { return code_; }
    std::string message() const override;

private:
    int code_;
};

class GenericFilter {
public:
    virtual ~GenericFilter() = default;
    // The document's bytes [begin, end) (clamped to the document) into out.
    virtual void decode(Pos begin, Pos end, ByteSink& out) = 0;
    // Another buffer's bytes into out.
    virtual void decode(const ByteSink& in, ByteSink& out) = 0;
};

class InflateFilter : public GenericFilter {
public:
    void decode(Pos begin, Pos end, ByteSink& out) override;
    void decode(const ByteSink& in, ByteSink& out) override;
    static void decode_bytes(const std::uint8_t* data, std::size_t n, ByteSink& out);
};

class LZWDecodeFilter : public GenericFilter {
public:
    void decode(Pos begin, Pos end, ByteSink& out) override;
    void decode(const ByteSink& in, ByteSink& out) override;
    static void decode_bytes(const std::uint8_t* data, std::size_t n, ByteSink& out);
};

class ASCII85Filter : public GenericFilter {
public:
    // The file form ends at the last '~' of its range, the in-memory form at the first.
    void decode(Pos begin, Pos end, ByteSink& out) override;
    void decode(const ByteSink& in, ByteSink& out) override;
    static void decode_bytes(const std::uint8_t* data, std::size_t n, bool last_tilde,
                             ByteSink& out);
};

class DumbFilter : public GenericFilter {
public:
    void decode(Pos begin, Pos end, ByteSink& out) override;
    void decode(const ByteSink& in, ByteSink& out) override;
};

// RC4 under the key of one object (file key, object number, generation).
class RC4Filter : public GenericFilter {
public:
    RC4Filter(std::string file_key, int key_length_bits, std::uint32_t number,
              std::int32_t generation);
    void decode(Pos begin, Pos end, ByteSink& out) override;
    void decode(const ByteSink& in, ByteSink& out) override;

private:
    std::string object_key_;
};

// Filters applied in list order: the first reads the input, each further one the output of
// the one before.
class MultipleFilter : public GenericFilter {
public:
    void append(std::unique_ptr<GenericFilter> filter);
    void prepend(std::unique_ptr<GenericFilter> filter);
    std::size_t size() const { return filters_.size(); }
    void decode(Pos begin, Pos end, ByteSink& out) override;
    void decode(const ByteSink& in, ByteSink& out) override;

private:
    void run_rest(ByteSink& out);
    std::vector<std::unique_ptr<GenericFilter>> filters_;
};

// By name without its slash: "FlateDecode"/"Fl", "LZWDecode", "ASCII85Decode"/"A85", "Dumb".
// Any other name throws MultipleFilterError "Unsupported Filter : " + name.
std::unique_ptr<GenericFilter> make_filter(std::string_view name);

// The names of a /Filter array between its brackets, [begin, end) of the document, as one
// chain in array order. Throws PdfParser::BadObjectException "Wrong Filter" when the first
// non-blank byte is no '/'.
std::unique_ptr<MultipleFilter> make_filter_array(Pos begin, Pos end);

} // namespace PdfStreamFilter
