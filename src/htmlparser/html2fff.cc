#include "htmlparser/html2fff.h"

#include <vector>

#include "util/codecs.h"
#include "util/ascii.h"
#include "htmlparser/textscanner.h"

namespace lumbrake {

namespace {

inline bool trimmed_away(code_point c) {
    return is_unicode_separator(c) || is_unicode_other(c);
}

} // namespace

std::string html_trim_url(std::string_view value) {
    std::string_view v = html_unquote(value);
    std::vector<code_point> cps;
    cps.reserve(v.size());
    std::size_t i = 0;
    while (i < v.size()) {
        bool valid = false;
        code_point c = utf8_decode_at(v, i, valid);
        if (valid) cps.push_back(c);
    }
    std::size_t b = 0, e = cps.size();
    while (b < e && trimmed_away(cps[b]))
        ++b;
    while (e > b && trimmed_away(cps[e - 1]))
        --e;
    std::string out;
    out.reserve(v.size());
    for (std::size_t k = b; k < e; ++k)
        if (cps[k] != '\n' && cps[k] != '\r') utf8_append(cps[k], out);
    return out;
}

std::string html_link_url(std::string_view value, const URI& base) {
    return base.resolve(html_trim_url(value), true).canonical_string();
}

HTMLtoFFF::HTMLtoFFF(FFFbuilder& builder, const std::string& document_url)
    : HTMLPlug(nullptr), builder_(builder) {
    set_base(document_url);
}

void HTMLtoFFF::set_base(const std::string& url) {
    base_url_ = url;
    base_.parse(base_url_, "http", true);
    resolved_.clear();
}

int HTMLtoFFF::add_link(const html_attr* attr) {
    // Pages repeat their links (navigation bars); resolving is the costly part.
    const std::string_view raw = attr_value(*attr);
    auto it = resolved_.find(raw);
    if (it == resolved_.end()) {
        if (resolved_.size() >= max_resolved) resolved_.clear();
        it = resolved_.emplace(std::string(raw), html_link_url(raw, base_)).first;
    }
    return builder_.document->add_link(it->second, builder_.base_score);
}

void HTMLtoFFF::feed(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            builder_.add_char(c);
            ++i;
            continue;
        }
        bool valid = false;
        code_point cp = utf8_decode_next(text, i, valid);
        if (valid) builder_.add_char(cp);
    }
}

void HTMLtoFFF::tag(html_tag& record, bool open) {
    FFFbuilder& b = builder_;
    switch (record.tag_id) {
    case TAG_A: {
        if (!open) b.in_link = false;
        b.close_low();
        if (!open) {
            b.pop_dict();
            break;
        }
        const html_attr* href = record.find(ATTR_HREF);
        if (attr_has_value(href)) {
            b.link_id = add_link(href);
            b.in_link = true;
            b.push_dict(FFF::marginalLinkDict);
        } else {
            b.push_dict(FFF::marginalNormDict);
        }
        break;
    }
    case TAG_AREA:
    case TAG_FRAME:
    case TAG_IFRAME: {
        const html_attr* a = record.find(record.tag_id == TAG_AREA ? ATTR_HREF : ATTR_SRC);
        if (attr_has_value(a)) add_link(a);
        break;
    }
    case TAG_BASE:
        if (const html_attr* href = record.find(ATTR_HREF)) {
            std::string url = html_trim_url(attr_value(*href));
            if (uri_has_scheme(url)) set_base(url);
        }
        break;
    case TAG_META: {
        const html_attr* name = record.find(ATTR_NAME);
        if (!attr_has_value(name)) break;
        std::string_view n = html_unquote(attr_value(*name));
        int slice = ascii_iequals(n, "description") ? FFF::abstractDict
                    : ascii_iequals(n, "keywords")  ? FFF::keywordDict
                                                         : 0;
        if (!slice) break;
        b.end_paragraph();
        b.push_dict(slice);
        if (const html_attr* content = record.find(ATTR_CONTENT)) feed(attr_value(*content));
        b.pop_dict();
        b.end_paragraph();
        break;
    }
    case TAG_NOFRAMES:
        // The alternative content of a frameset page is often its only text: it is indexed,
        // and so is whatever follows it (a noframes in a body must not cut off the page).
        break;
    case TAG_TITLE:
        b.end_paragraph();
        if (open) {
            b.push_dict(title_seen_ ? FFF::invisibleDict : FFF::titleDict);
            title_seen_ = true;
        } else {
            b.pop_dict();
        }
        break;
    case TAG_FORM:
    case TAG_LI:
    case TAG_OPTION:
    case TAG_P:
    case TAG_PRE:
    case TAG_TD:
    case TAG_TR:
        b.end_paragraph();
        if (open)
            b.push_dict(FFF::marginalNormDict);
        else
            b.pop_dict();
        break;
    case TAG_HR:
    case TAG_INPUT:
    case TAG_SELECT:
    case TAG_BR:
        // Empty elements: no closing event follows, so no slice is pushed.
        b.end_paragraph();
        break;
    case TAG_B:
    case TAG_EM:
    case TAG_I:
    case TAG_STRONG:
        b.close_low();
        if (open)
            b.push_dict(FFF::marginalEmphDict);
        else
            b.pop_dict();
        break;
    case TAG_H1:
    case TAG_H2:
    case TAG_H3:
        b.end_paragraph();
        if (open)
            b.push_dict(FFF::marginalHeaderDict);
        else
            b.pop_dict();
        break;
    case TAG_H4:
    case TAG_H5:
    case TAG_H6:
        b.end_paragraph();
        if (open)
            b.push_dict(FFF::marginalEmphDict);
        else
            b.pop_dict();
        break;
    default:
        break;
    }
}

void HTMLtoFFF::text(const char* begin, const char* end) {
    feed(std::string_view(begin, std::size_t(end - begin)));
}

void HTMLtoFFF::end() {
    builder_.end_paragraph();
    builder_.pop_dict();
}

} // namespace lumbrake
