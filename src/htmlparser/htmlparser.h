// The parser of "text/html" documents: one pass through a chain of filters, no tree.
#pragma once

#include "parserbase/parser_base.h"

namespace lumbrake {

class HTMLParser : public parser_base {
public:
    explicit HTMLParser(const config& cfg) : parser_base(cfg) {}

    void parse(FFFbuilder& builder, const text_exclusion_matcher* matcher, std::int32_t base_score,
               const std::string& url, const std::string& data, const std::string& mime,
               const std::string& charset, parse_result& result) override;
    // Names ending ".html", ".HTML", ".htm" or ".HTM".
    bool detect(int mode, const std::string& data, const std::string& name, std::string& mime,
                std::string& charset) override;
};

} // namespace lumbrake
