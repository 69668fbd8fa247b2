#include "parsers/textparser.h"

#include "util/codecs.h"
#include "fff/FFFbuilder.h"

namespace lumbrake {

bool TEXTParser::detect(int mode, const std::string&, const std::string& name, std::string& mime,
                        std::string& charset) {
    if (mode != DETECT_NAME) return false;
    if (!has_suffix(name, {".txt", ".TXT", ".log", ".LOG", ".text", ".TEXT"})) return false;
    mime = "text/plain";
    if (charset.empty()) charset = "iso-8859-1";
    return true;
}

void TEXTParser::parse(FFFbuilder& builder, const text_exclusion_matcher*, std::int32_t,
                       const std::string&, const std::string& data, const std::string&,
                       const std::string& charset, parse_result& result) {
    result.status = PARSE_NOT_PARSED;
    result.document.reset();

    set_input_charset(decoding_charset(charset));
    builder.push_dict(FFF::centralNormDict);
    const std::string_view text = data;
    std::size_t index = 0;
    int n = 0; // code points since the last line break
    bool after_cr = false;
    while (index < text.size()) {
        bool valid = false;
        code_point c = next_code_point_at(text, index, valid);
        if (!valid) continue; // dropped without ending a word
        if (c == '\n' || c == '\r') {
            // CR LF is one line break; a short line is a paragraph of its own.
            if (!(c == '\n' && after_cr) && n < short_line) builder.end_paragraph();
            n = 0;
        } else {
            ++n;
        }
        after_cr = c == '\r';
        builder.add_char(c);
    }
    builder.pop_dict();
    builder.end_paragraph();

    result.status = PARSE_OK;
    result.mime = "text/plain";
    result.charset = decoding_charset(charset);
}

} // namespace lumbrake
