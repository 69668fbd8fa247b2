// Decides whether a URL belongs to a source: the source's exclude patterns veto, then one of
// its include patterns must match. Patterns are POSIX extended regular expressions, matched
// case-insensitively as unanchored searches over the URL text as given.
#pragma once

#include <regex.h>

#include <memory>
#include <string>
#include <vector>

namespace lumbrake {

struct SourceConfiguration;

class url_filter {
public:
    // Compiles the include patterns and then the exclude patterns, in order. A pattern that
    // does not compile is dropped; the others stay.
    explicit url_filter(const SourceConfiguration& source);
    ~url_filter();
    url_filter(const url_filter&) = delete;
    url_filter& operator=(const url_filter&) = delete;

    // False when an exclude pattern matches or no include pattern does (a source without
    // include patterns accepts nothing).
    bool matches(const std::string& url) const;

    // The filter of the source's patterns, compiled once and reused by the calling thread for
    // as long as its sources' patterns stay the same: looked up by the pattern lists
    // themselves, so a source whose patterns changed gets a filter of its new ones at once.
    // Per thread, because the regex library serialises matches of one compiled expression.
    static std::shared_ptr<const url_filter> for_source(const SourceConfiguration& source);

private:
    struct compiled {
        regex_t re{};
        bool ok = false;
        ~compiled() {
            if (ok) regfree(&re);
        }
    };
    using pattern_list = std::vector<std::unique_ptr<compiled>>;

    static void compile_all(const std::vector<std::string>& patterns, pattern_list& out);
    static bool any_matches(const pattern_list& list, const std::string& url);

    pattern_list include_;
    pattern_list exclude_;
};

} // namespace lumbrake
