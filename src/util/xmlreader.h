// The base class through which XML inputs are read (side metadata, plug-in descriptors,
// queries), and the expat set-up that every XML reader of the system shares.
#pragma once

#include "util/codecs.h"

#include <expat.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace lumbrake {

// A subclass receives element starts, ends and character data. Charsets that expat does not
// know (windows-1252, iso-8859-2, ...) are decoded through our single-byte tables.
class ExpatParser {
public:
    ExpatParser();
    virtual ~ExpatParser();
    ExpatParser(const ExpatParser&) = delete;
    ExpatParser& operator=(const ExpatParser&) = delete;

    // Parses the whole text as one final piece. `encoding` overrides the document's own
    // declaration when not null. Element names arrive as "namespace<sep>local" (or the local
    // name alone without a namespace). True when expat accepted the text as well-formed.
    bool parse(std::string_view xml, const char* encoding = nullptr, char ns_separator = '|');

protected:
    // `attributes`: name, value, name, value, ..., null.
    virtual void start_element(const char* name, const char** attributes) = 0;
    virtual void end_element(const char* name) = 0;
    virtual void character_data(const char* bytes, int length) = 0;
    // Called for an encoding name expat does not know; fills `info` from our tables.
    // Returns 1 when the encoding can be read, 0 when it is unknown to us too.
    virtual int unknown_encoding(const char* name, XML_Encoding* info);

private:
    static void XMLCALL on_start(void* user, const XML_Char* name, const XML_Char** atts);
    static void XMLCALL on_end(void* user, const XML_Char* name);
    static void XMLCALL on_chars(void* user, const XML_Char* bytes, int length);
    static int XMLCALL on_unknown_encoding(void* data, const XML_Char* name, XML_Encoding* info);

    XML_Parser parser_ = nullptr;
    charset charset_{"UTF-8"};
};

// Splits "namespace<sep>local". Without the separator the namespace is empty and the local
// name is the whole name. Asserts that the separator is not NUL.
void split_qname(char ns_separator, std::string_view qname, std::string& ns, std::string& local);

// Fills an expat encoding map from a charset: a byte table's code points (bytes the table
// leaves undefined are marked invalid), or every byte invalid for a non-table charset.
// Returns 1 when `label` names a charset we know, else 0.
int fill_xml_encoding(charset& cs, const char* label, XML_Encoding* info);

// The protections every parser gets: references to external entities are refused (parse
// error), parameter entities are never read; expat's own limit on entity amplification stays
// on. Lets an unknown encoding be read through our tables when `cs` is given.
void guard_xml_parser(XML_Parser parser, charset* cs = nullptr);

// Feeds the whole text to expat (in pieces when it exceeds the int length expat takes), the
// last piece marked final. True when expat reported success.
bool parse_whole(XML_Parser parser, std::string_view text);
inline bool parse_whole(XML_Parser parser, const char* text, std::size_t length) {
    return parse_whole(parser, std::string_view(text, length));
}

} // namespace lumbrake
