#include "util/config.h"
#include "util/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

using namespace lumbrake;

namespace {

std::string write_config(const std::string& body) {
    std::string path = testing::TempDir() + "logtest.conf";
    std::ofstream(path) << body;
    return path;
}

struct logcfg_case {
    const char* value;
    const char* error;
    int api, httpserver, log;
};

} // namespace

TEST(Logcfg, ThresholdsAndMessages) {
    const logcfg_case cases[] = {
        {"API:DEBUG HTTPSERVER:ERROR", "", 1, 4, 3},
        {"LOG:BORING", "", 3, 3, 0},
        {"FOO:DEBUG", " Unknown log facility FOO in config file, using LOG instead", 3, 3, 1},
        {"API:LOUD", " Unknown log level LOUD in config file, using INFO instead", 2, 3, 3},
        {"API", " Can't find : in 'API'", 3, 3, 3},
        {"API:INFO ", " Can't find : in ''", 2, 3, 3},
        {"", " LOGCFG undefined in config file", 3, 3, 3},
    };
    for (const logcfg_case& c : cases) {
        config cfg(write_config(std::string("LOGCFG=") + c.value + "\n").c_str());
        std::string error;
        bool ok = apply_logcfg(error, cfg, stderr);
        EXPECT_EQ(ok, *c.value != 0) << c.value;
        EXPECT_EQ(error, c.error) << c.value;
        EXPECT_EQ(g_log.thresholds[LF_API], c.api) << c.value;
        EXPECT_EQ(g_log.thresholds[LF_HTTPSERVER], c.httpserver) << c.value;
        EXPECT_EQ(g_log.thresholds[LF_LOG], c.log) << c.value;
    }
}

TEST(Log, LineFormatIsUtc) {
    setenv("TZ", "Asia/Tokyo", 1);
    tzset();
    char* buf = nullptr;
    size_t len = 0;
    FILE* mem = open_memstream(&buf, &len);
    config cfg(write_config("LOGCFG=API:DEBUG\n").c_str());
    std::string error;
    ASSERT_TRUE(apply_logcfg(error, cfg, mem));
    time_t before = time(nullptr);
    TN_LOG(LF_API, LL_DEBUG, "hello " << 42);
    TN_LOG(LF_API, LL_BORING, "dropped");
    g_log.stream = nullptr;
    fclose(mem);
    std::string line(buf, len);
    free(buf);
    char stamp[32];
    struct tm tm_utc;
    gmtime_r(&before, &tm_utc);
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H", &tm_utc);
    EXPECT_EQ(line.substr(0, 13), stamp);
    EXPECT_NE(line.find(" DEBUG [tests/util/log_test.cc:"), std::string::npos) << line;
    EXPECT_NE(line.find("] hello 42\n"), std::string::npos) << line;
    EXPECT_EQ(line.find("dropped"), std::string::npos);
    unsetenv("TZ");
    tzset();
}

TEST(Log, SuppressedLevelDoesNotFormat) {
    config cfg(write_config("LOGCFG=API:ERROR\n").c_str());
    std::string error;
    apply_logcfg(error, cfg, stderr);
    int formatted = 0;
    auto count = [&] { return ++formatted; };
    TN_LOG(LF_API, LL_DEBUG, count());
    EXPECT_EQ(formatted, 0);
    g_log.stream = nullptr;
}
