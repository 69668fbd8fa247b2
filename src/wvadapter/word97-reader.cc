#include "wvadapter/word97-reader.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "wvadapter/wv-event-writer.h"
#include "wvadapter/wv-events.h"

// The order of the steps below (paragraph end, section end, section bounds, section begin,
// paragraph bounds, paragraph begin, character run bounds, character) and their quirks are
// those of the library's reading of a non-complex file: the event stream must not tell the
// two readers apart.

namespace lumbrake::wvadapter {

namespace {

struct declined {}; // thrown where the document goes back to the library

[[noreturn]] void decline() {
    throw declined{};
}

constexpr std::uint32_t none = 0xFFFFFFFF;
constexpr std::uint16_t istd_nil = 4095;
constexpr std::size_t page_size = 512;

std::uint16_t rd16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t rd32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
           std::uint32_t(p[3]) << 24;
}

// A file position with the flag of eight-bit text folded out, as the library reads all of them.
std::uint32_t norm_fc(std::uint32_t fc) {
    return (fc & 0x40000000u) ? (fc & 0xBFFFFFFFu) / 2 : fc;
}

// A bounds-checked view of one stream.
struct span {
    const unsigned char* p = nullptr;
    std::size_t n = 0;

    bool has(std::uint64_t at, std::uint64_t len) const { return at <= n && len <= n - at; }
    const unsigned char* at(std::uint64_t off, std::uint64_t len) const {
        if (!has(off, len)) decline();
        return p + off;
    }
    std::uint16_t u16(std::uint64_t off) const { return rd16(at(off, 2)); }
    std::uint32_t u32(std::uint64_t off) const { return rd32(at(off, 4)); }
    std::uint8_t u8(std::uint64_t off) const { return *at(off, 1); }
};

// ---- property modifiers (sprms) ----------------------------------------------------------------

// Operand bytes the library's handler of a sprm takes from the grpprl (its handlers do not all
// agree with the sprm's own size code), given the bytes that follow the opcode.
std::uint32_t operand_length(std::uint16_t sprm, const unsigned char* op, std::size_t avail) {
    const auto byte = [&](std::size_t i) -> std::uint32_t {
        if (i >= avail) decline();
        return op[i];
    };
    // Cell ranges the library's handlers write without a check against its 64 cells.
    if (sprm == 0xD620 || sprm == 0xD626) {
        if (byte(2) > 64) decline();
    } else if (sprm == 0xD62C || sprm == 0x5624 || sprm == 0x5625) {
        if (byte(1) > 64) decline();
    } else if (sprm == 0x5622) {
        if (byte(0) > byte(1) || byte(1) > 64) decline();
    }
    switch (sprm) {
    case 0x0000:
    case 0x2A34:
    case 0x2A44:
    case 0x480B:
    case 0x4852:
    case 0xC632:
    case 0xD62A:
        return 0;
    case 0x484E:
    case 0x4A3D:
    case 0x4A60:
    case 0x7629:
        return 1;
    case 0x085B:
        return 2;
    case 0xCA49:
    case 0xCA4A:
    case 0xD400:
    case 0xD62B:
    case 0xD62C:
        return 3;
    case 0x4866:
        return 4;
    case 0xD626:
        return 5;
    case 0xC63F:
        return 7;
    case 0xCA57:
    case 0xD227:
    case 0xD620:
        return 8;
    case 0xD605:
        return 25;
    case 0xCA62:
        return 40;
    case 0xC63E:
        return 85;
    case 0xC645:
        return 129;
    case 0xC615:   // tab changes with their close ranges
    case 0xC60D: { // tab changes of a paragraph's own properties
        const std::uint32_t del = byte(1);
        const std::uint32_t add = byte(2 + (sprm == 0xC615 ? 4 : 2) * del);
        if (del > 50 || add > 50) decline(); // the library's fixed arrays
        return 3 + (sprm == 0xC615 ? 4 : 2) * del + 3 * add;
    }
    case 0xD609: { // cell shading: whole two-byte shadings within a length byte
        const std::uint32_t len = byte(0);
        if (len / 2 > 64) decline(); // more cells than the library's arrays hold
        return 1 + (len & ~1u);
    }
    case 0xD608: { // table definition: a two-byte length
        if (avail < 3) decline();
        if (op[2] > 64) decline(); // more cells than the library's arrays hold
        return std::uint32_t(rd16(op)) + 1;
    }
    default:
        break;
    }
    switch (sprm >> 13) {
    case 0:
    case 1:
        return 1;
    case 2:
    case 4:
    case 5:
        return 2;
    case 3:
        return 4;
    case 7:
        return 3;
    default:
        return byte(0) + 1; // variable: a length byte
    }
}

// Sprms this reader does not follow; a document that has one goes to the library.
bool unfollowed(std::uint16_t sprm) {
    switch (sprm) {
    case 0x6645:
    case 0x6646: // paragraph properties kept in the data stream
    case 0x2A33:
    case 0xCA47:
    case 0xCA4C:
    case 0xCA31: // rebuilt from styles
    case 0xC601:
    case 0x2602: // style and list level permutations
    case 0xD202:
    case 0xD606: // operand lengths that depend on their bytes
        return true;
    default:
        return false;
    }
}

struct pap_flags {
    std::int8_t in_table = 0;
    std::int8_t ttp = 0;
};

struct list_limits {
    bool lists = false;          // the document has list overrides: list numbers are checked
    std::uint32_t overrides = 0; // their count
};

// Paragraph sprms as the library walks a paragraph's grpprl (cb counts the style index too).
template <typename Apply>
void walk_papx(const unsigned char* g, int cb, Apply&& apply, bool huge = false) {
    const int len = cb - 2;
    int i = 0;
    while (i < cb - 4) {
        if (i + 2 > len) decline();
        const std::uint16_t sprm = rd16(g + i);
        i += 2;
        if (i < cb - 2) {
            if (unfollowed(sprm) && !(huge && (sprm == 0x6645 || sprm == 0x6646))) decline();
            const std::uint32_t n = operand_length(sprm, g + i, std::size_t(len - i));
            if (n > std::uint32_t(len - i)) decline();
            apply(sprm, g + i);
            i += static_cast<int>(n);
        }
    }
}

// Character sprms as the library walks a character grpprl of cb bytes.
template <typename Apply> void walk_chpx(const unsigned char* g, int cb, Apply&& apply) {
    int i = 0;
    while (i + 2 < cb) {
        const std::uint16_t sprm = rd16(g + i);
        i += 2;
        if (unfollowed(sprm)) decline();
        const std::uint32_t n = operand_length(sprm, g + i, std::size_t(cb - i));
        if (n > std::uint32_t(cb - i)) decline();
        apply(sprm, g + i);
        i += static_cast<int>(n);
    }
}

bool touches_flags(std::uint16_t sprm) {
    switch (sprm) {
    case 0x2416:
    case 0x2417:
    case 0x6649: // in table, row end, table depth
    case 0x0855:
    case 0x6A03:
    case 0x6A09: // special character, picture, symbol
        return true;
    default:
        return false;
    }
}

// List numbers and levels index the library's tables unchecked.
void check_list_sprm(std::uint16_t sprm, const unsigned char* op, const list_limits& lists) {
    if (!lists.lists) return;
    if (sprm == 0x460B && rd16(op) > lists.overrides) decline();
    if (sprm == 0x260A && op[0] > 8) decline();
}

// ---- the style sheet ---------------------------------------------------------------------------

struct style {
    std::uint8_t sgc = 0;
    std::uint8_t cupx = 0;
};

enum : std::uint8_t { sgc_para = 1, sgc_chp = 2 };

// Reads the style sheet as the library does, keeping each style's kind. Styles whose
// properties set any of the flags the events carry are not followed: then every style's
// paragraph and character flags are the defaults (zero).
std::vector<style> read_styles(const span& table, std::uint32_t fc, std::uint32_t lcb,
                               const list_limits& lists) {
    std::vector<style> styles;
    if (lcb == 0) return styles;
    std::uint64_t at = fc;
    const std::uint16_t cb_stshi = table.u16(at);
    at += 2;
    const std::uint16_t cstd = table.u16(at);
    const std::uint16_t base_len = table.u16(at + 2);
    const std::uint64_t stshi_read = cb_stshi <= 14   ? 14
                                     : cb_stshi <= 16 ? 16
                                                      : std::max(18, int(cb_stshi));
    table.at(at, stshi_read);
    at += stshi_read;
    if (cstd == 0) return styles;
    if (cstd <= 10) decline();    // the library looks at style 10 unchecked
    if (base_len < 10) decline(); // older style records
    styles.resize(cstd);
    const auto flags_check = [&](std::uint16_t sprm, const unsigned char* op) {
        if (touches_flags(sprm)) decline();
        check_list_sprm(sprm, op, lists);
    };
    for (std::uint16_t s = 0; s < cstd; ++s) {
        const std::uint16_t cb_std = table.u16(at);
        at += 2;
        if (cb_std == 0) continue;
        const std::uint64_t start = at;
        const std::uint16_t w2 = table.u16(at + 2);
        const std::uint16_t w3 = table.u16(at + 4);
        styles[s].sgc = w2 & 0x0F;
        styles[s].cupx = w3 & 0x0F;
        const std::uint16_t base = w2 >> 4;
        if (base != istd_nil && base >= cstd) decline();
        at = start + base_len; // the fixed part, as long as the file says
        table.at(start, base_len);
        const std::uint16_t name_len = table.u16(at);
        at += 2;
        if (cb_std < base_len || cb_std - base_len < name_len) decline(); // eight-bit names
        std::uint64_t pos = 12;
        for (std::uint32_t i = 0; i <= name_len; ++i) {
            const std::uint16_t u = table.u16(at);
            if (u >= 0xD800 && u < 0xE000) decline(); // the library's conversion skips these
            at += 2;
            pos += 2;
        }
        const std::uint8_t cupx = styles[s].cupx;
        if (cupx == 0) continue;
        const std::uint8_t sgc = styles[s].sgc;
        // The library builds paragraph styles from two records and character styles from one;
        // other counts leave its records half-read. Other kinds (table and list styles) it
        // reads but never applies.
        if ((sgc == sgc_para && cupx != 2) || (sgc == sgc_chp && cupx != 1)) decline();
        const bool applied = sgc == sgc_para || sgc == sgc_chp;
        for (std::uint8_t i = 0; i < cupx; ++i) {
            if (pos & 1) {
                ++at;
                ++pos;
            }
            const std::uint16_t cb_upx = table.u16(at);
            at += 2;
            pos += 2;
            if (cb_upx == 0) continue;
            const unsigned char* g = table.at(at, cb_upx);
            if (cupx == 1 || (cupx == 2 && i == 1)) {
                if (applied) walk_chpx(g, cb_upx, flags_check);
            } else if (cupx == 2 && i == 0) {
                if (cb_upx < 2) decline();
                if (applied) walk_papx(g + 2, cb_upx, flags_check);
            }
            at += cb_upx;
            pos += cb_upx;
        }
        if (pos & 1) ++at;
    }
    return styles;
}

// ---- formatted disk pages ---------------------------------------------------------------------

struct run_props {
    const unsigned char* grpprl = nullptr;
    int cb = 0; // paragraph: with the style index; character: the grpprl's bytes
    std::uint16_t istd = 0;
    bool done = false; // the properties below are known
    pap_flags pap;
    bool special = false;
    std::uint16_t char_istd = istd_nil;
};

struct fkp_page {
    std::vector<std::uint32_t> raw_fc; // crun + 1 positions as stored
    std::vector<std::uint32_t> fc;     // the same, normalised (strictly increasing)
    std::vector<run_props> runs;
};

// A bin table: the pages of property runs by file position.
struct bin_table {
    std::vector<std::uint32_t> raw_pos;
    std::vector<std::uint32_t> pos; // normalised, strictly increasing
    std::vector<std::uint32_t> pn;

