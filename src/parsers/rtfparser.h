// The parser of Rich Text Format documents: body text into the central slices (emphasised
// text into 11), the information group's author, keywords, subject and title into their slices.
#pragma once

#include "parserbase/parser_base.h"

namespace lumbrake {

class RTFParser : public parser_base {
public:
    // Entries of the group stack; a document nesting deeper is refused.
    static constexpr int max_depth = 1024;
    static constexpr const char* parse_error = "RTF document could not be parsed";

    explicit RTFParser(const config& cfg) : parser_base(cfg) {}

    void parse(FFFbuilder& builder, const text_exclusion_matcher* matcher, std::int32_t base_score,
               const std::string& url, const std::string& data, const std::string& mime,
               const std::string& charset, parse_result& result) override;
    // Content "{\rtf1" at the start; names ending ".rtf" or ".RTF".
    bool detect(int mode, const std::string& data, const std::string& name, std::string& mime,
                std::string& charset) override;
};

} // namespace lumbrake
