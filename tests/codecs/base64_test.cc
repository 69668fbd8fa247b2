#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

#include "util/base64.h"

using namespace lumbrake;

namespace {

std::string encode_all(std::string_view bytes) {
    base64_encoder e;
    std::string out;
    e.encode(out, bytes);
    e.finish(out);
    return out;
}

std::string strip_breaks(std::string s) {
    std::string out;
    for (char c : s)
        if (c != '\r' && c != '\n') out += c;
    return out;
}

} // namespace

TEST(Base64Encoder, LineBreaksAfterEighteenGroups) {
    std::string bytes(54, 'x');
    std::string out;
    base64_encoder e;
    e.encode(out, bytes);
    ASSERT_EQ(out.size(), 74u);
    EXPECT_EQ(out.substr(72), "\r\n");
    e.finish(out);
    EXPECT_EQ(out.size(), 74u); // finish adds no break

    std::string out55 = encode_all(std::string(55, 'x'));
    ASSERT_EQ(out55.size(), 78u);
    EXPECT_EQ(out55.substr(72, 2), "\r\n");
    EXPECT_EQ(out55.substr(74), "eA==");
    EXPECT_EQ(encode_all("Ma"), "TWE=");
    EXPECT_EQ(encode_all(""), "");
}

TEST(Base64Encoder, SplitCallsGiveTheSameTextAsOne) {
    std::mt19937 rng(7);
    std::string bytes(500, '\0');
    for (char& c : bytes)
        c = static_cast<char>(rng());
    std::string whole = encode_all(bytes);
    base64_encoder e;
    std::string pieces;
    for (std::size_t i = 0; i < bytes.size();) {
        std::size_t n = std::min<std::size_t>(rng() % 7, bytes.size() - i);
        e.encode(pieces, std::string_view(bytes).substr(i, n));
        i += n;
    }
    e.finish(pieces);
    EXPECT_EQ(pieces, whole);
}

// Against OpenSSL's base64 (no line breaks there) in both directions.
TEST(Base64, AgreesWithOpenSsl) {
    std::mt19937 rng(11);
    for (std::size_t len : {0u, 1u, 2u, 3u, 53u, 54u, 55u, 56u, 200u, 1001u}) {
        std::string bytes(len, '\0');
        for (char& c : bytes)
            c = static_cast<char>(rng());
        std::vector<unsigned char> theirs(4 * ((len + 2) / 3) + 1);
        int n = EVP_EncodeBlock(theirs.data(), reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(len));
        std::string ours = encode_all(bytes);
        EXPECT_EQ(strip_breaks(ours), std::string(reinterpret_cast<char*>(theirs.data()), n));

        base64_decoder d;
        std::string back;
        EXPECT_TRUE(d.decode(back, ours));
        EXPECT_EQ(d.finish(), len % 3 != 0);
        EXPECT_EQ(back, bytes);

        std::string inplace = ours;
        base64_decode(inplace.data());
        EXPECT_EQ(std::string(inplace.c_str()), bytes.substr(0, bytes.find('\0')));
    }
}

TEST(Base64Decoder, ErrorCounting) {
    struct c {
        const char* text;
        const char* want;
        int errors;
        bool ended;
    } cases[] = {
        {"TWFu", "Man", 0, false},
        {"TW E=", "Ma", 1, true},
        {"TQ==TWFu", "MMan", 1, false},
        {"TQ==", "M", 0, true},
        {"TW\r\nFu", "Man", 0, false},
        {"=QWE", "", 1, false},
        {"Q=WE", "", 1, false},
        {"TW=u", "M.", 1, false}, // third "=" not followed by "=":
                                  // byte two skipped
        {"TWF", "", 0, false},    // partial group dropped by finish
        {"T*W!F?u", "Man", 3, false},
    };
    for (const auto& tc : cases) {
        base64_decoder d;
        std::string out;
        bool ok = d.decode(out, tc.text);
        EXPECT_EQ(out, std::string(tc.want)) << tc.text;
        EXPECT_EQ(d.errors(), tc.errors) << tc.text;
        EXPECT_EQ(ok, tc.errors == 0) << tc.text;
        EXPECT_EQ(d.finish(), tc.ended) << tc.text;
    }
}

TEST(Base64Decoder, StateCarriesAcrossCallsAndErrorsDoNot) {
    base64_decoder d;
    std::string out;
    EXPECT_FALSE(d.decode(out, "TW!"));
    EXPECT_EQ(d.errors(), 1);
    EXPECT_TRUE(d.decode(out, "Fu"));
    EXPECT_EQ(d.errors(), 0);
    EXPECT_EQ(out, "Man");
}

TEST(Base64DecodeInPlace, Cases) {
    struct c {
        const char* text;
        const char* want;
    } cases[] = {
        {"", ""},          {"TWFu", "Man"},
        {"TWE=", "Ma"},    {"TQ==", "M"},
        {"TQ==TWFu", "M"}, {" T W\r\nF u ", "Man"},
        {"TWFuTW", "Man"}, {"dXNlcjpwYXNzOndvcmQ=", "user:pass:word"},
        {"====", ""},      {"!!!", ""},
    };
    for (const auto& tc : cases) {
        std::string buf = tc.text;
        base64_decode(buf.data());
        EXPECT_STREQ(buf.c_str(), tc.want) << tc.text;
    }
}
