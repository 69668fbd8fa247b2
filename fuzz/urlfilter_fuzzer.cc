// The URL filter over hostile URLs (outgoing links of crawled pages): no crash, no over-read,
// whatever bytes the URL holds, embedded NULs included.
#include <cstddef>
#include <cstdint>
#include <string>

#include "api/api-types.h"
#include "trawlnestd/urlfilter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const lumbrake::url_filter* filter = [] {
        lumbrake::SourceConfiguration source;
        source.IncludeFilters = {"^https?://([a-z0-9-]+\\.)*example\\.(com|org)(:[0-9]+)?/",
                                 "/docs/.*\\.(html?|pdf)$", "[[:alpha:]]+[0-9]{2,5}", "(a|b)*c",
                                 "(unbalanced"};
        source.ExcludeFilters = {"\\?.*sessionid=", "/private/", "(x+x+)+y", "[z-a]"};
        return new lumbrake::url_filter(source);
    }();
    std::string url(reinterpret_cast<const char*>(data), size);
    volatile bool result = filter->matches(url);
    (void)result;
    return 0;
}
