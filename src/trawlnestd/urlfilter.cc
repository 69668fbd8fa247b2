#include "trawlnestd/urlfilter.h"

#include "api/api-types.h"

#include <deque>

namespace lumbrake {

url_filter::url_filter(const SourceConfiguration& source) {
    compile_all(source.IncludeFilters, include_);
    compile_all(source.ExcludeFilters, exclude_);
}

url_filter::~url_filter() = default;

std::shared_ptr<const url_filter> url_filter::for_source(const SourceConfiguration& source) {
    struct entry {
        std::vector<std::string> include, exclude;
        std::shared_ptr<const url_filter> filter;
    };
    // A crawl thread works on few sources at a time; past this many the oldest goes.
    constexpr std::size_t max_entries = 16;
    thread_local std::deque<entry> kept;
    for (const entry& e : kept)
        if (e.include == source.IncludeFilters && e.exclude == source.ExcludeFilters)
            return e.filter;
    if (kept.size() >= max_entries) kept.pop_front();
    auto filter = std::make_shared<const url_filter>(source);
    kept.push_back(entry{source.IncludeFilters, source.ExcludeFilters, filter});
    return filter;
}

void url_filter::compile_all(const std::vector<std::string>& patterns, pattern_list& out) {
    for (const std::string& p : patterns) {
        auto c = std::make_unique<compiled>();
        // A pattern that does not compile leaves nothing to free and is dropped.
        c->ok = regcomp(&c->re, p.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB) == 0;
        if (c->ok) out.push_back(std::move(c));
    }
}

bool url_filter::any_matches(const pattern_list& list, const std::string& url) {
    for (const auto& c : list) {
        // REG_STARTEND makes the search cover the whole text, even past an embedded NUL, so
        // such a URL cannot slip by an exclude pattern.
        regmatch_t range[1];
        range[0].rm_so = 0;
        range[0].rm_eo = static_cast<regoff_t>(url.size());
        if (regexec(&c->re, url.c_str(), 1, range, REG_STARTEND) == 0) return true;
    }
    return false;
}

bool url_filter::matches(const std::string& url) const {
    if (any_matches(exclude_, url)) return false;
    if (include_.empty()) return false;
    return any_matches(include_, url);
}

} // namespace lumbrake
