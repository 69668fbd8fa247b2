// Repairs the nesting of tags: implicit closes, misnested inline elements, dropped tags.
#pragma once

#include <cstdint>
#include <vector>

#include "htmlparser/htmlplug.h"

namespace lumbrake {

class HTMLTagCleaner : public HTMLPlug {
public:
    static constexpr int max_depth = 1024;

    explicit HTMLTagCleaner(HTMLPlug* next);
    void tag(html_tag& record, bool open) override;
    void text(const char* begin, const char* end) override;
    void end() override;

    int depth() const { return depth_; }

private:
    struct entry {
        html_tag record;
        std::uint8_t props;
    };

    bool is_open(int tag_id) const { return open_set_[tag_id - TAG_FIRST]; }
    bool has_entry(int tag_id) const { return entries_[tag_id - TAG_FIRST] > 0; }
    // Removes entry k (moving the ones above down), clears its open bit and sends its closing
    // event.
    void close_entry(int k);
    // Pops and closes entries from the top while their class is at least cls.
    void pop_from(int cls);

    // Grows as deep as the page nests, up to max_depth entries (records are large).
    std::vector<entry> stack_;
    int depth_ = 0;
    // Per tag id: whether a closing tag of it is honoured. Set when an entry is pushed and
    // cleared when one is removed, even while an older entry of the id stays further down
    // (the enclosing blocks or the end close that one); a tag that may nest stays open while
    // it has entries.
    bool open_set_[TAG_LAST - TAG_FIRST + 1] = {};
    // Per tag id: the entries on the stack, so that looking for one costs nothing when none is.
    std::uint16_t entries_[TAG_LAST - TAG_FIRST + 1] = {};
};

} // namespace lumbrake
