// Shared helpers of the worker tests: a DEPLOYDIR with a chosen bin/millhand, its
// configuration, and small file and process helpers.
#pragma once

#include "../support/files.h"
#include "util/config.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <unistd.h>

namespace millhand_test {

namespace fs = std::filesystem;

using tn_test::read_file;

using tn_test::write_file;

// A folder of its own under the test's temporary folder: DEPLOYDIR/bin/millhand is a link to
// the program given, DEPLOYDIR/plugins holds the plug-ins given, and the configuration file
// names DEPLOYDIR. The process environment names the configuration (through the environment
// store), so the worker started by a proxy reads the same file.
class deploy_dir {
public:
    deploy_dir(const std::string& name, const std::string& program,
               const std::vector<std::pair<std::string, std::string>>& plugins = {},
               const std::string& extra_config = "") {
        const char* tmp = std::getenv("TEST_TMPDIR");
        root_ = fs::path(tmp ? tmp : "/tmp/") / (name + "-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "deploy" / "bin");
        fs::create_directories(root_ / "deploy" / "plugins");
        const fs::path bin = root_ / "deploy" / "bin" / "millhand";
        if (program.ends_with(".py")) {
            // A script runs through its interpreter whatever its file mode.
            write_file(bin, "#!/bin/sh\nexec python3 '" + program + "' \"$@\"\n");
            fs::permissions(bin, fs::perms::owner_all);
        } else if (!program.empty()) {
            fs::create_symlink(program, bin);
        }
        for (const auto& [from, to] : plugins)
            fs::copy_file(from, root_ / "deploy" / "plugins" / to);
        const fs::path conf = root_ / "trawlnest.conf";
        write_file(conf, "LOGCFG=WORKER:ERROR PLUGINSYSTEM:ERROR\nDEPLOYDIR=" +
                             (root_ / "deploy").string() + "\n" + extra_config);
        write_file(root_ / "environment", "LUMBRAKE_CONFIG_FILE=" + conf.string() + "\n");
        ::setenv("LUMBRAKE_ENV_STORE", (root_ / "environment").c_str(), 1);
        cfg_ = std::make_unique<lumbrake::config>(conf.c_str());
    }
    ~deploy_dir() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    deploy_dir(const deploy_dir&) = delete;
    deploy_dir& operator=(const deploy_dir&) = delete;

    const lumbrake::config& cfg() const { return *cfg_; }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
    std::unique_ptr<lumbrake::config> cfg_;
};

} // namespace millhand_test