    void read(const span& table, std::uint32_t fc, std::uint32_t lcb) {
        if (lcb < 12) decline(); // no page at all: the library reads before its list
        const std::uint32_t n = (lcb - 4) / 8;
        const unsigned char* p = table.at(fc, std::uint64_t(n) * 8 + 4);
        raw_pos.resize(n + 1);
        pos.resize(n + 1);
        pn.resize(n);
        for (std::uint32_t i = 0; i <= n; ++i) {
            raw_pos[i] = rd32(p + 4 * i);
            pos[i] = norm_fc(raw_pos[i]);
            if (i > 0 && pos[i] <= pos[i - 1]) decline();
        }
        for (std::uint32_t i = 0; i < n; ++i)
            pn[i] = rd32(p + 4 * (n + 1) + 4 * i) & 0x003FFFFF;
    }
    // The entry whose range holds fc, or the last one (the library's choice when none does).
    std::uint32_t entry(std::uint32_t fc) const {
        const std::size_t n = pn.size();
        auto it = std::upper_bound(pos.begin(), pos.end(), fc);
        if (it != pos.begin()) {
            const std::size_t i = static_cast<std::size_t>(it - pos.begin()) - 1;
            if (i < n) return pn[i];
        }
        return pn[n - 1];
    }
};

struct bounds {
    std::uint32_t first = 0;
    std::uint32_t lim = 0;
    const fkp_page* page = nullptr;
};

class document {
public:
    explicit document(const word97_streams& s)
        : word_{s.word, s.word_size}, table_{s.table, s.table_size}, data_{s.data, s.data_size} {}

