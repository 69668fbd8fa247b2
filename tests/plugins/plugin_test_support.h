// Shared helpers of the plug-in tests: the log capture and plug-in folders made of fixtures.
#pragma once

#include "../support/log_capture.h"
#include "util/config.h"
#include "util/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <unistd.h>
#include <vector>

namespace plugin_test {

using tn_test::log_capture;

inline std::string fixture(const std::string& name) {
    return std::string(TN_PLUGIN_FIXTURES) + "/" + name + ".so";
}

// The deployment folder of a test: one per test and process, since ctest runs tests in
// parallel processes. Removed when the process ends.
inline std::filesystem::path deployment_dir(const std::string& test_name) {
    struct cleanup {
        std::vector<std::filesystem::path> dirs;
        ~cleanup() {
            std::error_code ec;
            for (const auto& d : dirs)
                std::filesystem::remove_all(d, ec);
        }
    };
    static cleanup created;
    std::filesystem::path dir = std::filesystem::path(testing::TempDir()) /
                                ("plugins-" + test_name + "-" + std::to_string(getpid()));
    if (std::find(created.dirs.begin(), created.dirs.end(), dir) == created.dirs.end())
        created.dirs.push_back(dir);
    return dir;
}

// A deployment folder with DEPLOYDIR/plugins holding copies of fixtures (fixture name, file
// name in the folder); returns the configuration file naming it.
inline std::string make_deployment(const std::string& test_name,
                                   const std::vector<std::pair<std::string, std::string>>& files) {
    namespace fs = std::filesystem;
    fs::path deploy = deployment_dir(test_name);
    fs::remove_all(deploy);
    fs::create_directories(deploy / "plugins");
    for (const auto& [name, as] : files)
        fs::copy_file(fixture(name), deploy / "plugins" / as);
    std::string cfg = (deploy / "trawlnest.conf").string();
    std::ofstream(cfg) << "DEPLOYDIR=" << deploy.string() << "\n";
    return cfg;
}

inline std::string plugin_dir(const std::string& test_name) {
    return (deployment_dir(test_name) / "plugins").string();
}

} // namespace plugin_test
