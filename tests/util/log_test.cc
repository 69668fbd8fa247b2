#include "linux-platform/eventlog.h"
#include "util/config.h"
#include "util/log.h"
#include "util/syslayer.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

using namespace lumbrake;

namespace {

// ctest runs the cases of this program in parallel processes: one file per process, removed
// when the process ends.
struct config_file {
    std::string path = testing::TempDir() + "logtest-" + std::to_string(getpid()) + ".conf";
    ~config_file() { std::remove(path.c_str()); }
} g_config_file;

std::string write_config(const std::string& body) {
    std::ofstream(g_config_file.path, std::ios::binary) << body;
    return g_config_file.path;
}

struct logcfg_case {
    const char* value;
    const char* error;
    int api, httpserver, log;
};

std::string stamp_of(time_t t) {
    char stamp[32];
    struct tm tm_utc;
    gmtime_r(&t, &tm_utc);
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &tm_utc);
    return stamp;
}

} // namespace

TEST(Logcfg, ThresholdsAndMessages) {
    const logcfg_case cases[] = {
        {"API:DEBUG HTTPSERVER:ERROR", "", 1, 4, 3},
        {"LOG:BORING", "", 3, 3, 0},
        {"API:DEBUG API:CRITICAL", "", 5, 3, 3}, // a later item wins
        {"FOO:DEBUG", " Unknown log facility FOO in config file, using LOG instead", 3, 3, 1},
        {"API:LOUD", " Unknown log level LOUD in config file, using INFO instead", 2, 3, 3},
        {"api:debug",
         " Unknown log facility api in config file, using LOG instead Unknown log level debug in "
         "config file, using INFO instead",
         3, 3, 2},
        {"API", " Can't find : in 'API'", 3, 3, 3},
        {"API:INFO ", " Can't find : in ''", 2, 3, 3},
        {"API:DEBUG:X  HTTPSERVER:ERROR", " Can't find : in 'API:DEBUG:X' Can't find : in ''", 3, 4,
         3},
        {"\x01\xff:\x80",
         " Unknown log facility \x01\xff in config file, using LOG instead "
         "Unknown log level \x80 in config file, using INFO instead",
         3, 3, 2},
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
        EXPECT_EQ(g_log.thresholds[LF_FETCHEDDOCS], 3) << c.value;
    }
    g_log.stream = nullptr;
}

