// The parser of Internet mail messages: sender, recipients and subject into the builder, every
// readable body part through a nested parser dispatch into the same document.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "util/httphead.h"
#include "parserbase/parser_base.h"

namespace lumbrake {

class MAILParser : public parser_base {
public:
    // Parts and attached messages nested deeper than this are not read: the nesting costs a
    // pass over the enclosing body per level, so it must stay bounded.
    static constexpr int max_nesting = 32;

    explicit MAILParser(const config& cfg) : parser_base(cfg) {}

    void parse(FFFbuilder& builder, const text_exclusion_matcher* matcher, std::int32_t base_score,
               const std::string& url, const std::string& data, const std::string& mime,
               const std::string& charset, parse_result& result) override;
    // Names ending ".eml", ".EML", ".mime" or ".MIME"; the content is never judged.
    bool detect(int mode, const std::string& data, const std::string& name, std::string& mime,
                std::string& charset) override;

    // Feeds the text, decoded as ISO-8859-1, into the slice and ends the sentence.
    static void add_header_text(const std::string& text, FFFbuilder& builder, int slice);
};

// The header block of one message text. Returns false when the block does not end with an
// empty line (a line of another shape, or the end of the text): the message has no body.
bool read_mail_header(std::string_view text, header_fields& header, std::string_view& body);

// A header field's value as UTF-8: encoded words ("=?charset?B?...?=" and "=?charset?Q?...?=")
// decoded with their charset (any the charset decoder knows; an unknown one stays as written),
// blanks between two encoded words dropped, the rest read as ISO-8859-1.
std::string decode_header_value(std::string_view value);

// The parts between the boundary lines "--" + boundary, without preamble and epilogue.
std::vector<std::string_view> split_multipart(std::string_view body, std::string_view boundary);

// Quoted-printable: "=XX" is a byte, "=" before a line break a soft break, "=" with any other
// byte is dropped with it.
std::string decode_quoted_printable(std::string_view text);

// Base64 with every byte of the result: characters outside the alphabet are skipped, "=" is
// a zero digit and padding, and a group with padding ends the data.
std::string decode_base64_body(std::string_view text);

// Drops one pair of double quotes around the value, then one pair of single quotes.
std::string unquote_parameter(std::string value);

} // namespace lumbrake