    void read(std::string& out);

private:
    // ---- pieces
    struct piece {
        std::uint32_t cp = 0; // first character position
        std::uint32_t fc = 0; // normalised file position
        bool eight_bit = false;
    };
    std::uint32_t cp_to_fc(std::uint32_t cp) const;

    const fkp_page& page(bool para, std::uint32_t pn);
    const fkp_page& load_page(bool para, std::uint32_t pn);
    struct last_page {
        std::uint32_t pn = 0;
        const fkp_page* page = nullptr;
    };
    last_page last_papx_, last_chpx_;
    bounds find(bool para, std::uint32_t fc);
    bounds search(bool para, std::uint32_t fc);
    struct last_find {
        std::uint32_t fc = 0;
        bounds b;
    };
    last_find last_para_find_, last_char_find_;
    static std::uint32_t index_of(const fkp_page& page, std::uint32_t fc);
    pap_flags paragraph(const fkp_page& page, std::uint32_t lim, std::uint16_t& istd);
    void huge_papx(std::uint32_t offset, pap_flags& f);
    bool special(const fkp_page& page, std::uint32_t lim, std::uint16_t para_istd);
    void check_chp_style(std::uint16_t istd) const;
    void table_look_ahead(std::uint32_t fc, bool whole_table);
    std::vector<std::uint32_t> row_path_; // the paragraph starts the last row look-ahead met

