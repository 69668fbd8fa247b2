#include <gtest/gtest.h>

#include <iconv.h>

#include <cctype>
#include <cstring>
#include <string>

#include "util/charset_tables.h"
#include "util/codecs.h"

using namespace lumbrake;

namespace {

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

code_point decode_byte(charset& cs, unsigned char b) {
    std::string s(1, static_cast<char>(b));
    std::size_t i = 0;
    bool valid = false;
    code_point c = cs.next_code_point_at(s, i, valid);
    EXPECT_TRUE(valid);
    EXPECT_EQ(i, 1u);
    return c;
}

} // namespace

TEST(Charset, EveryLabelDecodes) {
    std::vector<std::string> labels = {"roman",      "macroman", "latin-1", "us-ascii",
                                       "iso-8859-1", "utf-8",    "utf8"};
    for (int n = 1250; n <= 1258; ++n)
        for (const char* p : {"", "cp", "windows-"})
            labels.push_back(p + std::to_string(n));
    for (int n = 2; n <= 16; ++n)
        if (n != 12) labels.push_back("iso-8859-" + std::to_string(n));
    for (int n : {437, 737, 775, 850, 852, 855, 857, 860, 861, 862, 863, 864, 865, 866, 869, 874})
        labels.push_back("cp" + std::to_string(n));
    for (const std::string& l : labels) {
        for (const std::string& spelled : {l, upper(l)}) {
            charset cs("x-unknown");
            EXPECT_TRUE(cs.set(spelled)) << spelled;
            EXPECT_EQ(cs.label(), spelled);
            bool utf8 = l == "utf-8" || l == "utf8";
            EXPECT_EQ(cs.kind(), utf8 ? charset::UTF8 : charset::TABLE) << spelled;
            if (!utf8) {
                ASSERT_NE(cs.table(), nullptr) << spelled;
                EXPECT_EQ(decode_byte(cs, 'A'), code_point('A')) << spelled;
            }
        }
    }
    charset none;
    EXPECT_FALSE(none.set("iso-8859-12"));
    EXPECT_FALSE(none.set("windows-1259"));
}

TEST(Charset, KnownBytes) {
    struct c {
        const char* label;
        unsigned char byte;
        code_point want;
    } cases[] = {
        {"CP1252", 0x80, 0x20AC},       {"cp1252", 0x81, 0},
        {"windows-1250", 0x8A, 0x0160}, {"1251", 0xC0, 0x0410},
        {"cp1253", 0xC1, 0x0391},       {"cp1254", 0xD0, 0x011E},
        {"cp1255", 0xE0, 0x05D0},       {"cp1256", 0xC7, 0x0627},
        {"cp1257", 0xC0, 0x0104},       {"cp1258", 0xDE, 0x0303},
        {"macroman", 0xA5, 0x2022},     {"roman", 0xDB, 0x20AC},
        {"iso-8859-2", 0xA1, 0x0104},   {"iso-8859-5", 0xB0, 0x0410},
        {"iso-8859-7", 0xC1, 0x0391},   {"iso-8859-8", 0xE0, 0x05D0},
        {"iso-8859-11", 0xA1, 0x0E01},  {"iso-8859-15", 0xA4, 0x20AC},
        {"iso-8859-16", 0xA1, 0x0104},  {"iso-8859-3", 0xA5, 0},
        {"cp437", 0xB0, 0x2591},        {"cp850", 0x9B, 0x00F8},
        {"cp866", 0x80, 0x0410},        {"cp874", 0xA1, 0x0E01},
        {"cp737", 0x80, 0x0391},        {"cp862", 0x80, 0x05D0},
        {"us-ascii", 0xE9, 0xE9},       {"latin-1", 0xFF, 0xFF},
        // Pages labelled Latin-1 or ASCII mean windows-1252 in 0x80-0x9F; its holes stay C1.
        {"iso-8859-1", 0x80, 0x20AC},   {"latin-1", 0x93, 0x201C},
        {"us-ascii", 0x96, 0x2013},     {"ISO-8859-1", 0x81, 0x81},
        {"iso-8859-1", 0x9D, 0x9D},     {"iso-8859-1", 0xA0, 0xA0},
    };
    for (const auto& tc : cases) {
        charset cs(tc.label);
        EXPECT_EQ(decode_byte(cs, tc.byte), tc.want) << tc.label << " " << int(tc.byte);
    }
}

