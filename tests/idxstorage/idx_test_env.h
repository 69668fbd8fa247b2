// A scratch deployment for the index client tests: a working directory (the daemon's DATADIR),
// DEPLOYDIR/bin/siftvault pointing at the program under test, a configuration file and the
// environment store that names it. The process works inside the directory while it lives.
#pragma once

#include "../support/files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace idx_test {

namespace fs = std::filesystem;

using tn_test::read_file;

inline std::vector<std::string> read_lines(const fs::path& p) {
    std::vector<std::string> lines;
    std::ifstream in(p);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class scratch_deploy {
public:
    // program: the file that DEPLOYDIR/bin/siftvault links to; config_lines: extra KEY=VALUE.
    scratch_deploy(const std::string& program, const std::vector<std::string>& config_lines = {}) {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const char* tmp = std::getenv("TEST_TMPDIR");
        root_ = fs::path(tmp ? tmp : "/tmp/") /
                (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "deploy" / "bin");
        fs::create_directories(root_ / "data");
        fs::create_symlink(program, root_ / "deploy" / "bin" / "siftvault");
        {
            std::ofstream cfg(root_ / "trawlnest.cfg");
            cfg << "DEPLOYDIR=" << (root_ / "deploy").string() << "\n";
            for (const std::string& line : config_lines)
                cfg << line << "\n";
        }
        {
            std::ofstream env(root_ / "environment");
            env << "LUMBRAKE_CONFIG_FILE=" << (root_ / "trawlnest.cfg").string() << "\n";
        }
        ::setenv("LUMBRAKE_ENV_STORE", (root_ / "environment").c_str(), 1);
        old_cwd_ = fs::current_path();
        fs::current_path(root_ / "data");
    }
    ~scratch_deploy() {
        std::error_code ec;
        fs::current_path(old_cwd_, ec);
        ::unsetenv("LUMBRAKE_ENV_STORE");
    }
    fs::path data() const { return root_ / "data"; }

private:
    fs::path root_;
    fs::path old_cwd_;
};

} // namespace idx_test
