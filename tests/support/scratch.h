// Scratch folders for tests: ctest gives every test program a temporary folder of its own
// (TEST_TMPDIR); a program run by hand uses /tmp.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tn_test {

// TEST_TMPDIR, or "/tmp/"; it ends in '/', so a name can follow directly.
inline std::string test_tmpdir() {
    const char* tmp = std::getenv("TEST_TMPDIR");
    return tmp ? tmp : "/tmp/";
}

// test_tmpdir() / "<prefix>.<suite>.<test>", emptied and created: a run never sees the files
// of an earlier one.
inline std::filesystem::path test_scratch(const std::string& prefix) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::filesystem::path dir = std::filesystem::path(test_tmpdir()) /
                                (prefix + "." + info->test_suite_name() + "." + info->name());
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

// testing::TempDir() / name, emptied and created.
inline std::filesystem::path fresh_dir(const std::string& name) {
    std::filesystem::path dir = std::filesystem::path(::testing::TempDir()) / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

} // namespace tn_test
