#include "util/fileio.h"

#include <gtest/gtest.h>

using namespace lumbrake;

TEST(WholeFile, WriteThenReadKeepsEveryByte) {
    std::string path = testing::TempDir() + "wholefile.bin";
    std::string bytes;
    for (int i = 0; i < 10000; ++i)
        bytes += static_cast<char>(i * 7); // zero bytes, > 4096
    std::string error = "stale";
    ASSERT_TRUE(write_whole_file(path, error, bytes));
    EXPECT_EQ(error, "");
    std::string content = "stale";
    ASSERT_TRUE(read_whole_file(path, error, content));
    EXPECT_EQ(content, bytes);
    // Writing truncates.
    ASSERT_TRUE(write_whole_file(path, error, "ab"));
    ASSERT_TRUE(read_whole_file(path, error, content));
    EXPECT_EQ(content, "ab");
    ASSERT_TRUE(write_whole_file(path, error, ""));
    ASSERT_TRUE(read_whole_file(path, error, content));
    EXPECT_EQ(content, "");
}

TEST(WholeFile, FailuresCarryTheSystemText) {
    std::string error, content = "stale";
    EXPECT_FALSE(read_whole_file("/nonexistent-dir/x", error, content));
    EXPECT_EQ(error, "No such file or directory");
    EXPECT_EQ(content, "");
    EXPECT_FALSE(read_whole_file("/", error, content)); // a directory cannot be read
    EXPECT_EQ(error, "Is a directory");
    EXPECT_FALSE(write_whole_file("/nonexistent-dir/x", error, "a"));
    EXPECT_EQ(error, "No such file or directory");
    // A full device: the failure shows when the buffered bytes are flushed.
    EXPECT_FALSE(write_whole_file("/dev/full", error, "abc"));
    EXPECT_EQ(error, "No space left on device");
}
