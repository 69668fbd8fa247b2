#include "util/xmlreader.h"

#include "util/log.h"

#include <climits>

namespace lumbrake {

ExpatParser::ExpatParser() = default;

ExpatParser::~ExpatParser() = default;

void XMLCALL ExpatParser::on_start(void* user, const XML_Char* name, const XML_Char** atts) {
    static_cast<ExpatParser*>(user)->start_element(name, atts);
}

void XMLCALL ExpatParser::on_end(void* user, const XML_Char* name) {
    static_cast<ExpatParser*>(user)->end_element(name);
}

void XMLCALL ExpatParser::on_chars(void* user, const XML_Char* bytes, int length) {
    static_cast<ExpatParser*>(user)->character_data(bytes, length);
}

int XMLCALL ExpatParser::on_unknown_encoding(void* data, const XML_Char* name, XML_Encoding* info) {
    return static_cast<ExpatParser*>(data)->unknown_encoding(name, info);
}

int ExpatParser::unknown_encoding(const char* name, XML_Encoding* info) {
    return fill_xml_encoding(charset_, name, info);
}

bool ExpatParser::parse(std::string_view xml, const char* encoding, char ns_separator) {
    TN_ASSERT(!parser_);
    parser_ = XML_ParserCreateNS(encoding, ns_separator);
    if (!parser_) return false;
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &ExpatParser::on_start, &ExpatParser::on_end);
    XML_SetCharacterDataHandler(parser_, &ExpatParser::on_chars);
    guard_xml_parser(parser_);
    XML_SetUnknownEncodingHandler(parser_, &ExpatParser::on_unknown_encoding, this);
    // Freed also when a handler throws, so that the object can parse again.
    struct release {
        XML_Parser& p;
        ~release() {
            XML_ParserFree(p);
            p = nullptr;
        }
    } guard{parser_};
    return parse_whole(parser_, xml);
}

void split_qname(char ns_separator, std::string_view qname, std::string& ns, std::string& local) {
    TN_ASSERT(ns_separator != '\0');
    std::size_t at = qname.find(ns_separator);
    if (at == std::string_view::npos) {
        ns.clear();
        local.assign(qname);
        return;
    }
    ns.assign(qname.substr(0, at));
    local.assign(qname.substr(at + 1));
}

int fill_xml_encoding(charset& cs, const char* label, XML_Encoding* info) {
    if (!cs.set(label ? label : "")) return 0;
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    const code_point* table = cs.kind() == charset::TABLE ? cs.table() : nullptr;
    for (int byte = 0; byte < 256; ++byte) {
        if (!table) {
            info->map[byte] = -1;
            continue;
        }
        code_point cp = table[byte];
        // Our tables give 0 for undefined bytes; expat refuses a whole map in which a byte
        // other than 0 stands for U+0000, so such bytes are marked invalid instead. Values
        // expat cannot take as one character (surrogates, beyond the BMP) are invalid too.
        bool usable = (cp != 0 || byte == 0) && cp < 0xFFFE && (cp < 0xD800 || cp > 0xDFFF);
        info->map[byte] = usable ? static_cast<int>(cp) : -1;
    }
    return 1;
}

namespace {

int XMLCALL refuse_external_entity(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                                   const XML_Char*) {
    return XML_STATUS_ERROR;
}

int XMLCALL unknown_encoding_from_tables(void* data, const XML_Char* name, XML_Encoding* info) {
    return fill_xml_encoding(*static_cast<charset*>(data), name, info);
}

} // namespace

void guard_xml_parser(XML_Parser parser, charset* cs) {
    XML_SetParamEntityParsing(parser, XML_PARAM_ENTITY_PARSING_NEVER);
    XML_SetExternalEntityRefHandler(parser, &refuse_external_entity);
    if (cs) XML_SetUnknownEncodingHandler(parser, &unknown_encoding_from_tables, cs);
}

bool parse_whole(XML_Parser parser, std::string_view text) {
    constexpr std::size_t piece = INT_MAX / 2;
    do {
        std::size_t n = text.size() < piece ? text.size() : piece;
        bool last = n == text.size();
        if (XML_Parse(parser, text.data(), static_cast<int>(n), last) != XML_STATUS_OK) {
            return false;
        }
        text.remove_prefix(n);
        if (last) return true;
    } while (true);
}

} // namespace lumbrake
