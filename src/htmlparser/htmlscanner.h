// Cuts a raw page into tag records and text pieces for the filter chain.
#pragma once

#include <cstddef>

#include "htmlparser/htmlplug.h"

namespace lumbrake {

// Reads each byte a bounded number of times and never recurses, whatever the nesting.
class HTMLScanner {
public:
    // The first plug is not owned; text must stay valid during run().
    HTMLScanner(const char* text, std::size_t length, HTMLPlug* first);

    // Scans to the end; sends tag and text events and finally end.
    void run();

private:
    enum mode_t { NORMAL, SCRIPT, STYLE };

    // At a "<" that starts markup; returns the position after it.
    std::size_t scan_markup(std::size_t p);
    // From just after a tag name; fills and sends the pending tag, returns the position after.
    std::size_t scan_tag_body(std::size_t p);
    // In script or style mode: the position of the end tag's "<", or the length.
    std::size_t find_raw_end(std::size_t p, bool script) const;
    void add_attr(int id, const char* vb, const char* ve);
    void send_tag();
    void send_text(std::size_t from, std::size_t to);

    const char* s_;
    std::size_t n_;
    std::size_t pos_ = 0;
    HTMLPlug* first_;

    html_tag tag_;
    bool tag_open_ = true;
    mode_t mode_ = NORMAL;
};

} // namespace lumbrake
