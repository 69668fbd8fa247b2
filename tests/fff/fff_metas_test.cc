#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fff_test_util.h"
#include "fff/math-coding.h"
#include "fff/metas.h"

namespace {

using namespace fff_test;

std::string pack(const std::vector<FFF::meta>& list) {
    std::string out = "junk";
    FFF::metas_to_binary(out, list);
    return out;
}

TEST(FffMetas, PackingExampleByteForByte) {
    EXPECT_EQ(pack({}), "");
    EXPECT_EQ(hex(pack({{FFF::meta_documentwide, 15, "k", "v", 0, 0}})), "80 8F 81 6B 81 76");
    // Positional: pos follows; ranged: pos and end.
    EXPECT_EQ(hex(pack({{FFF::meta_positional, 1, "a", "", 300, 0}})), "81 81 81 61 80 2C 82");
    EXPECT_EQ(hex(pack({{FFF::meta_ranged, 2, "", "b", 0, 128}})), "82 82 80 81 62 80 00 81");
}

TEST(FffMetas, SortedAndDeduplicatedIgnoringDictid) {
    const std::vector<FFF::meta> list = {
        {FFF::meta_positional, 1, "b", "x", 5, 0},   {FFF::meta_documentwide, 2, "z", "v", 0, 0},
        {FFF::meta_documentwide, 9, "z", "v", 0, 0}, // same but dictid: dropped
        {FFF::meta_documentwide, 2, "a", "w", 0, 0}, {FFF::meta_documentwide, 2, "a", "v", 0, 0},
        {FFF::meta_ranged, 3, "r", "x", 4, 9},       {FFF::meta_positional, 1, "b", "x", 4, 0},
    };
    const std::vector<FFF::meta> copy = list;
    const std::string packed = pack(list);
    EXPECT_EQ(list, copy); // the list itself is not changed

    std::vector<FFF::meta> back(3);
    ASSERT_TRUE(FFF::metas_from_binary(back, packed));
    ASSERT_EQ(back.size(), 6u);
    std::vector<std::string> order;
    for (const auto& m : back)
        order.push_back(std::to_string(m.type) + m.key + m.value + std::to_string(m.pos));
    EXPECT_EQ(order, (std::vector<std::string>{"0av0", "0aw0", "0zv0", "1bx4", "1bx5", "2rx4"}));
    EXPECT_TRUE(back[2].dictid == 2 || back[2].dictid == 9);
    EXPECT_EQ(back[5].end, 9u);
    EXPECT_EQ(back[4].end, 0u);
}

TEST(FffMetas, TruncatedOrLyingInputKeepsTheCompleteRecords) {
    const std::string two = pack({{0, 15, "k", "v", 0, 0}, {2, 1, "key", "value", 7, 8}});
    ASSERT_EQ(two.size(), 6u + 14u);
    // Every cut inside the second record keeps exactly the first one.
    for (std::size_t cut = 7; cut < two.size(); ++cut) {
        std::vector<FFF::meta> list;
        EXPECT_FALSE(FFF::metas_from_binary(list, two.substr(0, cut))) << cut;
        ASSERT_EQ(list.size(), 1u) << cut;
        EXPECT_EQ(list[0].key, "k");
    }
    struct bad_case {
        std::string in;
        std::size_t kept;
    };
    const std::vector<bad_case> cases = {
        {bytes({0x80, 0x8F, 0x7F, 0x7F, 0x7F, 0x7F, 0x8F}), 0}, // key length 4294967295
        {bytes({0x80, 0x8F, 0x85, 0x6B}), 0},                   // key runs past the end
        {bytes({0x00, 0x00, 0x00, 0x00, 0x00, 0x80}), 0},       // over-long type
        {bytes({0x87, 0x81, 0x80, 0x80, 0x87, 0x81, 0x80}), 1}, // type 7 has no positions
    };
    for (const auto& c : cases) {
        std::vector<FFF::meta> list;
        FFF::metas_from_binary(list, c.in);
        EXPECT_EQ(list.size(), c.kept) << hex(c.in);
    }
}

TEST(FffMetas, MathCoding) {
    unsigned char buf[5];
    const std::vector<std::uint32_t> values = {0, 1, 127, 128, 16383, 16384, 1000000, 0xFFFFFFFFu};
    for (std::uint32_t v : values) {
        const std::size_t n = lumbrake::math_encode(buf, sizeof buf, v);
        ASSERT_EQ(n, lumbrake::math_encoded_size(v)) << v;
        std::uint32_t back = 0;
        EXPECT_EQ(lumbrake::math_decode(buf, n, back), n) << v;
        EXPECT_EQ(back, v);
        if (n > 1) {
            EXPECT_EQ(lumbrake::math_encode(buf, n - 1, v), 0u) << v;    // buffer too small
            EXPECT_EQ(lumbrake::math_decode(buf, n - 1, back), 0u) << v; // ends too early
        }
    }
}

} // namespace