TEST(Charset, UnknownLabelDecodesSevenBit) {
    charset cs("utf-8");
    EXPECT_FALSE(cs.set("klingon"));
    EXPECT_EQ(cs.kind(), charset::SEVEN_BIT);
    EXPECT_EQ(cs.label(), "klingon");
    EXPECT_EQ(decode_byte(cs, 0xE9), 0x69u);
    const char* text = "\xE9";
    const char* p = text;
    bool valid = false;
    EXPECT_EQ(cs.next_code_point(p, valid), 0x69u);
    EXPECT_TRUE(valid);
    EXPECT_EQ(cs.next_code_point(p, valid), 0u); // at the NUL: no move
    EXPECT_EQ(p, text + 1);
}

// What the C library's iconv knows decodes through it: the multi-byte charsets of East Asian
// pages and mail (bytes as `iconv -f UTF-8 -t <label>` writes them).
TEST(Charset, IconvLabelsDecodeMultiByteText) {
    const std::string want = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E mail \xE4\xB8\xAD\xE6\x96\x87";
    const std::pair<const char*, std::string> cases[] = {
        {"EUC-JP", "\xc6\xfc\xcb\xdc\xb8\xec mail \xc3\xe6\xca\xb8"},
        {"shift_jis", "\x93\xfa\x96\x7b\x8c\xea mail \x92\x86\x95\xb6"},
        {"GBK", "\xc8\xd5\xb1\xbe\xd5\x5a mail \xd6\xd0\xce\xc4"},
        {"iso-2022-jp",
         "\x1b\x24\x42\x46\x7c\x4b\x5c\x38\x6c\x1b\x28\x42 mail "
         "\x1b\x24\x42\x43\x66\x4a\x38\x1b\x28\x42"},
    };
    for (const auto& [label, bytes] : cases) {
        charset cs;
        ASSERT_TRUE(cs.set(label)) << label;
        EXPECT_EQ(cs.kind(), charset::ICONV) << label;
        std::string out;
        std::size_t i = 0;
        while (i < bytes.size()) {
            bool valid = false;
            code_point c = cs.next_code_point_at(bytes, i, valid);
            if (valid) utf8_append(c, out);
        }
        EXPECT_EQ(out, want) << label;
        // The cursor form reads the same.
        std::string again;
        const char* p = bytes.c_str();
        bool valid = false;
        while (code_point c = cs.next_code_point(p, valid))
            if (valid) utf8_append(c, again);
        EXPECT_EQ(again, want) << label;
    }
    // Big5: the Chinese half only.
    charset big5("Big5");
    const std::string b = "\xa4\xa4\xa4\xe5";
    std::size_t i = 0;
    bool valid = false;
    EXPECT_EQ(big5.next_code_point_at(b, i, valid), 0x4E2Du);
    EXPECT_TRUE(valid);
    EXPECT_EQ(i, 2u);

    // A bad byte gives U+FFFD, invalid, and the next character still decodes; a character
    // cut off at the end moves to the end.
    charset euc("euc-jp");
    const std::string bad = "\xff\xc6\xfc\xc6";
    i = 0;
    EXPECT_EQ(euc.next_code_point_at(bad, i, valid), REPLACEMENT_CHARACTER);
    EXPECT_FALSE(valid);
    EXPECT_EQ(i, 1u);
    EXPECT_EQ(euc.next_code_point_at(bad, i, valid), 0x65E5u);
    EXPECT_TRUE(valid);
    EXPECT_EQ(euc.next_code_point_at(bad, i, valid), REPLACEMENT_CHARACTER);
    EXPECT_FALSE(valid);
    EXPECT_EQ(i, bad.size());

    // Labels that are no charset's, or that carry iconv's option syntax, stay seven-bit.
    for (const char* label : {"klingon", "utf-8//TRANSLIT", "euc-jp x", ""}) {
        charset cs;
        EXPECT_FALSE(cs.set(label)) << label;
        EXPECT_EQ(cs.kind(), charset::SEVEN_BIT) << label;
    }
}

TEST(Charset, Utf8KindDecodesSequences) {
    charset cs;
    EXPECT_EQ(cs.label(), "utf-8");
    std::string s = "\xC3\xA9\xC3";
    std::size_t i = 0;
    bool valid;
    EXPECT_EQ(cs.next_code_point_at(s, i, valid), 0xE9u);
    EXPECT_EQ(cs.next_code_point_at(s, i, valid), 0xFFFDu);
    EXPECT_FALSE(valid);
    EXPECT_EQ(i, s.size());
    EXPECT_EQ(cs.next_code_point_at(s, i, valid), 0xFFFDu); // past the end
}

