// The docmill command line: options in a fixed order, then three or six positionals.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

struct docmill_options {
    bool output_words = false; // accepted and ignored
    bool has_fff_file = false;
    std::string fff_file;
    std::string configdir;
    std::int32_t source_id = 0;
    std::string text_exclusion_begin;
    std::string text_exclusion_end;
    std::int32_t file_mode = 0; // 0: fetch the url; 1: read file_name
    std::string file_name;
    std::int32_t base_score = 0;
    std::string docid;
    std::string url;
    std::string mimetype;
    std::string charset;
};

// The usage text, every line ended by a newline.
extern const char* const docmill_usage_text;

// args holds the whole argument vector, the program name first. False when the usage applies:
// a wrong number of positionals, or "--source=" before any "--configdir=".
bool parse_docmill_args(const std::vector<std::string>& args, docmill_options& options);

// A decimal number as C's atoi reads it on this platform: leading blanks, a sign, the digits up
// to the first other byte; 0 without digits; out-of-range values wrap to 32 bits.
std::int32_t atoi32(const std::string& text);

} // namespace lumbrake
