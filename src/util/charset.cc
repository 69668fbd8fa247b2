// Single-byte charsets and the process-wide input decoder.
#include <cstring>

#include "util/charset_tables.h"
#include "util/codecs.h"

namespace lumbrake {

namespace {

// The byte-value-equals-code-point table shared by Latin-1 and us-ascii.
struct identity_table {
    code_point t[256];
    constexpr identity_table() : t() {
        for (unsigned i = 0; i < 256; ++i)
            t[i] = i;
    }
};
constexpr identity_table identity;

const code_point* named(const char* name) {
    for (std::size_t i = 0; i < charset_data::table_count; ++i)
        if (std::strcmp(charset_data::tables[i].name, name) == 0)
            return charset_data::tables[i].table;
    return nullptr;
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
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
    for (const char* l : {"latin-1", "us-ascii", "iso-8859-1"})
        v.push_back({l, identity.t});
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
        if (iequals(label, e.label)) {
            table_ = e.table;
            return true;
        }
    }
    table_ = nullptr;
    if (iequals(label, "utf-8") || iequals(label, "utf8")) {
        kind_ = UTF8;
        return true;
    }
    kind_ = SEVEN_BIT;
    return false;
}

code_point charset::next_code_point_at(std::string_view text, std::size_t& index,
                                       bool& valid) const {
    if (kind_ == UTF8) return utf8_decode_at(text, index, valid);
    if (index >= text.size()) {
        index = text.size();
        valid = false;
        return REPLACEMENT_CHARACTER;
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