TEST(Charset, ProcessWideDecoder) {
    EXPECT_TRUE(set_input_charset("cp1252"));
    std::string s = "\x80z";
    std::size_t i = 0;
    bool valid;
    EXPECT_EQ(next_code_point_at(s, i, valid), 0x20ACu);
    const char* p = s.c_str();
    EXPECT_EQ(next_code_point(p, valid), 0x20ACu);
    EXPECT_EQ(next_code_point(p, valid), code_point('z'));
    EXPECT_FALSE(set_input_charset("nonsense"));
    EXPECT_EQ(input_charset().kind(), charset::SEVEN_BIT);
    EXPECT_TRUE(set_input_charset("utf-8"));
}

// The tables against glibc's iconv converters, an independent source of the same mappings.
TEST(Charset, TablesAgreeWithIconv) {
    struct m {
        const char* table;
        const char* iconv_name;
    } names[] = {
        {"macroman", "MACINTOSH"}, {"cp1250", "CP1250"}, {"cp1251", "CP1251"}, {"cp1252", "CP1252"},
        {"cp1253", "CP1253"},      {"cp1254", "CP1254"}, {"cp1255", "CP1255"}, {"cp1256", "CP1256"},
        {"cp1257", "CP1257"},      {"cp1258", "CP1258"}, {"cp437", "CP437"},   {"cp737", "CP737"},
        {"cp775", "CP775"},        {"cp850", "CP850"},   {"cp852", "CP852"},   {"cp855", "CP855"},
        {"cp857", "CP857"},        {"cp860", "CP860"},   {"cp861", "CP861"},   {"cp862", "CP862"},
        {"cp863", "CP863"},        {"cp864", "CP864"},   {"cp865", "CP865"},   {"cp866", "CP866"},
        {"cp869", "CP869"},        {"cp874", "CP874"},
    };
    std::vector<m> all(std::begin(names), std::end(names));
    static const char* const iso_names[] = {
        "ISO-8859-2",  "ISO-8859-3",  "ISO-8859-4",  "ISO-8859-5",  "ISO-8859-6",
        "ISO-8859-7",  "ISO-8859-8",  "ISO-8859-9",  "ISO-8859-10", "ISO-8859-11",
        "ISO-8859-13", "ISO-8859-14", "ISO-8859-15", "ISO-8859-16"};
    static std::vector<std::string> iso_tables;
    for (int n = 2; n <= 16; ++n)
        if (n != 12) iso_tables.push_back("iso8859_" + std::to_string(n));
    for (std::size_t k = 0; k < iso_tables.size(); ++k)
        all.push_back({iso_tables[k].c_str(), iso_names[k]});

    // Bytes where the published mappings themselves disagree between the two sources.
    struct known {
        const char* table;
        unsigned byte;
    } differences[] = {
        // Apple's published table gives INCREMENT and the Apple logo (private use); glibc
        // keeps the older GREEK CAPITAL DELTA and a private-use value of its own.
        {"macroman", 0xC6},
        {"macroman", 0xF0},
    };
    auto is_known = [&](const char* t, unsigned b) {
        for (const known& k : differences)
            if (std::strcmp(k.table, t) == 0 && k.byte == b) return true;
        return false;
    };

    ASSERT_EQ(all.size(), charset_data::table_count);
    for (const m& entry : all) {
        const code_point* ours = nullptr;
        for (std::size_t i = 0; i < charset_data::table_count; ++i)
            if (std::strcmp(charset_data::tables[i].name, entry.table) == 0)
                ours = charset_data::tables[i].table;
        ASSERT_NE(ours, nullptr) << entry.table;
        iconv_t cd = iconv_open("UTF-32LE", entry.iconv_name);
        ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1)) << entry.iconv_name;
        for (unsigned b = 0; b < 256; ++b) {
            char in = static_cast<char>(b);
            char out[16];
            char* inp = &in;
            char* outp = out;
            std::size_t inleft = 1, outleft = sizeof out;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
            std::size_t r = iconv(cd, &inp, &inleft, &outp, &outleft);
            code_point theirs = 0;
            // A combining-capable converter may hold a base letter back until flushed.
            if (r != static_cast<std::size_t>(-1) && outp == out)
                iconv(cd, nullptr, nullptr, &outp, &outleft);
            if (r != static_cast<std::size_t>(-1) && outp - out >= 4)
                std::memcpy(&theirs, out, 4); // little-endian host assumed by UTF-32LE
            if (is_known(entry.table, b)) continue;
            EXPECT_EQ(ours[b], theirs) << entry.table << " byte 0x" << std::hex << b;
        }
        iconv_close(cd);
    }
}
