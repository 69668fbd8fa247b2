#include "cpmodel/filter-expression.h"

#include <regex.h>

#include <string>

namespace lumbrake {

bool filter_expression_compiles(std::string_view expression) {
    if (expression.find('\0') != std::string_view::npos) return false;
    const std::string text(expression);
    regex_t re;
    if (regcomp(&re, text.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB) != 0) return false;
    regfree(&re);
    return true;
}

} // namespace lumbrake
