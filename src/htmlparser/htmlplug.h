// Tag records, tag and attribute ids, and the filter interface of the HTML parser chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace lumbrake {

// Tag ids: alphabetical from 300 (only the ids the scanner produces are named).
enum html_tag_id : int {
    TAG_A = 300,
    TAG_ABBR = 301,
    TAG_ACRONYM = 302,
    TAG_AREA = 305,
    TAG_B = 306,
    TAG_BASE = 307,
    TAG_BLOCKQUOTE = 312,
    TAG_BODY = 313,
    TAG_BR = 314,
    TAG_CENTER = 317,
    TAG_CODE = 319,
    TAG_DD = 322,
    TAG_DIV = 326,
    TAG_DL = 327,
    TAG_DT = 328,
    TAG_EM = 329,
    TAG_FONT = 332,
    TAG_FORM = 333,
    TAG_FRAME = 334,
    TAG_FRAMESET = 335,
    TAG_H1 = 336,
    TAG_H2 = 337,
    TAG_H3 = 338,
    TAG_H4 = 339,
    TAG_H5 = 340,
    TAG_H6 = 341,
    TAG_HEAD = 342,
    TAG_HR = 343,
    TAG_HTML = 344,
    TAG_I = 345,
    TAG_IFRAME = 346,
    TAG_IMG = 348,
    TAG_INPUT = 349,
    TAG_LI = 357,
    TAG_LINK = 358,
    TAG_META = 361,
    TAG_NOBR = 363,
    TAG_NOFRAMES = 365,
    TAG_OPTION = 371,
    TAG_P = 372,
    TAG_PRE = 375,
    TAG_Q = 376,
    TAG_S = 377,
    TAG_SCRIPT = 379,
    TAG_SELECT = 380,
    TAG_SPAN = 384,
    TAG_STRONG = 386,
    TAG_STYLE = 387,
    TAG_TABLE = 390,
    TAG_TBODY = 391,
    TAG_TD = 392,
    TAG_TFOOT = 394,
    TAG_TH = 395,
    TAG_THEAD = 396,
    TAG_TITLE = 397,
    TAG_TR = 398,
    TAG_TT = 399,
    TAG_U = 400,
    TAG_UL = 401,
};
inline constexpr int TAG_FIRST = 300;
inline constexpr int TAG_LAST = 401;

// Attribute ids: alphabetical from 400.
enum html_attr_id : int {
    ATTR_ACTION = 400,
    ATTR_ALIGN,
    ATTR_ALINK,
    ATTR_ALT,
    ATTR_BACKGROUND,
    ATTR_BGCOLOR,
    ATTR_BORDER,
    ATTR_CELLPADDING,
    ATTR_CELLSPACING,
    ATTR_CLASS,
    ATTR_COLOR,
    ATTR_COLS,
    ATTR_COLSPAN,
    ATTR_CONTENT,
    ATTR_FACE,
    ATTR_FRAMEBORDER,
    ATTR_FRAMESPACING,
    ATTR_HEIGHT,
    ATTR_HREF,
    ATTR_HTTP_EQUIV,
    ATTR_ID,
    ATTR_LANGUAGE,
    ATTR_LINK,
    ATTR_MARGINHEIGHT,
    ATTR_MARGINWIDTH,
    ATTR_NAME,
    ATTR_NORESIZE,
    ATTR_REL,
    ATTR_ROWS,
    ATTR_ROWSPAN,
    ATTR_SCROLLING,
    ATTR_SIZE,
    ATTR_SRC,
    ATTR_STYLE,
    ATTR_TARGET,
    ATTR_TEXT,
    ATTR_TITLE,
    ATTR_TYPE,
    ATTR_VALIGN,
    ATTR_VLINK,
    ATTR_WIDTH, // 440
};

inline constexpr int HTML_MAX_ATTRS = 64;

struct html_attr {
    int attr_id;
    // Both null when the attribute has no value.
    const char* value_begin;
    const char* value_end;
};

// One tag as the scanner found it; passed by reference and valid only during the call.
struct html_tag {
    html_attr attrs[HTML_MAX_ATTRS];
    int attr_count = 0;
    int tag_id = 0;

    // The first entry with the id, or null.
    const html_attr* find(int attr_id) const {
        for (int i = 0; i < attr_count; ++i)
            if (attrs[i].attr_id == attr_id) return &attrs[i];
        return nullptr;
    }
    // Copies only the entries in use (records are large).
    void copy_from(const html_tag& other) {
        tag_id = other.tag_id;
        attr_count = other.attr_count;
        for (int i = 0; i < attr_count; ++i)
            attrs[i] = other.attrs[i];
    }
};

inline std::string_view attr_value(const html_attr& a) {
    return a.value_begin ? std::string_view(a.value_begin, std::size_t(a.value_end - a.value_begin))
                         : std::string_view();
}
inline bool attr_has_value(const html_attr* a) {
    return a && a->value_begin;
}

// One filter of the chain: receives tag, text and end events and passes them on.
class HTMLPlug {
public:
    explicit HTMLPlug(HTMLPlug* next = nullptr) : next_(next) {}
    virtual ~HTMLPlug() = default;
    HTMLPlug(const HTMLPlug&) = delete;
    HTMLPlug& operator=(const HTMLPlug&) = delete;

    virtual void tag(html_tag& record, bool open) = 0;
    // A non-empty byte range.
    virtual void text(const char* begin, const char* end) = 0;
    virtual void end() = 0;

protected:
    HTMLPlug* next_; // not owned
};

// ---- tag properties ----

inline constexpr int TAG_CLASS_DROPPED = 31;
inline constexpr std::uint8_t TAGP_TRACKED = 0x40;
inline constexpr std::uint8_t TAGP_MAY_NEST = 0x80;

// Bits 0-4 class (31 dropped), bit 6 tracked, bit 7 may nest; dropped for ids outside the set.
std::uint8_t tag_properties(int tag_id);
inline int tag_class(std::uint8_t props) {
    return props & 0x1F;
}
// Classes 2, 11 and 12 are inline.
inline bool class_is_inline(int cls) {
    return cls == 2 || cls == 11 || cls == 12;
}

// Case-insensitive name look-ups; 0 when the name is not one of the known ones.
int html_tag_lookup(const char* name, std::size_t length);
int html_attr_lookup(const char* name, std::size_t length);
// Lower-case names of the ids ("" for an unknown id).
const char* html_tag_name(int tag_id);
const char* html_attr_name(int attr_id);

} // namespace lumbrake
