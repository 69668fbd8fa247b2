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

    HTMLtoFFF to_fff(builder, url);
    HTMLTextScanner text_scanner(&to_fff);
    HTMLTagCleaner cleaner(&text_scanner);
    StripStyle strip_style(&cleaner);
    StripJS strip_js(&strip_style);
    HTMLScanner scanner(text.data(), text.size(), &strip_js);

    set_input_charset(decoding_charset(charset));
    scanner.run();
    mark_central_content(*builder.document);

    result.status = PARSE_OK;
    result.mime = "text/html";
    result.charset = charset;
}

} // namespace lumbrake
