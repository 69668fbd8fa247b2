#include "api/api-typeutils.h"

#include "util/escape.h"
#include "util/log.h"
#include "util/xmlreader.h"

#include <expat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>

namespace lumbrake {

xml_record_writer::xml_record_writer(std::string& out) : out_(out) {
    out_.clear();
    out_ += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
}

xml_record_writer& xml_record_writer::start(int depth, std::string_view name) {
    out_.append(static_cast<std::size_t>(depth < 0 ? 0 : depth), '\t');
    out_ += '<';
    out_ += name;
    element_ = name;
    return *this;
}

void xml_record_writer::check(std::string_view value, std::string_view where) {
    if (!error_.empty()) return;
    std::string why;
    if (!xml_text_writable(value, why)) {
        error_ = std::string(where) + " holds " + why;
    }
}

xml_record_writer& xml_record_writer::text_attr(std::string_view name, std::string_view value) {
    check(value, "attribute " + std::string(name) + " of <" + element_ + ">");
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    out_ += xml_escape(value);
    out_ += '"';
    return *this;
}

xml_record_writer& xml_record_writer::int_attr(std::string_view name, int64_t value) {
    return token(name, std::to_string(value));
}

xml_record_writer& xml_record_writer::bool_attr(std::string_view name, bool value) {
    return token(name, value ? "true" : "false");
}

xml_record_writer& xml_record_writer::token(std::string_view name, std::string_view token) {
    out_ += ' ';
    out_ += name;
    out_ += "=\"";
    out_ += token;
    out_ += '"';
    return *this;
}

void xml_record_writer::empty(bool blank_before_slash) {
    out_ += blank_before_slash ? " />\n" : "/>\n";
}

void xml_record_writer::open() {
    out_ += ">\n";
}

void xml_record_writer::open_inline() {
    out_ += '>';
}

void xml_record_writer::text(std::string_view value) {
    check(value, "the text of <" + element_ + ">");
    out_ += xml_escape(value);
}

void xml_record_writer::raw(std::string_view bytes) {
    out_ += bytes;
}

void xml_record_writer::close(int depth, std::string_view name) {
    out_.append(static_cast<std::size_t>(depth < 0 ? 0 : depth), '\t');
    out_ += "</";
    out_ += name;
    out_ += ">\n";
}

void xml_record_writer::acl(const std::vector<AccessSpec>& acl) {
    for (const AccessSpec& entry : acl) {
        start(1, "acl")
            .text_attr("name", entry.Name)
            .token("access", entry.Access == WRITEACCESS ? "write" : "read")
            .bool_attr("deny", entry.Deny)
            .empty();
    }
}

bool xml_record_writer::finish(std::string_view record, std::string* error) {
    if (error) error->clear();
    if (error_.empty()) return true;
    std::string message = "Cannot write " + std::string(record) + " record: " + error_;
    TN_LOG(LF_API, LL_ERROR, message);
    if (error) *error = message;
    out_.clear();
    return false;
}

const std::string& xml_attr(const xml_attr_map& attrs, std::string_view name) {
    static const std::string none;
    auto it = attrs.find(name);
    return it == attrs.end() ? none : it->second;
}

namespace {

// strtol over a bounded copy (the view need not be NUL-terminated), saturated to int32.
bool parse_long(std::string_view text, long& value, bool& any_digits) {
    std::string copy(text.substr(0, text.find('\0')));
    char* end = nullptr;
    errno = 0;
    value = std::strtol(copy.c_str(), &end, 10);
    any_digits = end != copy.c_str();
    if (value > INT32_MAX) value = INT32_MAX;
    if (value < INT32_MIN) value = INT32_MIN;
    return any_digits;
}

} // namespace

int32_t xml_atoi(std::string_view text) {
    long value = 0;
    bool digits = false;
    parse_long(text, value, digits);
    return digits ? static_cast<int32_t>(value) : 0;
}

bool xml_decimal(std::string_view text, int32_t& value) {
    long parsed = 0;
    bool digits = false;
    if (!parse_long(text, parsed, digits)) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

bool acl_entry_from_attrs(const xml_attr_map& attrs, AccessSpec& entry, std::string& message) {
    const std::string& access = xml_attr(attrs, "access");
    const std::string& deny = xml_attr(attrs, "deny");
    AccessSpec parsed;
    parsed.Name = xml_attr(attrs, "name");
    if (access == "read") {
        parsed.Access = READACCESS;
    } else if (access == "write") {
        parsed.Access = WRITEACCESS;
    } else {
        message = "Unknown ACL access " + access;
        return false;
    }
    if (deny == "true") {
        parsed.Deny = true;
    } else if (deny == "false") {
        parsed.Deny = false;
    } else {
        message = "Unknown ACL deny value " + deny;
        return false;
    }
    entry = std::move(parsed);
    return true;
}

void read_acl_entry(const xml_attr_map& attrs, std::vector<AccessSpec>& acl) {
    AccessSpec entry;
    std::string message;
    if (acl_entry_from_attrs(attrs, entry, message))
        acl.push_back(std::move(entry));
    else
        TN_LOG(LF_API, LL_ERROR, message);
}

bool xml_record_reader::parse(const char* text, std::size_t length) {
    std::unique_ptr<XML_ParserStruct, decltype(&XML_ParserFree)> parser(start_parser(),
                                                                        &XML_ParserFree);
    if (!parser) return false;
    return parse_whole(parser.get(), text, length);
}

xml_record_reader::~xml_record_reader() {
    if (parser_) XML_ParserFree(parser_);
}

XML_ParserStruct* xml_record_reader::start_parser() {
    XML_Parser p = XML_ParserCreate(nullptr);
    if (!p) return nullptr;
    XML_SetUserData(p, this);
    XML_SetElementHandler(p, &xml_record_reader::on_start, &xml_record_reader::on_end);
    XML_SetCharacterDataHandler(p, &xml_record_reader::on_chars);
    guard_xml_parser(p);
    return p;
}

bool xml_record_reader::feed(const char* bytes, std::size_t length, bool last) {
    if (failed_) return false;
    if (!parser_) parser_ = start_parser();
    if (!parser_) {
        failed_ = true;
        return false;
    }
    XML_Parser p = parser_;
    // expat takes int lengths: a long piece goes in parts, only the last of them final.
    constexpr std::size_t most = INT_MAX / 2;
    do {
        const std::size_t n = length < most ? length : most;
        const bool final_part = last && n == length;
        if (XML_Parse(p, bytes, static_cast<int>(n), final_part) != XML_STATUS_OK) failed_ = true;
        bytes += n;
        length -= n;
    } while (!failed_ && length > 0);
    if (failed_ || last) {
        XML_ParserFree(p);
        parser_ = nullptr;
    }
    return !failed_;
}

void xml_record_reader::on_start(void* user, const char* name, const char** atts) {
    xml_attr_map attrs;
    for (int i = 0; atts[i] && atts[i + 1]; i += 2)
        attrs.emplace(atts[i], atts[i + 1]);
    static_cast<xml_record_reader*>(user)->start_element(name, attrs);
}

void xml_record_reader::on_end(void* user, const char* name) {
    static_cast<xml_record_reader*>(user)->end_element(name);
}

void xml_record_reader::on_chars(void* user, const char* bytes, int length) {
    static_cast<xml_record_reader*>(user)->character_data(bytes, length);
}

} // namespace lumbrake
