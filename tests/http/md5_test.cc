#include "util/md5.h"

#include "../support/command.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <unistd.h>

using lumbrake::md5_hex;

namespace {

// md5sum's digest of the file's bytes, or empty when md5sum cannot run.
std::string md5sum_of(const std::string& bytes) {
    std::string path = testing::TempDir() + "md5_input-" + std::to_string(getpid()) + ".bin";
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    std::string cmd = "md5sum '" + path + "' 2>/dev/null";
    std::string out = tn_test::command_output(cmd);
    std::remove(path.c_str());
    return out.substr(0, out.find(' '));
}

} // namespace

TEST(Md5Hex, KnownDigests) {
    EXPECT_EQ(md5_hex(""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(md5_hex("abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(md5_hex("The quick brown fox jumps over the lazy dog"),
              "9e107d9d372bb6826bd81d3542a419d6");
}

TEST(Md5Hex, AgreesWithMd5sumOnEveryByteAndBlockEdges) {
    std::string all_bytes;
    for (int i = 0; i < 256; ++i)
        all_bytes += char(i);
    // Zero bytes count; 55, 56 and 64 bytes straddle the padding block boundary.
    const std::string inputs[] = {"",
                                  std::string("a\0b", 3),
                                  std::string(55, 'x'),
                                  std::string(56, 'x'),
                                  std::string(64, 'x'),
                                  all_bytes,
                                  std::string(100000, '\xff')};
    for (const std::string& in : inputs) {
        std::string expected = md5sum_of(in);
        if (expected.empty()) GTEST_SKIP() << "md5sum not available";
        std::string got = md5_hex(in);
        EXPECT_EQ(got, expected) << "length " << in.size();
        EXPECT_EQ(got.find_first_not_of("0123456789abcdef"), std::string::npos);
    }
}
