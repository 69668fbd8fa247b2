#include "htmlparser/strip.h"

namespace lumbrake {

void strip_element::tag(html_tag& record, bool open) {
    if (record.tag_id == tag_id_) {
        pass_text_ = !open;
        return;
    }
    next_->tag(record, open);
}

void strip_element::text(const char* begin, const char* end) {
    if (pass_text_) next_->text(begin, end);
}

void strip_element::end() {
    next_->end();
}

} // namespace lumbrake
