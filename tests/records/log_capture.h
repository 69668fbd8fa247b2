// What the record tests share: a capture of the API log lines written while it lives, and the
// files of the test data folder.
#pragma once

#include "util/log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

class log_capture {
public:
    log_capture() {
        file_ = std::tmpfile();
        saved_ = lumbrake::g_log.stream;
        saved_level_ = lumbrake::g_log.thresholds[lumbrake::LF_API];
        lumbrake::g_log.stream = file_;
        lumbrake::set_log_level(lumbrake::LF_API, lumbrake::LL_DEBUG);
    }
    ~log_capture() {
        lumbrake::g_log.stream = saved_;
        lumbrake::g_log.thresholds[lumbrake::LF_API] = saved_level_;
        std::fclose(file_);
    }
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    std::string text() {
        std::fflush(file_);
        std::rewind(file_);
        std::string s;
        char buf[512];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0)
            s.append(buf, n);
        return s;
    }

private:
    std::FILE* file_;
    std::FILE* saved_;
    int saved_level_;
};

// The text of a file under the test data folder.
inline std::string data_file(const std::string& name) {
    std::ifstream f(std::string(TN_TEST_DATA) + "/" + name, std::ios::binary);
    EXPECT_TRUE(f.good()) << name;
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}
