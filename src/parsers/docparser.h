// The parser of Word documents: the body into the central slice, the title into the title slice.
#pragma once

#include "parserbase/parser_base.h"

namespace lumbrake {

namespace wvadapter {
class Parser;
}

class DOCParser : public parser_base {
public:
    static constexpr const char* parse_error = "MSWord document could not be parsed";

    explicit DOCParser(const config& cfg) : parser_base(cfg) {}

    void parse(FFFbuilder& builder, const text_exclusion_matcher* matcher, std::int32_t base_score,
               const std::string& url, const std::string& data, const std::string& mime,
               const std::string& charset, parse_result& result) override;
    // Content: the compound-file signature or a legacy Word signature in the first 8 bytes;
    // names ending ".doc" or ".DOC".
    bool detect(int mode, const std::string& data, const std::string& name, std::string& mime,
                std::string& charset) override;

    // Installs the handlers on an opened document, feeds its title (slice 15) and its text
    // (slice 10) into the builder, and tells whether the document was read to its end.
    static bool feed(wvadapter::Parser& document, FFFbuilder& builder);
};

} // namespace lumbrake
