// The parser that chooses the real parser: by content and name when the MIME type is
// unknown, then by MIME type.
#pragma once

#include "parserbase/parser_base.h"

namespace lumbrake {

class parser : public parser_base {
public:
    explicit parser(const config& cfg) : parser_base(cfg) {}

    void parse(FFFbuilder& builder, const text_exclusion_matcher* matcher, std::int32_t base_score,
               const std::string& url, const std::string& data, const std::string& mime,
               const std::string& charset, parse_result& result) override;
    // Asks every parser kind in turn; in name mode an unknown name gives
    // "application/octet-stream" with an empty charset (and true).
    bool detect(int mode, const std::string& data, const std::string& name, std::string& mime,
                std::string& charset) override;

    // The parser for an exact (case-sensitive) MIME type, or null.
    std::unique_ptr<parser_base> make_parser(const std::string& mime) const;
};

// Result links of the two web-search pseudo-schemes resolve against these endpoints.
inline constexpr const char* google_search_base = "http://www.google.com/search";
inline constexpr const char* msn_search_base = "http://search.msn.com/results.aspx";

// The URL that a document's links resolve against.
std::string document_base_url(const std::string& url);

} // namespace lumbrake
