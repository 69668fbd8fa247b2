#include "htmlparser/htmlparser.h"

#include "util/codecs.h"
#include "fff/FFFbuilder.h"
#include "fff/markers.h"
#include "fff/text_exclusion.h"
#include "htmlparser/html2fff.h"
#include "htmlparser/htmlscanner.h"
#include "htmlparser/strip.h"
#include "htmlparser/tagcleaner.h"
#include "htmlparser/textscanner.h"

namespace lumbrake {

bool HTMLParser::detect(int mode, const std::string&, const std::string& name, std::string& mime,
                        std::string& charset) {
    if (mode != DETECT_NAME) return false;
    if (!has_suffix(name, {".html", ".HTML", ".htm", ".HTM"})) return false;
    mime = "text/html";
    if (charset.empty()) charset = "iso-8859-1";
    return true;
}

void HTMLParser::parse(FFFbuilder& builder, const text_exclusion_matcher* matcher, std::int32_t,
                       const std::string& url, const std::string& data, const std::string&,
                       const std::string& charset, parse_result& result) {
    result.status = PARSE_NOT_PARSED;
    result.document.reset();

    std::string kept;
    std::string_view text = data;
    if (matcher) {
        int excluded = 0;
        std::string error;
        // A matcher that fails leaves the page whole rather than losing it.
        if (matcher->apply(data, excluded, kept, error)) text = kept;
    }

    // The HTTP header's charset wins; else a declaration near the start of the page applies
    // to the whole page (a title before it is decoded with it too); else ISO-8859-1, and a
    // later declaration switches from where it stands.
    std::string effective = charset;
    if (effective.empty() || !set_input_charset(effective)) {
        const std::string declared = prescan_charset(text);
        if (!declared.empty()) effective = declared;
        else if (effective.empty()) effective = std::string(decoding_charset(""));
        // A label nobody knows decodes seven-bit, as before.
        set_input_charset(effective);
    }
    const bool fixed = !charset.empty() || effective != decoding_charset("");

    // Multi-byte charsets of the C library are decoded to UTF-8 before the page is scanned:
    // some (ISO-2022-JP) put "<" and "&" inside characters, and stateful ones must be read in
    // order from the start.
    std::string decoded;
    if (input_charset().kind() == charset::ICONV) {
        decoded.reserve(text.size() + text.size() / 2);
        std::size_t i = 0;
        while (i < text.size()) {
            bool valid = false;
            const code_point c = next_code_point_at(text, i, valid);
            if (valid) utf8_append(c, decoded);
        }
        text = decoded;
        set_input_charset("utf-8");
    }

    HTMLtoFFF to_fff(builder, url);
    HTMLTextScanner text_scanner(&to_fff);
    if (fixed) text_scanner.fix_charset();
    HTMLTagCleaner cleaner(&text_scanner);
    StripStyle strip_style(&cleaner);
    StripJS strip_js(&strip_style);
    HTMLScanner scanner(text.data(), text.size(), &strip_js);
    scanner.run();
    mark_central_content(*builder.document);

    result.status = PARSE_OK;
    result.mime = "text/html";
    result.charset = effective;
}

} // namespace lumbrake