    span word_;
    span table_;
    span data_;                 // empty when the file has no data stream
    std::vector<piece> pieces_; // with a closing entry holding the last cp
    std::vector<style> styles_;
    list_limits lists_;
    bin_table papx_, chpx_;
    std::unordered_map<std::uint32_t, std::unique_ptr<fkp_page>> papx_pages_, chpx_pages_;
};

std::uint32_t document::cp_to_fc(std::uint32_t cp) const {
    // pieces_ has nopcd + 1 entries; their cps strictly increase.
    const std::size_t n = pieces_.size() - 1;
    auto it = std::upper_bound(pieces_.begin(), pieces_.begin() + n + 1, cp,
                               [](std::uint32_t v, const piece& p) { return v < p.cp; });
    std::size_t k;
    if (it != pieces_.begin() && static_cast<std::size_t>(it - pieces_.begin()) - 1 < n)
        k = static_cast<std::size_t>(it - pieces_.begin()) - 1;
    else
        k = n - 1; // past the table: the library counts on from the last piece
    const std::uint32_t d = cp - pieces_[k].cp;
    return pieces_[k].fc + (pieces_[k].eight_bit ? d : d * 2);
}

const fkp_page& document::page(bool para, std::uint32_t pn) {
    last_page& last = para ? last_papx_ : last_chpx_;
    if (last.page && last.pn == pn) return *last.page;
    const fkp_page& found = load_page(para, pn);
    last = {pn, &found};
    return found;
}

const fkp_page& document::load_page(bool para, std::uint32_t pn) {
    auto& cache = para ? papx_pages_ : chpx_pages_;
    auto found = cache.find(pn);
    if (found != cache.end()) return *found->second;
    const unsigned char* p = word_.at(std::uint64_t(pn) * page_size, page_size);
    auto pg = std::make_unique<fkp_page>();
    const std::uint32_t crun = p[page_size - 1];
    if (crun == 0) decline();
    const std::uint32_t entry = para ? 13 : 1;
    if (4 * (crun + 1) + entry * crun > page_size - 1) decline();
    pg->raw_fc.resize(crun + 1);
    pg->fc.resize(crun + 1);
    for (std::uint32_t i = 0; i <= crun; ++i) {
        pg->raw_fc[i] = rd32(p + 4 * i);
        pg->fc[i] = norm_fc(pg->raw_fc[i]);
        if (i > 0 && pg->fc[i] <= pg->fc[i - 1]) decline();
    }
    pg->runs.resize(crun);
    for (std::uint32_t i = 0; i < crun; ++i) {
        run_props& r = pg->runs[i];
        const std::uint32_t off = p[4 * (crun + 1) + entry * i];
        if (off == 0) continue; // no properties of its own
        std::uint32_t at = off * 2;
        if (para) {
            std::uint32_t cw = p[at++];
            if (cw == 0) {
                if (at >= page_size) decline();
                cw = p[at++];
            }
            if (at + 2 > page_size) decline();
            r.cb = static_cast<int>(cw * 2);
            r.istd = rd16(p + at);
            at += 2;
            if (r.cb > 2 && at + std::uint32_t(r.cb - 2) > page_size) decline();
        } else {
            r.cb = p[at++];
            if (at + std::uint32_t(r.cb) > page_size) decline();
        }
        r.grpprl = p + at;
    }
    const fkp_page& ref = *pg;
    cache.emplace(pn, std::move(pg));
    return ref;
}

// The run bounds of the property page that covers fc, as the library finds them.
bounds document::find(bool para, std::uint32_t fc) {
    // The reading asks for the same position twice in a row (the next paragraph's bounds,
    // then the same as the paragraph's own): the answer depends on the position alone.
    last_find& last = para ? last_para_find_ : last_char_find_;
    if (last.fc == fc && last.b.page) return last.b;
    last.b = search(para, fc);
    last.fc = fc;
    return last.b;
}

bounds document::search(bool para, std::uint32_t fc) {
    if (fc == none) decline();
    const bin_table& bt = para ? papx_ : chpx_;
    const fkp_page& pg = page(para, bt.entry(fc));
    const std::uint32_t crun = static_cast<std::uint32_t>(pg.runs.size());
    // A page that ends at or before fc: the library walks on to the following pages.
    if (pg.raw_fc[crun] <= fc && !(pg.raw_fc[crun] == fc && fc == bt.raw_pos.back())) decline();
    bounds b;
    b.page = &pg;
    auto it = std::upper_bound(pg.fc.begin(), pg.fc.end(), fc);
    const std::size_t i = static_cast<std::size_t>(it - pg.fc.begin());
    if (i >= 1 && i <= crun) {
        b.first = pg.fc[i - 1];
        b.lim = pg.fc[i];
    } else {
        b.first = pg.fc[crun - 1];
        b.lim = pg.fc[crun];
    }
    return b;
}

// The run whose end is fc (1-based), or the first when none ends there.
std::uint32_t document::index_of(const fkp_page& page, std::uint32_t fc) {
    auto it = std::lower_bound(page.fc.begin() + 1, page.fc.end(), fc);
    if (it != page.fc.end() && *it == fc) return static_cast<std::uint32_t>(it - page.fc.begin());
    return 1;
}

pap_flags document::paragraph(const fkp_page& pg, std::uint32_t lim, std::uint16_t& istd) {
    run_props& r = const_cast<run_props&>(pg.runs[index_of(pg, lim) - 1]);
    istd = r.istd;
    if (r.done) return r.pap;
    if (r.istd != istd_nil && r.istd < styles_.size() && styles_[r.istd].cupx != 0 &&
        styles_[r.istd].sgc != sgc_para)
        decline(); // the library would copy another kind of style's record
    pap_flags f;
    if (r.cb > 2)
        walk_papx(
            r.grpprl, r.cb,
            [&](std::uint16_t sprm, const unsigned char* op) {
                switch (sprm) {
                case 0x2416:
                    f.in_table = static_cast<std::int8_t>(op[0]);
                    break;
                case 0x2417:
                    f.ttp = static_cast<std::int8_t>(op[0]);
                    break;
                case 0x6649:
                    f.in_table = static_cast<std::int8_t>(rd32(op) & 0xFF);
                    break;
                case 0x6645:
                case 0x6646:
                    huge_papx(rd32(op), f);
                    break;
                default:
                    check_list_sprm(sprm, op, lists_);
                    break;
                }
            },
            true);
    r.pap = f;
    r.done = true;
    return f;
}

// Paragraph properties too large for their page, kept in the data stream: the library applies
// them in place of the sprm, walking them in its own way.
void document::huge_papx(std::uint32_t offset, pap_flags& f) {
    if (!data_.p) return; // no data stream: the library skips the sprm
    const std::uint32_t len = data_.u16(offset);
    if (len == 0) return;
    const unsigned char* g = data_.at(std::uint64_t(offset) + 2, len);
    int i = 0;
    while (i < int(len) - 2) {
        const std::uint16_t sprm = rd16(g + i);
        i += 2;
        if (i >= int(len)) continue;
        if (unfollowed(sprm)) decline();
        const std::uint32_t n = operand_length(sprm, g + i, std::size_t(len - i));
        if (n > std::uint32_t(len) - std::uint32_t(i)) decline();
        switch (sprm) {
        case 0x2416:
            f.in_table = static_cast<std::int8_t>(g[i]);
            break;
        case 0x2417:
            f.ttp = static_cast<std::int8_t>(g[i]);
            break;
        case 0x6649:
            f.in_table = static_cast<std::int8_t>(rd32(g + i) & 0xFF);
            break;
        default:
            check_list_sprm(sprm, g + i, lists_);
            break;
        }
        i += static_cast<int>(n);
    }
}

// A character style lookup the library can make: none, out of range, empty, or a paragraph
// or character style with its character properties.
void document::check_chp_style(std::uint16_t istd) const {
    if (istd == istd_nil || istd >= styles_.size()) return;
    const style& s = styles_[istd];
    if (s.cupx == 0 || s.sgc == sgc_chp || (s.sgc == sgc_para && s.cupx >= 2)) return;
    decline();
}

bool document::special(const fkp_page& pg, std::uint32_t lim, std::uint16_t para_istd) {
    check_chp_style(para_istd);
    run_props& r = const_cast<run_props&>(pg.runs[index_of(pg, lim) - 1]);
    if (!r.done) {
        bool is_special = false;
        std::uint16_t istd = istd_nil;
        if (r.cb > 0)
            walk_chpx(r.grpprl, r.cb, [&](std::uint16_t sprm, const unsigned char* op) {
                switch (sprm) {
                case 0x0855:
                    is_special = op[0] & 1;
                    break;
                case 0x6A03:
                case 0x6A09:
                    is_special = true;
                    break;
                case 0x4A30:
                    istd = rd16(op);
                    break;
                default:
                    break;
                }
            });
        r.special = is_special;
        r.char_istd = istd;
        r.done = true;
    }
    // A character style: the library starts again from it and applies the same run.
    if (r.char_istd != istd_nil) check_chp_style(r.char_istd);
    return r.special;
}

// The library looks ahead through a table (its rows, then the current row) from fc; only its
// ending matters here: where it would not end, the document goes back to it.
// Each row's look-ahead is repeated from each of its paragraphs: a start on the path of the last
// one follows the same path to the same end (the steps depend on the position alone).
void document::table_look_ahead(std::uint32_t fc, bool whole_table) {
    if (!whole_table && std::binary_search(row_path_.begin(), row_path_.end(), fc)) return;
    std::vector<std::uint32_t> path;
    std::uint32_t i = fc;
    for (;;) {
        if (!whole_table) path.push_back(i);
        const bounds b = find(true, i);
        std::uint16_t istd = 0;
        const pap_flags f = paragraph(*b.page, b.lim, istd);
        if (b.lim <= i) decline();
        i = b.lim;
        if (whole_table ? f.in_table == 0 : (f.ttp != 0 || f.in_table == 0)) break;
    }
    if (!whole_table) row_path_ = std::move(path); // increasing: each step moves forward
}

void document::read(std::string& out) {
    const span& w = word_;
    const unsigned char* fib = w.at(0, 0x2F2);
    if (rd16(fib) != 0xA5EC || rd16(fib + 2) < 0xC1) decline();
    const std::uint16_t flags = rd16(fib + 0x0A);
    if (flags & 0x0004) decline(); // complex (fast-saved)
    if (flags & 0x0100) decline(); // encrypted
    if (w.n < 0x9A + 8 * 93) decline();

    const auto fclcb = [&](std::size_t at, std::uint32_t& fc, std::uint32_t& lcb) {
        fc = rd32(fib + at);
        lcb = rd32(fib + at + 4);
    };
    // Every table the library reads lies inside the table stream.
    for (std::size_t at = 0x9A; at < 0x9A + 8 * 93; at += 8) {
        std::uint32_t fc, lcb;
        fclcb(at, fc, lcb);
        if (lcb != 0 && !table_.has(fc, lcb)) decline();
    }

    // Lists: the overrides' count, and whether any list level's paragraph properties touch
    // the flags (then the library's list handling is not followed).
    std::uint32_t fc_lst, lcb_lst, fc_lfo, lcb_lfo;
    fclcb(0x2E2, fc_lst, lcb_lst);
    fclcb(0x2EA, fc_lfo, lcb_lfo);
    if (lcb_lfo != 0) {
        lists_.lists = true;
        lists_.overrides = table_.u32(fc_lfo);
        if (lcb_lst != 0) {
            const std::uint16_t count = table_.u16(fc_lst);
            std::uint64_t at = fc_lst + 2;
            std::vector<bool> simple(count);
            for (std::uint16_t i = 0; i < count; ++i) {
                simple[i] = table_.u8(at + 26) & 1;
                at += 28;
            }
            for (std::uint16_t i = 0; i < count; ++i) {
                for (int l = 0; l < (simple[i] ? 1 : 9); ++l) {
                    const unsigned char* lvlf = table_.at(at, 28);
                    const std::uint32_t chpx = lvlf[24], papx = lvlf[25];
                    at += 28;
                    const unsigned char* g = table_.at(at, papx + chpx);
                    for (std::uint32_t k = 0; k + 1 < papx + chpx; ++k) {
                        const std::uint16_t s = rd16(g + k);
                        if (s == 0x2416 || s == 0x2417 || s == 0x6649 || s == 0x6645 || s == 0x6646)
                            decline();
                    }
                    at += papx + chpx;
                    at += 2 + 2 * std::uint64_t(table_.u16(at));
                }
            }
        }
    }

    std::uint32_t fc_stsh, lcb_stsh;
    fclcb(0xA2, fc_stsh, lcb_stsh);
    styles_ = read_styles(table_, fc_stsh, lcb_stsh, lists_);

    // The piece table: grpprls first, then one piece table closing the block.
    std::uint32_t fc_clx, lcb_clx;
    fclcb(0x1A2, fc_clx, lcb_clx);
    {
        std::uint64_t j = 0;
        bool have = false;
        while (j < lcb_clx) {
            if (have) decline();
            const std::uint8_t clxt = table_.u8(fc_clx + j);
            ++j;
            if (clxt == 1) {
                j += 2 + std::uint64_t(table_.u16(fc_clx + j));
            } else if (clxt == 2) {
                const std::uint32_t lcb = table_.u32(fc_clx + j);
                j += 4;
                if (lcb < 16 || (lcb - 4) % 12 != 0) decline();
                const std::uint32_t n = (lcb - 4) / 12;
                const unsigned char* p = table_.at(fc_clx + j, lcb);
                pieces_.resize(n + 1);
                for (std::uint32_t k = 0; k <= n; ++k) {
                    pieces_[k].cp = rd32(p + 4 * k);
                    if (k > 0 && pieces_[k].cp <= pieces_[k - 1].cp) decline();
                }
                for (std::uint32_t k = 0; k < n; ++k) {
                    const std::uint32_t fc = rd32(p + 4 * (n + 1) + 8 * k + 2);
                    pieces_[k].fc = norm_fc(fc);
                    pieces_[k].eight_bit = (fc & 0x40000000u) != 0;
                }
                j += lcb;
                have = true;
            } else {
                decline();
            }
        }
        if (!have || j != lcb_clx) decline();
    }
    const std::size_t npieces = pieces_.size() - 1;

    std::uint32_t fc_bte, lcb_bte;
    fclcb(0x102, fc_bte, lcb_bte);
    papx_.read(table_, fc_bte, lcb_bte);
    fclcb(0xFA, fc_bte, lcb_bte);
    chpx_.read(table_, fc_bte, lcb_bte);

    // Sections: their first character positions and property records.
    std::uint32_t fc_sed, lcb_sed;
    fclcb(0xCA, fc_sed, lcb_sed);
    std::vector<std::uint32_t> sed_cp;
    if (lcb_sed != 0) {
        if (lcb_sed < 4) decline();
        const std::uint32_t n = (lcb_sed - 4) / 16;
        const unsigned char* p = table_.at(fc_sed, std::uint64_t(n) * 16 + 4);
        sed_cp.resize(n + 1);
        for (std::uint32_t k = 0; k <= n; ++k)
            sed_cp[k] = rd32(p + 4 * k);
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint32_t sepx = rd32(p + 4 * (n + 1) + 12 * k + 2);
            if (sepx == none) continue;
            const std::uint32_t at = norm_fc(sepx);
            w.at(at, 2 + std::uint64_t(w.u16(at)));
        }
    }
    const std::uint32_t sections = sed_cp.empty() ? 0 : std::uint32_t(sed_cp.size() - 1);
    if (sections > 10000) decline(); // each section start searches them all, as the library does

