// The committed table sources are exactly what the generators in scripts/gen make.
#include "../support/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

namespace {

std::string slurp(const std::string& path) {
    return tn_test::read_file(path);
}

void check_generator(const std::string& script, const std::string& args,
                     const std::string& committed) {
    namespace fs = std::filesystem;
    if (std::system("python3 -c '' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3 is not installed";
    std::string out = (fs::temp_directory_path() / ("tn_gen_" + std::to_string(::getpid()) + "_" +
                                                    fs::path(committed).filename().string()))
                          .string();
    std::string cmd = "python3 " + std::string(TN_SOURCE_DIR) + "/scripts/gen/" + script + " " +
                      args + " " + out + " >/dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::string fresh = slurp(out);
    fs::remove(out);
    EXPECT_FALSE(fresh.empty());
    EXPECT_TRUE(fresh == slurp(std::string(TN_SOURCE_DIR) + "/" + committed))
        << committed << " differs from the output of " << script;
}

} // namespace

TEST(GeneratedTables, UnicodeTablesMatchGenerator) {
    if (!std::filesystem::exists("/usr/share/unicode/CaseFolding.txt"))
        GTEST_SKIP() << "unicode-data is not installed";
    check_generator("gen_unicode_tables.py", "/usr/share/unicode", "src/util/unicode_tables.cc");
}

TEST(GeneratedTables, CharsetTablesMatchGenerator) {
    check_generator("gen_charset_tables.py", "", "src/util/charset_tables.cc");
}
