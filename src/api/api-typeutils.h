// XML text forms of the configuration records, and the conventions that every record form
// shares (writer lines, attribute escaping, lenient readers, ACL entries).
#pragma once

#include "api/api-types.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct XML_ParserStruct; // expat's parser

namespace lumbrake {

// ---- Record forms of this file family ----
// Writers clear `xml` and write the whole text. They return false (and leave `xml` empty) only
// when a text member holds something XML cannot carry (a control byte other than tab, LF, CR,
// or invalid UTF-8); the reason, naming the member, goes to `error` when given and to the log.
bool source_to_xml(const SourceConfiguration& source, std::string& xml,
                   std::string* error = nullptr);
bool docfilter_to_xml(const DocFilter& filter, std::string& xml, std::string* error = nullptr);
bool plugin_to_xml(const Plugin& plugin, std::string& xml, std::string* error = nullptr);
bool renderer_pipe_to_xml(const RendererPluginPipe& pipe, std::string& xml,
                          std::string* error = nullptr);

// Readers reset the record, then fill it from the text. True when the text is well-formed XML;
// on false the record keeps what was read before the error. `old_names` tells whether the
// text used element names of the older configuration format.
bool source_from_xml(const char* text, std::size_t length, SourceConfiguration& source,
                     bool& old_names);
bool docfilter_from_xml(const char* text, std::size_t length, DocFilter& filter, bool& old_names);
bool plugin_from_xml(const char* text, std::size_t length, Plugin& plugin);
bool renderer_pipe_from_xml(const char* text, std::size_t length, RendererPluginPipe& pipe,
                            bool& old_names);

// A source record read in pieces, for records too long to hold whole (a source may carry a
// million seeds): every member is read as source_from_xml reads it, except that each seed goes
// to `on_seed`, in the record's order, instead of into Seeds. The constructor resets `source`.
class source_stream_reader {
public:
    using seed_sink = std::function<void(const std::string& url)>;
    source_stream_reader(SourceConfiguration& source, seed_sink on_seed);
    ~source_stream_reader();
    // As xml_record_reader::feed: true while the text read so far may be well-formed, and
    // after the last piece when the whole text was.
    bool feed(const char* bytes, std::size_t length, bool last);
    // Whether the text used element names of the older configuration format.
    bool old_names() const;

private:
    class reader;
    std::unique_ptr<reader> reader_;
};

// ---- Writer conventions ----
// Builds one record text: the declaration line, one element a line, TAB indentation, LF line
// ends, string values escaped (tab, LF, CR as character references). Usage:
//   xml_record_writer w(xml);
//   w.start(0, "source").text_attr("name", s.Name).open();
//   w.start(1, "limit").int_attr("depth", s.DepthLimit).empty();
//   w.acl(s.ACL);
//   w.close(0, "source");
//   return w.finish("source", error);
class xml_record_writer {
public:
    // Clears `out` and writes `<?xml version="1.0" encoding="UTF-8"?>` and a line feed.
    explicit xml_record_writer(std::string& out);

    // `depth` TABs and "<name".
    xml_record_writer& start(int depth, std::string_view name);
    // ` name="value"`: a string member, escaped and checked.
    xml_record_writer& text_attr(std::string_view name, std::string_view value);
    // ` name="123"`, decimal with a leading minus when negative.
    xml_record_writer& int_attr(std::string_view name, int64_t value);
    // ` name="true"` or ` name="false"`.
    xml_record_writer& bool_attr(std::string_view name, bool value);
    // ` name="token"`: a fixed token, written as it is.
    xml_record_writer& token(std::string_view name, std::string_view token);
    // Ends the start tag: `"/>` (or ` />` when `blank_before_slash`) and LF.
    void empty(bool blank_before_slash = false);
    // Ends the start tag with ">" and LF.
    void open();
    // Ends the start tag with ">" and nothing after it (the element's content follows).
    void open_inline();
    // Element text of the current element, escaped and checked.
    void text(std::string_view value);
    // Bytes written as they are (base64 bodies).
    void raw(std::string_view bytes);
    // `depth` TABs, "</name>" and LF; a negative depth writes no TABs (after inline content).
    void close(int depth, std::string_view name);
    // One `<acl name=".." access="read|write" deny="true|false"/>` line per entry, at one TAB.
    void acl(const std::vector<AccessSpec>& acl);

    // True when every string value was writable. Otherwise clears `out`, logs "Cannot write
    // <record> record: <where> holds <what>" at ERROR for API, stores that text in `*error`
    // (when given) and returns false.
    bool finish(std::string_view record, std::string* error);

private:
    void check(std::string_view value, std::string_view where);
    std::string& out_;
    std::string element_;
    std::string error_;
};

// ---- Reader conventions ----
using xml_attr_map = std::map<std::string, std::string, std::less<>>;

// The attribute's value, or the empty string when it is absent.
const std::string& xml_attr(const xml_attr_map& attrs, std::string_view name);

// C atoi semantics (leading blanks, optional sign, digits up to the first non-digit, 0 when
// none), saturated to the int32 range instead of overflowing.
int32_t xml_atoi(std::string_view text);

// A signed number from the start of the text (strtol, saturated to int32). False, `value`
// unchanged, when the text does not begin with a number.
bool xml_decimal(std::string_view text, int32_t& value);

// One `acl` element. True with `entry` filled when access is read/write and deny true/false;
// otherwise false with `message` "Unknown ACL access <v>" or "Unknown ACL deny value <v>"
// (the access value is checked first).
bool acl_entry_from_attrs(const xml_attr_map& attrs, AccessSpec& entry, std::string& message);

// One `acl` element of a record added to its list; a refused one is logged as an error and
// left out, and the rest of the record still reads.
void read_acl_entry(const xml_attr_map& attrs, std::vector<AccessSpec>& acl);

// Drives expat over one record text: no encoding override, no namespace processing, expat's
// entity-expansion protection on, external entities refused. Subclasses get start tags with
// their attributes as a map, and may take end tags and character data.
class xml_record_reader {
public:
    xml_record_reader() = default;
    virtual ~xml_record_reader();
    xml_record_reader(const xml_record_reader&) = delete;
    xml_record_reader& operator=(const xml_record_reader&) = delete;
    // Parses the whole text as one final piece. True when expat accepted it as well-formed.
    bool parse(const char* text, std::size_t length);
    // Parses a text handed in pieces, the last one marked `last` (it may be empty), so that a
    // long record is never held whole. False from the first piece that shows the text is not
    // well-formed on; the handlers have then seen what came before the fault.
    bool feed(const char* bytes, std::size_t length, bool last);

protected:
    virtual void start_element(std::string_view name, const xml_attr_map& attrs) = 0;
    virtual void end_element(std::string_view /*name*/) {}
    virtual void character_data(const char* /*bytes*/, int /*length*/) {}

private:
    static void on_start(void* user, const char* name, const char** atts);
    static void on_end(void* user, const char* name);
    static void on_chars(void* user, const char* bytes, int length);
    XML_ParserStruct* start_parser();

    // The expat parser of feed, from its first piece to its last.
    XML_ParserStruct* parser_ = nullptr;
    bool failed_ = false;
};

} // namespace lumbrake
