// Stream filters: Flate against zlib's own compressor, LZW against the published example and
#include <map>
// an encoder written here, ASCII85 against Python's encoder, chains, the factory, RC4 and MD5
// against published vectors, and the size limit on decoded output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <zlib.h>

#include "pdf_core_util.h"
#include "pdfparser/pdf-filters.h"
#include "pdfparser/pdf-security.h"

using namespace PdfStreamFilter;
using pdf_core_test::Doc;
using PdfParser::ByteSink;

namespace {

std::string deflate_bytes(const std::string& in) {
    uLongf n = compressBound(in.size());
    std::string out(n, '\0');
    compress2(reinterpret_cast<Bytef*>(out.data()), &n, reinterpret_cast<const Bytef*>(in.data()),
              in.size(), 9);
    out.resize(n);
    return out;
}

// Decodes the whole document with the filter (file form).
std::string decode_file(GenericFilter& f, const std::string& data) {
    Doc doc(data);
    ByteSink out;
    f.decode(0, doc.length(), out);
    return out.str();
}

std::string hex(const std::string& s) {
    static const char* d = "0123456789abcdef";
    std::string out;
    for (unsigned char c : s) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

// MSB-first bit writer for hand-made LZW code sequences.
std::string pack_codes(const std::vector<std::pair<int, int>>& codes_and_widths) {
    std::string out;
    std::uint32_t acc = 0;
    int bits = 0;
    for (auto [code, width] : codes_and_widths) {
        acc = (acc << width) | static_cast<std::uint32_t>(code);
        bits += width;
        while (bits >= 8) {
            out += static_cast<char>((acc >> (bits - 8)) & 0xFF);
            bits -= 8;
        }
    }
    if (bits) out += static_cast<char>((acc << (8 - bits)) & 0xFF);
    return out;
}

// A plain LZW encoder with early change and no clear codes: the table fills at 4096 and the
// codes stay 12 bits wide from there on.
std::string lzw_encode_no_clear(const std::string& in) {
    std::map<std::string, int> table;
    for (int k = 0; k < 256; ++k)
        table[std::string(1, static_cast<char>(k))] = k;
    int next = 258, width = 9;
    std::vector<std::pair<int, int>> codes{{256, 9}};
    std::string w;
    for (char c : in) {
        std::string wc = w + c;
        if (table.count(wc)) {
            w = wc;
            continue;
        }
        codes.push_back({table[w], width});
        if (next < 4096) {
            table[wc] = next++;
            // The decoder defines each entry one code later, so it widens one code later.
            if (next == (1 << width) && width < 12) ++width;
        }
        w = std::string(1, c);
    }
    codes.push_back({table[w], width});
    codes.push_back({257, width});
    return pack_codes(codes);
}

} // namespace

TEST(PdfCoreFilters, FlateMatchesZlib) {
    std::string text;
    for (int k = 0; k < 200000; ++k)
        text += "line " + std::to_string(k * 7919 % 100003) + "\n";
    InflateFilter f;
    EXPECT_EQ(decode_file(f, deflate_bytes(text)), text);
    EXPECT_EQ(decode_file(f, deflate_bytes("")), "");
}

TEST(PdfCoreFilters, FlateErrorsCarryZlibCodes) {
    const std::string z = deflate_bytes(std::string(5000, 'q') + "tail of the stream");
    const struct {
        std::string data;
        int code;
        const char* message;
    } cases[] = {
        {z.substr(0, z.size() / 2), Z_BUF_ERROR, "Z_BUF_ERROR"},
        {"this is no zlib stream", Z_DATA_ERROR, "Z_DATA_ERROR"},
        {"", Z_BUF_ERROR, "Z_BUF_ERROR"},
    };
    for (const auto& c : cases) {
        InflateFilter f;
        try {
            decode_file(f, c.data);
            ADD_FAILURE() << c.message;
        } catch (const FilterError& e) {
            EXPECT_EQ(e.code(), c.code);
            EXPECT_EQ(e.message(), c.message);
            EXPECT_NE(dynamic_cast<const InflateFilterError*>(&e), nullptr);
        }
    }
    EXPECT_EQ(InflateFilterError(42).message(), "Unknow error code");
}

TEST(PdfCoreFilters, DecompressionBombStopsAtTheLimit) {
    // About 100 KB of Flate data that would inflate to 100 MB.
    z_stream zs{};
    deflateInit(&zs, 9);
    std::string block(1 << 20, '\0'), out(1 << 20, '\0'), compressed;
    for (int k = 0; k < 100; ++k) {
        zs.next_in = reinterpret_cast<Bytef*>(block.data());
        zs.avail_in = static_cast<uInt>(block.size());
        do {
            zs.next_out = reinterpret_cast<Bytef*>(out.data());
            zs.avail_out = static_cast<uInt>(out.size());
            deflate(&zs, k == 99 ? Z_FINISH : Z_NO_FLUSH);
            compressed.append(out.data(), out.size() - zs.avail_out);
        } while (zs.avail_out == 0);
    }
    deflateEnd(&zs);
    InflateFilter f;
    EXPECT_THROW(decode_file(f, compressed), OutputLimitError);
}

TEST(PdfCoreFilters, LzwDecodes) {
    LZWDecodeFilter f;
    // The example of the PDF format's description: codes 256 45 258 258 65 259 66 257.
    EXPECT_EQ(decode_file(f, "\x80\x0B\x60\x50\x22\x0C\x0C\x85\x01"), "-----A---B");

    // Ghostscript's LZWEncode filter (which clears the table when it fills).
    if (pdf_core_test::have_tool("gs")) {
        const std::string dir = pdf_core_test::tmp_dir();
        std::string input;
        for (int k = 0; k < 50000; ++k)
            input += static_cast<char>("abcdefghijklmnopqrst"[(k * 7919 + k / 13) % 20]);
        pdf_core_test::write_file(dir + "lzw.in", input);
        pdf_core_test::run("gs -q -dNOSAFER -dBATCH -dNODISPLAY -c \"/out (" + dir +
                           "lzw.out) (w) file /LZWEncode filter def /in (" + dir +
                           "lzw.in) (r) file def { in 4096 string readstring exch out exch "
                           "writestring not { exit } if } loop out closefile\"");
        const std::string encoded = pdf_core_test::read_file(dir + "lzw.out");
        ASSERT_FALSE(encoded.empty());
        EXPECT_EQ(decode_file(f, encoded), input);
    }

    // Long enough to fill the table without a clear code, so the codes stay 12 bits wide.
    std::string text;
    unsigned x = 12345;
    for (int k = 0; k < 60000; ++k) {
        x = x * 1103515245 + 12345;
        text += static_cast<char>('a' + (x >> 16) % 20);
    }
    EXPECT_EQ(decode_file(f, lzw_encode_no_clear(text)), text);

    // Code 257 ends the data; what follows is ignored.
    EXPECT_EQ(decode_file(f, pack_codes({{256, 9}, {72, 9}, {105, 9}, {257, 9}, {88, 9}})), "Hi");
}

TEST(PdfCoreFilters, LzwBadCodes) {
    LZWDecodeFilter f;
    // 65, then 259 (not yet defined and not the next code), then 65 again defines entry 259 with
    // itself as prefix; using 259 then is a bad code.
    const std::string self_prefix = pack_codes({{256, 9}, {65, 9}, {259, 9}, {65, 9}, {259, 9}});
    try {
        decode_file(f, self_prefix);
        FAIL();
    } catch (const LZWDecodeFilterError& e) {
        EXPECT_EQ(e.message(), "bad code");
        EXPECT_EQ(e.code(), 1);
    }
    // Garbage never over-reads or loops: it decodes to something or fails with a filter error.
    std::string junk;
    for (int k = 0; k < 5000; ++k)
        junk += static_cast<char>((k * 131 + 7) & 0xFF);
    try {
        decode_file(f, junk);
    } catch (const FilterError&) {
    }
}

TEST(PdfCoreFilters, Ascii85) {
    ASCII85Filter f;
    // Python's base64.a85encode(..., adobe=True), without the leading "<~".
    EXPECT_EQ(decode_file(f, "87cURD]i,\"Ebo7~>"), "Hello World");
    EXPECT_EQ(decode_file(f, "@:E_WzGQ~>"), std::string("abcd\0\0\0\0x", 9));
    EXPECT_EQ(decode_file(f, " 87cUR\r\nD]i,\"E bo7 ~>"), "Hello World");
    EXPECT_EQ(decode_file(f, "GQ~>"), "x"); // a two-character group gives one byte
    // The file form ends at the last '~', the in-memory form at the first.
    EXPECT_EQ(decode_file(f, "GQ~>\r\n"), "x");
    {
        Doc doc("");
        ByteSink in, out;
        in.write(std::string_view("GQ~>GQ~>"));
        f.decode(in, out);
        EXPECT_EQ(out.str(), "x");
    }
    try {
        decode_file(f, "87cURD]i");
        FAIL();
    } catch (const ASCII85FilterError& e) {
        EXPECT_EQ(e.message(), "ASCII85 Filter: No tag ~>");
    }
    EXPECT_THROW(decode_file(f, "87c{}~>"), ASCII85FilterError);
}

TEST(PdfCoreFilters, ChainsAndFactory) {
    // [/FlateDecode /ASCII85Decode]: Flate first, then ASCII85.
    const std::string names = "[/FlateDecode/ASCII85Decode]";
    const std::string data = deflate_bytes("87cURD]i,\"Ebo7~>");
    Doc doc(names + data);
    auto chain = make_filter_array(1, names.size() - 1);
    ASSERT_EQ(chain->size(), 2u);
    ByteSink out;
    chain->decode(names.size(), doc.length(), out);
    EXPECT_EQ(out.str(), "Hello World");

    // In-memory chains read another sink.
    ByteSink in, out2;
    in.write(data);
    chain->decode(in, out2);
    EXPECT_EQ(out2.str(), "Hello World");

    for (const char* name : {"FlateDecode", "Fl", "Dumb", "ASCII85Decode", "A85", "LZWDecode"})
        EXPECT_NE(make_filter(name), nullptr) << name;
    try {
        make_filter("DCTDecode");
        FAIL();
    } catch (const MultipleFilterError& e) {
        EXPECT_EQ(e.message(), "Unsupported Filter : DCTDecode");
        e.log();
    }
    MultipleFilter empty;
    try {
        empty.decode(0, 0, out);
        FAIL();
    } catch (const MultipleFilterError& e) {
        EXPECT_EQ(e.message(), "Multiple filter error: Filter empty");
    }
}

TEST(PdfCoreFilters, WrongFilterArray) {
    Doc doc("[ FlateDecode ]");
    try {
        make_filter_array(1, doc.length() - 1);
        FAIL();
    } catch (const PdfParser::BadObjectException& e) {
        EXPECT_EQ(e.message(), "Wrong Filter");
    }
}

TEST(PdfCoreCrypto, Rc4AndMd5Vectors) {
    // Published RC4 test vectors.
    EXPECT_EQ(hex(PdfParser::rc4("Key", "Plaintext")), "bbf316e8d940af0ad3");
    EXPECT_EQ(hex(PdfParser::rc4("Wiki", "pedia")), "1021bf0420");
    EXPECT_EQ(hex(PdfParser::rc4("Secret", "Attack at dawn")), "45a01f645fc35b383552544b9bf5");
    // A continued state equals one long run.
    PdfParser::Rc4State st;
    PdfParser::rc4_schedule(st, reinterpret_cast<const std::uint8_t*>("Secret"), 6);
    std::string a = "Attack", b = " at dawn";
    PdfParser::rc4_xor(st, reinterpret_cast<std::uint8_t*>(a.data()), a.size());
    PdfParser::rc4_xor(st, reinterpret_cast<std::uint8_t*>(b.data()), b.size());
    EXPECT_EQ(hex(a + b), "45a01f645fc35b383552544b9bf5");

    auto md5hex = [](std::string_view s) {
        auto d = PdfParser::Md5::digest(s);
        return hex(std::string(reinterpret_cast<const char*>(d.data()), d.size()));
    };
    EXPECT_EQ(md5hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5hex("The quick brown fox jumps over the lazy dog"),
              "9e107d9d372bb6826bd81d3542a419d6");

    // The RC4 filter decrypts under the object key: MD5(key[:5] + 3 bytes number + 2 bytes
    // generation), its first 10 bytes for a 40-bit key.
    const std::string file_key = "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10";
    auto d = PdfParser::Md5::digest(PdfParser::make_object_key(file_key.substr(0, 5), 7, 0));
    const std::string obj_key(reinterpret_cast<const char*>(d.data()), 10);
    EXPECT_EQ(PdfParser::object_key(file_key, 40, 7, 0), obj_key);
    EXPECT_EQ(PdfParser::object_key(file_key, 128, 7, 0).size(), 16u);
    RC4Filter f(file_key, 40, 7, 0);
    EXPECT_EQ(decode_file(f, PdfParser::rc4(obj_key, "secret text")), "secret text");
}
