#include "htmlparser/htmlplug.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace lumbrake {

namespace {

struct tag_entry {
    const char* name;
    int id;
    std::uint8_t props;
};

constexpr std::uint8_t T = TAGP_TRACKED;
constexpr std::uint8_t N = TAGP_MAY_NEST;
constexpr std::uint8_t D = TAG_CLASS_DROPPED;

// Sorted by name (the ids follow the same order).
constexpr tag_entry tag_table[] = {
    {"a", TAG_A, 11 | T},
    {"abbr", TAG_ABBR, 12 | T},
    {"acronym", TAG_ACRONYM, 12 | T},
    {"area", TAG_AREA, 12},
    {"b", TAG_B, 11 | T},
    {"base", TAG_BASE, 12},
    {"blockquote", TAG_BLOCKQUOTE, 10 | T},
    {"body", TAG_BODY, 4 | T},
    {"br", TAG_BR, 11},
    {"center", TAG_CENTER, 11 | T},
    {"code", TAG_CODE, 10 | T},
    {"dd", TAG_DD, D},
    {"div", TAG_DIV, 10 | T},
    {"dl", TAG_DL, D},
    {"dt", TAG_DT, D},
    {"em", TAG_EM, 11 | T},
    {"font", TAG_FONT, D},
    {"form", TAG_FORM, 12 | T},
    {"frame", TAG_FRAME, 3},
    {"frameset", TAG_FRAMESET, 2 | T | N},
    {"h1", TAG_H1, 10 | T},
    {"h2", TAG_H2, 10 | T},
    {"h3", TAG_H3, 10 | T},
    {"h4", TAG_H4, 10 | T},
    {"h5", TAG_H5, 10 | T},
    {"h6", TAG_H6, 10 | T},
    {"head", TAG_HEAD, 4 | T},
    {"hr", TAG_HR, 11},
    {"html", TAG_HTML, 0 | T},
    {"i", TAG_I, 11 | T},
    {"iframe", TAG_IFRAME, 4 | T},
    {"img", TAG_IMG, 12},
    {"input", TAG_INPUT, 12},
    {"li", TAG_LI, 9 | T},
    {"link", TAG_LINK, D},
    {"meta", TAG_META, 12},
    {"nobr", TAG_NOBR, 11},
    {"noframes", TAG_NOFRAMES, 2 | T},
    {"option", TAG_OPTION, 12 | T},
    {"p", TAG_P, 10 | T},
    {"pre", TAG_PRE, 10 | T},
    {"q", TAG_Q, D},
    {"s", TAG_S, D},
    {"script", TAG_SCRIPT, D},
    {"select", TAG_SELECT, 12},
    {"span", TAG_SPAN, 11 | T},
    {"strong", TAG_STRONG, 11 | T},
    {"style", TAG_STYLE, D},
    {"table", TAG_TABLE, 5 | T},
    {"tbody", TAG_TBODY, D},
    {"td", TAG_TD, 7 | T},
    {"tfoot", TAG_TFOOT, D},
    {"th", TAG_TH, D},
    {"thead", TAG_THEAD, D},
    {"title", TAG_TITLE, 12 | T},
    {"tr", TAG_TR, 6 | T},
    {"tt", TAG_TT, 10 | T},
    {"u", TAG_U, D},
    {"ul", TAG_UL, 8 | T},
};
static_assert(std::size(tag_table) == 59);

constexpr const char* attr_names[] = {
    "action",      "align",       "alink",       "alt",         "background",   "bgcolor",
    "border",      "cellpadding", "cellspacing", "class",       "color",        "cols",
    "colspan",     "content",     "face",        "frameborder", "framespacing", "height",
    "href",        "http-equiv",  "id",          "language",    "link",         "marginheight",
    "marginwidth", "name",        "noresize",    "rel",         "rows",         "rowspan",
    "scrolling",   "size",        "src",         "style",       "target",       "text",
    "title",       "type",        "valign",      "vlink",       "width",
};
static_assert(std::size(attr_names) == 41);
static_assert(ATTR_WIDTH == 440);

constexpr std::size_t max_tag_name = 10;  // "blockquote"
constexpr std::size_t max_attr_name = 12; // "marginheight", "framespacing"

// Lower-cases ASCII letters into out; false when the name is too long for any known one.
bool fold_name(const char* name, std::size_t length, std::size_t max, char* out) {
    if (length == 0 || length > max) return false;
    for (std::size_t i = 0; i < length; ++i) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c >= 'A' && c <= 'Z') c = static_cast<unsigned char>(c + 32);
        // Known names hold only these; anything else (a NUL included) cannot match.
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
        out[i] = char(c);
    }
    out[length] = 0;
    return true;
}

struct props_by_id {
    std::array<std::uint8_t, TAG_LAST - TAG_FIRST + 1> props{};
    std::array<const char*, TAG_LAST - TAG_FIRST + 1> names{};
    constexpr props_by_id() {
        for (auto& p : props)
            p = TAG_CLASS_DROPPED;
        for (auto& n : names)
            n = "";
        for (const auto& e : tag_table) {
            props[e.id - TAG_FIRST] = e.props;
            names[e.id - TAG_FIRST] = e.name;
        }
    }
};
constexpr props_by_id by_id;

} // namespace

std::uint8_t tag_properties(int tag_id) {
    if (tag_id < TAG_FIRST || tag_id > TAG_LAST) return TAG_CLASS_DROPPED;
    return by_id.props[tag_id - TAG_FIRST];
}

int html_tag_lookup(const char* name, std::size_t length) {
    char key[max_tag_name + 1];
    if (!fold_name(name, length, max_tag_name, key)) return 0;
    auto it = std::lower_bound(
        std::begin(tag_table), std::end(tag_table), key,
        [](const tag_entry& e, const char* k) { return std::strcmp(e.name, k) < 0; });
    if (it != std::end(tag_table) && std::strcmp(it->name, key) == 0) return it->id;
    return 0;
}

int html_attr_lookup(const char* name, std::size_t length) {
    char key[max_attr_name + 1];
    if (!fold_name(name, length, max_attr_name, key)) return 0;
    auto it = std::lower_bound(std::begin(attr_names), std::end(attr_names), key,
                               [](const char* e, const char* k) { return std::strcmp(e, k) < 0; });
    if (it != std::end(attr_names) && std::strcmp(*it, key) == 0)
        return ATTR_ACTION + int(it - std::begin(attr_names));
    return 0;
}

const char* html_tag_name(int tag_id) {
    if (tag_id < TAG_FIRST || tag_id > TAG_LAST) return "";
    return by_id.names[tag_id - TAG_FIRST];
}

const char* html_attr_name(int attr_id) {
    if (attr_id < ATTR_ACTION || attr_id > ATTR_WIDTH) return "";
    return attr_names[attr_id - ATTR_ACTION];
}

} // namespace lumbrake
