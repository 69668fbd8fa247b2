// Repairs the nesting of tags: implicit closes, misnested inline elements, dropped tags.
#pragma once

#include <cstdint>
#include <vector>

#include "worker/parsers/HTMLparser/htmlplug.h"

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

    bool is_open(int tag_id) const { return open_count_[tag_id - TAG_FIRST] > 0; }
    // Removes entry k (moving the ones above down) and sends its closing event.
    void close_entry(int k);
    // Pops and closes entries from the top while their class is at least cls.
    void pop_from(int cls);

    // Grows as deep as the page nests, up to max_depth entries (records are large).
    std::vector<entry> stack_;
    int depth_ = 0;
    // Entries on the stack per tag id: a tag counts as open while it has one.
    std::uint16_t open_count_[TAG_LAST - TAG_FIRST + 1] = {};
};

} // namespace lumbrake
