// The end of the HTML filter chain: feeds text into the FFF builder, choosing the slice of
// each run from the tags, and records links.
#pragma once

#include <map>
#include <string>
#include <string_view>

#include "util/uri.h"
#include "fff/FFFbuilder.h"
#include "htmlparser/htmlplug.h"

namespace lumbrake {

// The link URL of a raw attribute value: unquoted, trimmed of separators and controls at
// both ends, line breaks removed, resolved against base and made canonical.
std::string html_link_url(std::string_view value, const URI& base);
// The value unquoted, trimmed and without line breaks (as a base href is taken).
std::string html_trim_url(std::string_view value);

class HTMLtoFFF : public HTMLPlug {
public:
    HTMLtoFFF(FFFbuilder& builder, const std::string& document_url);
    void tag(html_tag& record, bool open) override;
    void text(const char* begin, const char* end) override;
    void end() override;

    const std::string& base_url() const { return base_url_; }

private:
    int add_link(const html_attr* attr);
    void set_base(const std::string& url);
    void feed(std::string_view text);

    FFFbuilder& builder_;
    std::string base_url_;
    URI base_; // base_url_ parsed once per change
    bool title_seen_ = false;
    // Raw attribute value to link URL under the current base (bounded).
    static constexpr std::size_t max_resolved = 4096;
    std::map<std::string, std::string, std::less<>> resolved_;
};

} // namespace lumbrake
