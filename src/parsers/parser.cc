#include "parsers/parser.h"

#include "util/log.h"
#include "util/uri.h"
#include "htmlparser/htmlparser.h"
#include "pdfparser/pdf-parser.h"
#include "parsers/docparser.h"
#include "parsers/mailparser.h"
#include "parsers/rtfparser.h"
#include "parsers/textparser.h"

namespace lumbrake {

namespace {

template <class P> std::unique_ptr<parser_base> make(const config& cfg) {
    return std::make_unique<P>(cfg);
}

using factory = std::unique_ptr<parser_base> (*)(const config&);

// Detection order (HTML, PDF, DOC, TEXT, RTF, MAIL); the first parser that recognises the
// document wins.
constexpr factory detect_order[] = {
    &make<HTMLParser>, &make<PDFParser>, &make<DOCParser>,
    &make<TEXTParser>, &make<RTFParser>, &make<MAILParser>,
};

struct mime_entry {
    const char* mime;
    factory create;
};
constexpr mime_entry by_mime[] = {
    {"text/html", &make<HTMLParser>},         {"text/plain", &make<TEXTParser>},
    {"application/pdf", &make<PDFParser>},    {"application/x-pdf", &make<PDFParser>},
    {"application/msword", &make<DOCParser>}, {"text/rtf", &make<RTFParser>},
    {"message/rfc822", &make<MAILParser>},    {"text/x-mail", &make<MAILParser>},
    // The types that servers' MIME tables give these formats.
    {"application/rtf", &make<RTFParser>},    {"application/mbox", &make<MAILParser>},
    {"application/xhtml+xml", &make<HTMLParser>},
};

} // namespace

std::string document_base_url(const std::string& url) {
    URI u(url, "http", true);
    if (u.scheme() == "google") return google_search_base;
    if (u.scheme() == "msn") return msn_search_base;
    return url;
}

bool parser::detect(int mode, const std::string& data, const std::string& name, std::string& mime,
                    std::string& charset) {
    for (factory f : detect_order)
        if (f(cfg())->detect(mode, data, name, mime, charset)) return true;
    if (mode != DETECT_NAME) return false;
    mime = "application/octet-stream";
    charset.clear();
    return true;
}

std::unique_ptr<parser_base> parser::make_parser(const std::string& mime) const {
    for (const auto& e : by_mime)
        if (mime == e.mime) return e.create(cfg());
    return nullptr;
}

void parser::parse(FFFbuilder& builder, const text_exclusion_matcher* matcher,
                   std::int32_t base_score, const std::string& url, const std::string& data,
                   const std::string& mime, const std::string& charset, parse_result& result) {
    std::string type = mime;
    std::string cs = charset;
    if (type.empty() || type == "application/octet-stream") {
        if (!detect(DETECT_CONTENT, data, url, type, cs)) detect(DETECT_NAME, data, url, type, cs);
        // A page that nobody gave a charset is decoded by its own declaration, if it has one.
        if (charset.empty() && type == "text/html") cs.clear();
    }
    if (auto p = make_parser(type)) {
        p->parse(builder, matcher, base_score, document_base_url(url), data, mime, cs, result);
    } else {
        result.status = PARSE_NOT_PARSED;
        result.document.reset();
        result.status = PARSE_UNKNOWN_TYPE;
        result.error = "unknown content type '" + mime + "'";
    }
    TN_LOG(LF_WORKERPARSERS, LL_DEBUG, "status " << result.status);
}

} // namespace lumbrake
