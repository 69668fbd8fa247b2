#include "fff/fff2html.h"

#include "util/escape.h"
#include "fff/fff2xml.h"

namespace lumbrake {

void fff2htmlVisitor::visit(const FFF::tXMLTree* node, int /*depth*/, bool leaving) {
    if (auto* root = dynamic_cast<const FFF::DocumentData*>(node)) {
        if (!leaving) {
            root_ = root;
            current_ = &body_;
            return;
        }
        out_ << "<html>\n"
             << "<head><title>" << title_ << "</title><meta name=\"trawlnest-score\" content=\""
             << score_text(root->score) << "\" /></head>\n"
             << "<body>\n"
             << "<b>" << title_ << "</b><br />\n"
             << body_ << "</body>\n"
             << "</html>\n";
    } else if (dynamic_cast<const FFF::Contents*>(node)) {
        // nothing
    } else if (dynamic_cast<const FFF::P*>(node)) {
        if (leaving) *current_ += ' ';
    } else if (dynamic_cast<const FFF::S*>(node)) {
        *current_ += leaving ? "</p>\n" : "<p>";
    } else if (auto* low = dynamic_cast<const FFF::Low*>(node)) {
        bool link = FFF::is_link_slice(low->dictid);
        if (!leaving) {
            if (link) {
                // The link URL is crawled data: escaped, so a quote or "<" cannot leave the
                // attribute; a link id outside the root's table gives no anchor.
                anchor_open_ = false;
                if (root_ && low->urlid >= 0 &&
                    static_cast<std::size_t>(low->urlid) < root_->linkscores_.size()) {
                    *current_ += "<a href=\"";
                    *current_ += html_escape(root_->linkscores_[low->urlid].url);
                    *current_ += "\">";
                    anchor_open_ = true;
                }
            } else if (low->dictid == FFF::titleDict && title_.empty()) {
                current_ = &title_;
            }
            append_run_words(*current_, low->words, &html_escape);
            return;
        }
        if (link) {
            if (anchor_open_) *current_ += "</a>";
            anchor_open_ = false;
        } else if (low->dictid == FFF::titleDict) {
            current_ = &body_;
        }
        *current_ += ' ';
    }
}

} // namespace lumbrake
