// Single-byte charsets and the process-wide input decoder.
#include <cerrno>
#include <cstring>
#include <iconv.h>

#include "util/ascii.h"
#include "util/charset_tables.h"
#include "util/codecs.h"

namespace lumbrake {

namespace {

// ISO-8859-1 as pages mean it: windows-1252 in 0x80-0x9F, its five holes kept as C1 controls.
struct latin1_web_table {
    code_point t[256];
    explicit latin1_web_table(const code_point* cp1252) : t() {
        for (unsigned i = 0; i < 256; ++i)
            t[i] = cp1252 && cp1252[i] ? cp1252[i] : i;
    }
};

const code_point* named(const char* name) {
    for (std::size_t i = 0; i < charset_data::table_count; ++i)
        if (std::strcmp(charset_data::tables[i].name, name) == 0)
            return charset_data::tables[i].table;
    return nullptr;
}

struct label_entry {
    std::string label;
    const code_point* table;
};

std::vector<label_entry> build_labels() {
    std::vector<label_entry> v;
    v.push_back({"roman", named("macroman")});
    v.push_back({"macroman", named("macroman")});
    for (int n = 1250; n <= 1258; ++n) {
        const code_point* t = named(("cp" + std::to_string(n)).c_str());
        v.push_back({std::to_string(n), t});
        v.push_back({"cp" + std::to_string(n), t});
        v.push_back({"windows-" + std::to_string(n), t});
    }
    static const latin1_web_table latin1(named("cp1252"));
    for (const char* l : {"latin-1", "us-ascii", "iso-8859-1"})
        v.push_back({l, latin1.t});
    for (int n = 2; n <= 16; ++n) {
        if (n == 12) continue;
        v.push_back(
            {"iso-8859-" + std::to_string(n), named(("iso8859_" + std::to_string(n)).c_str())});
    }
    for (int n : {437, 737, 775, 850, 852, 855, 857, 860, 861, 862, 863, 864, 865, 866, 869, 874}) {
        std::string l = "cp" + std::to_string(n);
        v.push_back({l, named(l.c_str())});
    }
    return v;
}

const std::vector<label_entry>& labels() {
    static const std::vector<label_entry> v = build_labels();
    return v;
}

} // namespace

bool charset::set(std::string_view label) {
    label_.assign(label);
    kind_ = TABLE;
    table_ = nullptr;
    for (const label_entry& e : labels()) {
        if (ascii_iequals(label, e.label)) {
            table_ = e.table;
            return true;
        }
    }
    table_ = nullptr;
    iconv_.reset();
    iconv_next_ = nullptr;
    if (ascii_iequals(label, "utf-8") || ascii_iequals(label, "utf8")) {
        kind_ = UTF8;
        return true;
    }
    // Labels are short tokens; anything else (blanks, slashes, overlong) is nobody's charset
    // and must not reach iconv's own option syntax ("//TRANSLIT").
    const bool plausible =
        !label.empty() && label.size() <= 40 &&
        label.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_.:") ==
            std::string_view::npos;
    if (plausible) {
        iconv_t cd = iconv_open("UTF-32LE", label_.c_str());
        if (cd != reinterpret_cast<iconv_t>(-1)) {
            iconv_ = std::shared_ptr<void>(cd, [](void* d) { iconv_close(static_cast<iconv_t>(d)); });
            kind_ = ICONV;
            return true;
        }
    }
    kind_ = SEVEN_BIT;
    return false;
}

code_point charset::next_iconv(const char* p, std::size_t available, std::size_t& used,
                               bool& valid) const {
    auto cd = static_cast<iconv_t>(iconv_.get());
    // A read that does not go on where the last one stopped starts from the initial state.
    if (p != iconv_next_) iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // No character (escape sequences included) is longer than this.
    const std::size_t window = available < 16 ? available : 16;
    char* in = const_cast<char*>(p);
    std::size_t in_left = window;
    unsigned char out[4];
    char* outp = reinterpret_cast<char*>(out);
    std::size_t out_left = sizeof out;
    std::size_t rc = iconv(cd, &in, &in_left, &outp, &out_left);
    const int err = rc == static_cast<std::size_t>(-1) ? errno : 0;
    used = window - in_left;
    if (out_left == 0) {
        valid = true;
        iconv_next_ = p + used;
        return code_point(out[0]) | code_point(out[1]) << 8 | code_point(out[2]) << 16 |
               code_point(out[3]) << 24;
    }
    valid = false;
    if (err == 0 && used > 0) {
        // Only shift sequences up to the end: they set the state for what follows.
        iconv_next_ = p + used;
        return REPLACEMENT_CHARACTER;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    iconv_next_ = nullptr;
    if (err == EINVAL && window == available) {
        used = available; // cut off at the end of the text
    } else if (err == EILSEQ || err == EINVAL || used == 0) {
        used += 1; // skip the bad byte (after any shift sequences before it)
    }
    return REPLACEMENT_CHARACTER;
}

code_point charset::next_code_point_at(std::string_view text, std::size_t& index,
                                       bool& valid) const {
    if (kind_ == UTF8) return utf8_decode_at(text, index, valid);
    if (index >= text.size()) {
        index = text.size();
        valid = false;
        return REPLACEMENT_CHARACTER;
    }
    if (kind_ == ICONV) {
        std::size_t used = 0;
        code_point c = next_iconv(text.data() + index, text.size() - index, used, valid);
        index += used;
        return c;
    }
    auto b = static_cast<unsigned char>(text[index++]);
    valid = true;
    return kind_ == TABLE ? table_[b] : (b & 0x7F);
}

code_point charset::next_code_point(const char*& cursor, bool& valid) const {
    if (kind_ == UTF8) return utf8_decode_next(cursor, valid);
    auto b = static_cast<unsigned char>(*cursor);
    valid = true;
    if (b == 0) return 0;
    if (kind_ == ICONV) {
        std::size_t used = 0;
        code_point c = next_iconv(cursor, strnlen(cursor, 16), used, valid);
        cursor += used;
        return c;
    }
    ++cursor;
    return kind_ == TABLE ? table_[b] : (b & 0x7F);
}

charset& input_charset() {
    static charset cs("utf-8");
    return cs;
}

bool set_input_charset(std::string_view label) {
    return input_charset().set(label);
}

code_point next_code_point_at(std::string_view text, std::size_t& index, bool& valid) {
    return input_charset().next_code_point_at(text, index, valid);
}

code_point next_code_point(const char*& cursor, bool& valid) {
    return input_charset().next_code_point(cursor, valid);
}

} // namespace lumbrake