    // The stories' ends, as the events place text in them.
    emitter em(-1, out);
    event_writer ev(em);
    {
        std::uint64_t at = 0;
        for (int s = 0; s < story_none; ++s) {
            const std::uint32_t v = rd32(fib + 0x4C + 4 * s);
            at += s == 0 ? v : (static_cast<std::int32_t>(v) > 0 ? v : 0);
            ev.story_end[s] = static_cast<std::uint32_t>(std::min<std::uint64_t>(at, UINT32_MAX));
        }
    }

    std::uint32_t para_first = 0, para_lim = none;
    std::uint32_t char_first = 0, char_lim = none;
    std::uint32_t sec_first = 0, sec_lim = none;
    bool para_open = false, char_open = false, sec_open = false;
    bool in_table = false;
    const fkp_page* para_page = nullptr;
    const fkp_page* char_page = nullptr;
    std::uint16_t para_istd = 0;
    bool is_special = false;

    for (std::size_t k = 0; k < npieces; ++k) {
        const piece& pc = pieces_[k];
        const std::uint32_t count = pieces_[k + 1].cp - pc.cp;
        const std::uint32_t step = pc.eight_bit ? 1 : 2;
        const std::uint64_t end = std::uint64_t(pc.fc) + std::uint64_t(count) * step;
        if (end > w.n) decline();
        const unsigned char* text = w.p + pc.fc;
        char_lim = pc.fc;
        std::uint32_t i = pc.cp, j = pc.fc;
        for (std::uint32_t c = 0; c < count; ++c, ++i, j += step) {
            if (j == char_lim) char_open = false;
            if (j == para_lim) {
                ev.para_end();
                para_open = false;
            }
            if (j == sec_lim) {
                ev.section(EventType::section_end);
                sec_open = false;
            }
            if (sec_lim == none || sec_lim == j) {
                if (sections == 0) {
                    sec_first = pieces_[0].fc;
                } else {
                    std::uint32_t at = i == 0 ? 0 : sections - 1, best = 0;
                    for (std::uint32_t s = 0; s < sections; ++s)
                        if (sed_cp[s] <= i && sed_cp[s] > best) {
                            best = sed_cp[s];
                            at = s;
                        }
                    sec_first = cp_to_fc(sed_cp[at]);
                    sec_lim = cp_to_fc(sed_cp[at + 1]);
                }
            }
            if (j == sec_first) {
                ev.section(EventType::section_begin);
                sec_open = true;
            }
            if (para_lim == none || para_lim == j) {
                const bounds b = find(true, cp_to_fc(i));
                para_first = b.first;
                para_lim = b.lim;
                para_page = b.page;
                if (!para_open && j != para_first) para_first = j;
            }
            if (j == para_first) {
                const pap_flags f = paragraph(*para_page, para_lim, para_istd);
                // The library reads the next paragraph's properties here too.
                const bounds next = find(true, para_lim);
                std::uint16_t unused = 0;
                paragraph(*next.page, next.lim, unused);
                para_page = next.page;
                if (f.in_table && !f.ttp) {
                    if (!in_table) {
                        table_look_ahead(j, true);
                        in_table = true;
                    }
                    table_look_ahead(j, false);
                } else if (!f.in_table) {
                    in_table = false;
                }
                ev.para_begin(static_cast<std::uint8_t>((f.in_table ? para_in_table : 0) |
                                                        (f.ttp ? para_row_end : 0)));
                char_lim = j;
                para_open = true;
            }
            if (char_lim == none || char_lim == j) {
                const bounds b = find(false, cp_to_fc(i));
                char_first = b.first;
                char_lim = b.lim;
                char_page = b.page;
                if (!char_open) {
                    if (j != char_first) char_first = j;
                } else if (char_first < j) {
                    char_first = j;
                }
            }
            if (j == char_first) {
                is_special = special(*char_page, char_lim, para_istd);
                char_open = true;
            }
            if (is_special) {
                ev.special(i, pc.eight_bit ? text[c] : rd16(text + 2 * std::size_t(c)));
                continue;
            }
            // This character and those after it up to the next position where a bound or a
            // begin is due go out together.
            std::uint32_t n = 1;
            if (para_lim != none && char_lim != none && sec_lim != none) {
                std::uint32_t stop = none;
                for (std::uint32_t v :
                     {char_lim, para_lim, sec_lim, sec_first, para_first, char_first})
                    if (v > j && v < stop) stop = v;
                const std::uint64_t reach = (std::uint64_t(stop) - j - 1) / step;
                n += static_cast<std::uint32_t>(std::min<std::uint64_t>(reach, count - c - 1));
            }
            ev.characters(i, text + std::size_t(c) * step, n, pc.eight_bit);
            c += n - 1;
            i += n - 1;
            j += (n - 1) * step;
        }
        if (j == para_lim) {
            ev.para_end();
            para_open = false;
            para_lim = none;
        }
        if (j == char_lim) {
            char_open = false;
            char_lim = none;
        }
    }
    if (para_open) ev.para_end();
    if (sec_open) ev.section(EventType::section_end);
    ev.finish();
}

} // namespace

bool word97_uses_table1(const unsigned char* word, std::size_t word_size) {
    return word_size >= 0x0C && (rd16(word + 0x0A) & 0x0200) != 0;
}

bool read_word97_text(const word97_streams& streams, std::string& out) {
    if (!streams.word || !streams.table) return false;
    std::string events;
    try {
        document doc(streams);
        doc.read(events);
    } catch (const declined&) {
        return false;
    } catch (const std::bad_alloc&) {
        return false;
    }
    out += events;
    return true;
}

} // namespace lumbrake::wvadapter
