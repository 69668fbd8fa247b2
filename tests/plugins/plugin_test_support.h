// Shared helpers of the plug-in tests: a log capture and plug-in folders made of fixtures.
#pragma once

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

// Captures every log line at every level while it lives.
class log_capture {
public:
    log_capture() {
        saved_ = lumbrake::g_log;
        stream_ = open_memstream(&buffer_, &size_);
        lumbrake::g_log.stream = stream_;
        for (int& t : lumbrake::g_log.thresholds)
            t = lumbrake::LL_BORING;
    }
    ~log_capture() {
        lumbrake::g_log = saved_;
        std::fclose(stream_);
        std::free(buffer_);
    }
    std::string text() {
        std::fflush(stream_);
        return std::string(buffer_, size_);
    }
    // Lines that hold the piece.
    int count(const std::string& piece) {
        std::string all = text();
        int n = 0;
        for (std::size_t at = all.find(piece); at != std::string::npos;
             at = all.find(piece, at + piece.size()))
            ++n;
        return n;
    }
    bool has(const std::string& piece) { return count(piece) > 0; }
    // The ERROR lines only.
    std::vector<std::string> errors() {
        std::vector<std::string> out;
        std::string all = text();
        std::size_t start = 0;
        while (start < all.size()) {
            std::size_t end = all.find('\n', start);
            if (end == std::string::npos) end = all.size();
            std::string line = all.substr(start, end - start);
            if (line.find(" ERROR [") != std::string::npos) out.push_back(line);
            start = end + 1;
        }
        return out;
    }

private:
    lumbrake::log_state saved_;
    std::FILE* stream_ = nullptr;
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
};

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
