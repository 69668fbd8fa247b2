// Drops the regions of a text between a begin and an end marker (POSIX extended regexes).
#pragma once

#include <regex.h>

#include <memory>
#include <string>
#include <string_view>

namespace lumbrake {

class text_exclusion_matcher {
public:
    // Both patterns empty: nothing is compiled and apply keeps the text. On a pattern that
    // does not compile, ok is false and error names the expression.
    text_exclusion_matcher(const std::string& begin_pattern, const std::string& end_pattern,
                           std::string& error, bool& ok);

    // kept: the text without the excluded regions and their markers; excluded: the number of
    // regions dropped (an unterminated one runs to the end). False on a matching error.
    bool apply(std::string_view text, int& excluded, std::string& kept, std::string& error) const;

private:
    struct regex_free {
        void operator()(regex_t* re) const {
            regfree(re);
            delete re;
        }
    };
    using regex_ptr = std::unique_ptr<regex_t, regex_free>;

    regex_ptr begin_;
    regex_ptr end_;
};

} // namespace lumbrake
