// The frame of a PDF file: header, linearization hint, trailers and cross-reference tables,
// read into the process-wide XrefTable through which every indirect object is found; the
// indirect-object lookup and the stream object that decodes a stream's data.
//
// Typical use (one parse at a time per process):
//   PdfParser::ByteSource::open(bytes);
//   PdfParser::FileStructure fs(0, PdfParser::ByteSource::length());
//   PdfParser::Span body = PdfParser::resolve(fs.root().number);
//   PdfParser::StreamObject s(PdfParser::XrefTable::instance().entry(n).position, n, g);
//   PdfParser::ByteSink data; s.decode(data);
//   ...
//   PdfParser::XrefTable::release(); PdfParser::ByteSource::close();
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "pdfparser/pdf-bytesink.h"
#include "pdfparser/pdf-filters.h"
#include "pdfparser/pdf-objects.h"

namespace PdfParser {

struct XrefEntry {
    Pos position = 0;             // absolute offset where the search for "obj" starts
    std::int32_t generation = -1; // -1 when no section gave one
    bool free = true;
};

// Process-wide cross-reference state of the document being parsed.
class XrefTable {
public:
    static XrefTable& instance();
    // Forgets the document (entries, key); the front end calls it at the end of every parse.
    static void release();

    // The entry of an object number; a number not below size() throws std::out_of_range
    // "vector".
    const XrefEntry& entry(std::uint64_t number) const;
    // The entry's position; throws as entry().
    Pos position(std::uint64_t number) const { return entry(number).position; }
    // The trailer's /Size.
    std::size_t size() const { return size_; }

    // size entries, each {data_start, -1, free}. Memory stays proportional to the document:
    // a huge /Size keeps its numbers valid without storing an entry for each.
    void reset(std::size_t size, Pos data_start, std::size_t dense_limit);
    // Stores the entry of a number below size() (others are ignored).
    void set(std::uint64_t number, const XrefEntry& entry);

    Pos data_start = 0;
    Pos data_end = 0;
    bool encrypted = false;
    std::string file_key; // 16 bytes when encrypted
    int key_length = 40;  // bits

private:
    std::vector<XrefEntry> dense_;
    std::unordered_map<std::uint64_t, XrefEntry> sparse_;
    XrefEntry unset_;
    std::size_t size_ = 0;
};

struct ObjectRef {
    std::uint32_t number = 0;
    std::int32_t generation = 0;
};

class FileStructure {
public:
    // Reads the whole frame of the document bytes [data_start, data_end) of the ByteSource
    // into XrefTable::instance(); throws BadFormatException / BadObjectException.
    FileStructure(Pos data_start, Pos data_end);

    ObjectRef root() const { return root_; }
    ObjectRef info() const { return info_; } // 0, 0 when the trailer has no /Info
    const XrefEntry& entry(std::uint64_t number) const { return table_->entry(number); }
    const std::string& version() const { return version_; }
    Pos data_start() const { return data_start_; }
    Pos data_end() const { return data_end_; }
    bool linearized() const { return linearized_; }

private:
    void read_sections(Pos first_xref);

    Pos data_start_;
    Pos data_end_;
    XrefTable* table_;
    bool header_found_ = false;
    ObjectRef root_;
    ObjectRef info_;
    std::string version_;
    bool linearized_ = false;
};

// The body of the indirect object whose header ("N G obj") is searched from offset: from the
// first byte after "obj" to the first byte of its "endobj". Literal strings and stream data
// are stepped over when looking for "endobj". Throws BadObjectException "Tag obj or endobj
// not found, probably Object corrupted".
Span object(Pos offset, Pos data_end);
// object() of an object number through the table (std::out_of_range for a number not below
// the table size).
Span resolve(std::uint64_t number);
// The unsigned number of an integer object at offset (the first digit after "obj"); throws
// BadObjectException "Wrong object type" when the body holds no digit.
std::uint64_t integer_object(Pos offset, Pos data_end);

// A stream object: its dictionary keys /Length (direct or a reference) and /Filter, and where
// its data lies. For an encrypted document the chain starts with RC4 under the object's key.
class StreamObject {
public:
    // Throws BadObjectException ("Tag Length not found, probably stream corrupted", "Bad
    // Reference (no R)", "Stream corrupted", "Wrong Filter") or BadFormatException ("Out of
    // bounds reference", "Tag Stream not found, probably stream corrupted"), or
    // PdfStreamFilter::MultipleFilterError for an unsupported filter.
    StreamObject(Pos object_position, std::uint32_t number, std::int32_t generation);

    // Runs the data through the filter chain into out (PdfStreamFilter::FilterError on bad
    // data).
    void decode(ByteSink& out) const;

    Span body() const { return body_; }
    std::uint64_t length() const { return length_; }
    Pos data_start() const { return data_start_; }
    std::uint32_t number() const { return number_; }
    std::int32_t generation() const { return generation_; }

private:
    Span body_;
    std::unique_ptr<PdfStreamFilter::GenericFilter> filter_;
    std::uint64_t length_ = 0;
    Pos data_start_ = 0;
    std::uint32_t number_;
    std::int32_t generation_;
};

// Reads a reference "N G R" at pos (after white space): true with the numbers when the 'R'
// follows; pos stands behind what was read.
bool read_reference(Pos& pos, Pos end, ObjectRef& ref);

} // namespace PdfParser
