// Decoding of HTML text and attribute values: character references and the page's charset.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "htmlparser/htmlplug.h"

namespace lumbrake {

// Sends the decoded text of [begin, end) to out as text pieces (never tag or end). Runs of
// ASCII bytes are passed as ranges of the input; references and bytes from 0x80 up (decoded
// with the process-wide input charset) are sent UTF-8 encoded. Nothing past end is read.
void html_text_scan(const char* begin, const char* end, HTMLPlug& out);

// The value of a numeric reference: saturated while accumulating; a value above U+10FFFF or
// a surrogate gives U+FFFD.
std::uint32_t html_numeric_reference_value(const char* digits, const char* end, bool hex);

// Collects the pieces that html_text_scan sends for one attribute value.
class tagplug : public HTMLPlug {
public:
    explicit tagplug(std::string& store) : HTMLPlug(nullptr), store_(&store) {}
    void tag(html_tag& record, bool open) override;
    void text(const char* begin, const char* end) override;
    void end() override;

private:
    std::string* store_;
};

// Decodes text and attribute values, and follows a charset named by a meta element.
class HTMLTextScanner : public HTMLPlug {
public:
    explicit HTMLTextScanner(HTMLPlug* next) : HTMLPlug(next), collector_(store_) {}
    // A charset that the HTTP header or a declaration near the start of the page gave: a
    // later Content-Type meta then changes nothing.
    void fix_charset() { charset_fixed_ = true; }
    void tag(html_tag& record, bool open) override;
    void text(const char* begin, const char* end) override;
    void end() override;

private:
    // Decoded values of the tag being passed on; they live until the next tag event.
    std::string store_;
    tagplug collector_;
    html_tag copy_;
    struct replaced_value {
        int index;
        std::size_t start, length;
    };
    std::vector<replaced_value> replaced_;
    bool charset_fixed_ = false;
};

// The charset that a declaration near the start of a page names, as browsers look for it:
// `<meta charset="...">` or `<meta http-equiv="Content-Type" content="...; charset=...">` within
// the first 1024 bytes (comments skipped). Empty when there is none. Lower case.
std::string prescan_charset(std::string_view page);

// Removes one pair of enclosing double or single quotes (values of two bytes or more).
std::string_view html_unquote(std::string_view value);

} // namespace lumbrake
