#include "htmlparser/tagcleaner.h"

namespace lumbrake {

HTMLTagCleaner::HTMLTagCleaner(HTMLPlug* next) : HTMLPlug(next) {}

void HTMLTagCleaner::close_entry(int k) {
    html_tag closed;
    closed.copy_from(stack_[k].record);
    open_set_[closed.tag_id - TAG_FIRST] = false;
    --entries_[closed.tag_id - TAG_FIRST];
    for (int j = k + 1; j < depth_; ++j) {
        stack_[j - 1].record.copy_from(stack_[j].record);
        stack_[j - 1].props = stack_[j].props;
    }
    --depth_;
    next_->tag(closed, false);
}

void HTMLTagCleaner::pop_from(int cls) {
    while (depth_ > 0 && tag_class(stack_[depth_ - 1].props) >= cls)
        close_entry(depth_ - 1);
}

void HTMLTagCleaner::tag(html_tag& record, bool open) {
    const std::uint8_t p = tag_properties(record.tag_id);
    const int c = tag_class(p);
    if (c == TAG_CLASS_DROPPED) return;
    const bool tracked = (p & TAGP_TRACKED) != 0;
    const bool may_nest = (p & TAGP_MAY_NEST) != 0;

    if (open) {
        if (class_is_inline(c)) {
            // An inline tag closes only an open tag of its own kind within its class range
            // (nothing to look for when none is open or the tag may nest).
            if (!may_nest && has_entry(record.tag_id)) {
                for (int k = depth_ - 1; k >= 0 && tag_class(stack_[k].props) >= c; --k) {
                    if (stack_[k].record.tag_id == record.tag_id) {
                        close_entry(k);
                        break;
                    }
                }
            }
        } else {
            pop_from(c);
        }
        if (tracked && depth_ >= max_depth) {
            // Too deep to keep: sent as an empty element, so that whatever the next plugs
            // start at the opening is ended at once instead of never.
            next_->tag(record, true);
            next_->tag(record, false);
            return;
        }
        if (tracked) {
            if (depth_ == int(stack_.size())) stack_.emplace_back();
            stack_[depth_].record.copy_from(record);
            stack_[depth_].props = p;
            ++depth_;
            open_set_[record.tag_id - TAG_FIRST] = true;
            ++entries_[record.tag_id - TAG_FIRST];
        }
        next_->tag(record, true);
        return;
    }

    if (!tracked || !is_open(record.tag_id)) return;
    if (class_is_inline(c)) {
        pop_from(c + 1);
        int k = depth_ - 1;
        while (k >= 0 && stack_[k].record.tag_id != record.tag_id)
            --k;
        if (k < 0) return;
        // Close the inner elements around the closing tag and open them again after it.
        for (int j = depth_ - 1; j > k; --j) {
            html_tag inner;
            inner.copy_from(stack_[j].record);
            next_->tag(inner, false);
        }
        --entries_[record.tag_id - TAG_FIRST];
        // A tag that may nest stays open while another of its entries remains.
        open_set_[record.tag_id - TAG_FIRST] = may_nest && has_entry(record.tag_id);
        next_->tag(record, false);
        for (int j = k + 1; j < depth_; ++j) {
            stack_[j - 1].record.copy_from(stack_[j].record);
            stack_[j - 1].props = stack_[j].props;
            html_tag inner;
            inner.copy_from(stack_[j - 1].record);
            next_->tag(inner, true);
        }
        --depth_;
        return;
    }
    while (depth_ > 0 && stack_[depth_ - 1].record.tag_id != record.tag_id)
        close_entry(depth_ - 1);
    if (depth_ == 0) return;
    --depth_;
    open_set_[record.tag_id - TAG_FIRST] = false;
    --entries_[record.tag_id - TAG_FIRST];
    next_->tag(record, false);
}

void HTMLTagCleaner::text(const char* begin, const char* end) {
    next_->text(begin, end);
}

void HTMLTagCleaner::end() {
    while (depth_ > 0)
        close_entry(depth_ - 1);
    next_->end();
}

} // namespace lumbrake