TEST(Logcfg, MissingKeyAndSplitting) {
    config cfg(write_config("OTHER=1\n").c_str());
    std::string error = "stale";
    EXPECT_FALSE(apply_logcfg(error, cfg, stderr));
    EXPECT_EQ(error, " LOGCFG undefined in config file");
    g_log.stream = nullptr;

    const struct {
        const char* text;
        std::vector<std::string> pieces;
    } cases[] = {
        {"a b ", {"a", "b", ""}}, {"", {}}, {" ", {"", ""}}, {"a", {"a"}}, {"a  b", {"a", "", "b"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> pieces;
        split_string(" ", c.text, pieces);
        EXPECT_EQ(pieces, c.pieces) << "[" << c.text << "]";
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
    // clang-format off
    TN_LOG(LF_API, LL_DEBUG, "hello " << 42); int line = __LINE__;
    // clang-format on
    TN_LOG(LF_API, LL_BORING, "dropped");
    TN_LOG(LF_HTTPSERVER, LL_INFO, "dropped too");
    TN_LOG(LF_HTTPSERVER, LL_ERROR, "kept");
    time_t after = time(nullptr);
    g_log.stream = nullptr;
    fclose(mem);
    std::string text(buf, len);
    free(buf);
    unsetenv("TZ");
    tzset();

    std::string body = " DEBUG [tests/util/log_test.cc:" + std::to_string(line) + "] hello 42\n";
    std::string stamp = text.substr(0, 19);
    EXPECT_TRUE(stamp == stamp_of(before) || stamp == stamp_of(after)) << text;
    ASSERT_GT(text.size(), 19u);
    std::string rest = text.substr(19);
    EXPECT_EQ(rest.substr(0, body.size()), body) << text;
    EXPECT_NE(rest.find(" ERROR [tests/util/log_test.cc:"), std::string::npos) << text;
    EXPECT_NE(rest.find("] kept\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("dropped"), std::string::npos);
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
    // Before set-up there is no stream: messages are dropped, nothing is written anywhere.
    g_log.thresholds[LF_API] = 0;
    TN_LOG(LF_API, LL_ERROR, count());
    EXPECT_EQ(formatted, 1);
}

TEST(Log, OpenLogFile) {
    config cfg(write_config("LOGCFG=LOG:INFO\n").c_str());
    std::string error;
    std::string path = testing::TempDir() + "no-such-dir/x.log";
    EXPECT_FALSE(open_log_file(error, cfg, path));
    EXPECT_EQ(error, "Cannot open " + path + ": No such file or directory");

    path = testing::TempDir() + "tn_append-" + std::to_string(getpid()) + ".log";
    std::ofstream(path) << "earlier line\n";
    ASSERT_TRUE(open_log_file(error, cfg, path));
    TN_LOG(LF_LOG, LL_INFO, "appended");
    log_close();
    EXPECT_EQ(g_log.stream, nullptr);
    std::ifstream in(path);
    std::string first, second;
    std::getline(in, first);
    std::getline(in, second);
    EXPECT_EQ(first, "earlier line");
    EXPECT_NE(second.find(" INFO  [tests/util/log_test.cc:"), std::string::npos) << second;
    std::remove(path.c_str());
}

namespace {
void eventlog_to_stderr(platform::eventlog_type type, const char* text) {
    std::fprintf(stderr, "event %d: %s", static_cast<int>(type), text);
}
} // namespace

TEST(AssertionDeathTest, WritesEventLogTextAndAborts) {
    int three = 3;
    EXPECT_EXIT(
        {
            platform::set_eventlog_sink(eventlog_to_stderr);
            try {
                TN_ASSERT(three == 4);
            } catch (...) {
                // An assertion is never a C++ exception that a catch-all could swallow.
                std::fputs("caught\n", stderr);
            }
            std::exit(0);
        },
        testing::KilledBySignal(SIGABRT),
        "^event 0: tests/util/log_test.cc\\([0-9]+\\): assertion \\[three == 4\\] failed\\.\n"
        "tests/util/log_test.cc\\([0-9]+\\): assertion \\[three == 4\\] failed\\.\n$");
    TN_ASSERT(three == 3); // holds: nothing happens
}

TEST(AssertionDeathTest, TextReachesStandardErrorWithoutAnEventLogReader) {
    int three = 3;
    // The event log's own sink (syslog) is left in place: nothing may read it here.
    EXPECT_EXIT(TN_ASSERT(three == 5), testing::KilledBySignal(SIGABRT),
                "assertion \\[three == 5\\] failed\\.\n$");
}

TEST(Syslog, LevelsAndCutText) {
    static std::vector<std::pair<int, std::string>> seen;
    seen.clear();
    auto previous = platform::set_eventlog_sink(
        [](platform::eventlog_type type, const char* text) { seen.emplace_back(type, text); });
    lumbrake::syslog(0, "e %d", 1);
    lumbrake::syslog(1, "w");
    lumbrake::syslog(2, "i %s", "x");
    testing::internal::CaptureStderr();
    lumbrake::syslog(7, "odd");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Unknown syslog level 7, changed to error.\n");
    std::string big(5000, 'b');
    lumbrake::syslog(2, "%s", big.c_str());
    platform::set_eventlog_sink(previous);
    ASSERT_EQ(seen.size(), 5u);
    EXPECT_EQ(seen[0], std::make_pair(0, std::string("e 1")));
    EXPECT_EQ(seen[1], std::make_pair(1, std::string("w")));
    EXPECT_EQ(seen[2], std::make_pair(2, std::string("i x")));
    EXPECT_EQ(seen[3], std::make_pair(0, std::string("odd")));
    EXPECT_EQ(seen[4].second, std::string(4095, 'b'));
}
