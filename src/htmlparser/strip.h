// Filters that drop the content of script and style elements.
#pragma once

#include "htmlparser/htmlplug.h"

namespace lumbrake {

// Drops the element's tags and the text between its opening and closing tag.
class strip_element : public HTMLPlug {
public:
    strip_element(HTMLPlug* next, int tag_id) : HTMLPlug(next), tag_id_(tag_id) {}
    void tag(html_tag& record, bool open) override;
    void text(const char* begin, const char* end) override;
    void end() override;

private:
    int tag_id_;
    bool pass_text_ = true;
};

class StripJS : public strip_element {
public:
    explicit StripJS(HTMLPlug* next) : strip_element(next, TAG_SCRIPT) {}
};

class StripStyle : public strip_element {
public:
    explicit StripStyle(HTMLPlug* next) : strip_element(next, TAG_STYLE) {}
};

} // namespace lumbrake
