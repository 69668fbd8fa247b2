// The parser of plain text: every line into the central slice, short lines end paragraphs.
#pragma once

#include "parserbase/parser_base.h"

namespace lumbrake {

class TEXTParser : public parser_base {
public:
    // A line of fewer code points than this ends its paragraph.
    static constexpr int short_line = 50;

    explicit TEXTParser(const config& cfg) : parser_base(cfg) {}

    void parse(FFFbuilder& builder, const text_exclusion_matcher* matcher, std::int32_t base_score,
               const std::string& url, const std::string& data, const std::string& mime,
               const std::string& charset, parse_result& result) override;
    // Names ending ".txt", ".TXT", ".log", ".LOG", ".text" or ".TEXT".
    bool detect(int mode, const std::string& data, const std::string& name, std::string& mime,
                std::string& charset) override;
};

} // namespace lumbrake
