// A fresh scratch folder below the test's temporary folder.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace tn_test {

inline std::filesystem::path scratch(const char* name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    auto p = std::filesystem::path(std::string(tmp ? tmp : "/tmp/") + name);
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    return p;
}

} // namespace tn_test
