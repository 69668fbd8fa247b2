#include "../support/files.h"
#include "util/config.h"
#include "util/syslayer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sstream>
#include <unistd.h>

using namespace lumbrake;
namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir() {
        char tmpl[] = "/tmp/tn_sys_XXXXXX";
        if (mkdtemp(tmpl)) path_ = tmpl;
    }
    ~TempDir() { fs::remove_all(path_); }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

using tn_test::read_file;

std::vector<std::string> lines_with(const std::string& text, const std::string& prefix) {
    std::vector<std::string> result;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0)
            result.push_back(line.substr(prefix.size()));
    return result;
}

} // namespace

TEST(Time, UtcMktime) {
    const struct {
        int sec, min, hour, day, month, year, weekday;
        time_t expected;
    } cases[] = {
        {0, 0, 0, 2, 0, 1970, 5, 86400}, // 2 January 1970 was a Friday
        {0, 0, 0, 2, 0, 1970, -1, 86400},
        {0, 0, 0, 2, 0, 1970, 4, 0},   // wrong weekday
        {0, 0, 0, 31, 3, 2005, 0, 0},  // 31 April
        {0, 0, 0, 31, 3, 2005, -1, 0}, // not carried into May either
        {7, 5, 9, 3, 2, 2005, 4, 1109840707},
        {0, 0, 24, 1, 0, 2000, -1, 0},          // hour 24
        {60, 0, 0, 1, 0, 2000, -1, 0},          // second 60
        {0, 0, 0, 1, 12, 2000, -1, 0},          // month 12
        {0, 0, 0, 29, 1, 2004, -1, 1078012800}, // leap day
        {0, 0, 0, 29, 1, 1900, -1, 0},          // 1900 was no leap year
        {0, 0, 0, 29, 1, 2000, 2, 951782400},   // 2000 was, a Tuesday
        {0, 0, 0, 0, 0, 2000, -1, 0},           // day 0
        {59, 59, 23, 31, 11, 2037, -1, 2145916799},
        {0, 0, 0, 1, 0, 2100, 5, 4102444800}, // past 2038
    };
    for (const auto& c : cases)
        EXPECT_EQ(utc_mktime(c.sec, c.min, c.hour, c.day, c.month, c.year, c.weekday), c.expected)
            << c.year << "-" << c.month + 1 << "-" << c.day << " " << c.hour << ":" << c.min << ":"
            << c.sec << " wd " << c.weekday;
}

TEST(Time, GettimeofdayHasMillisecondResolution) {
    for (int i = 0; i < 5; ++i) {
        time_t before = time(nullptr);
        struct timeval tv = {-1, -1};
        EXPECT_EQ(lumbrake::gettimeofday(&tv), 0);
        time_t after = time(nullptr);
        // time() may read a coarser clock: allow it a second either way.
        EXPECT_GE(tv.tv_sec, before - 1);
        EXPECT_LE(tv.tv_sec, after + 1);
        EXPECT_GE(tv.tv_usec, 0);
        EXPECT_LT(tv.tv_usec, 1000000);
        EXPECT_EQ(tv.tv_usec % 1000, 0) << tv.tv_usec;
        lumbrake::usleep(1500); // one whole millisecond
    }
    lumbrake::usleep(999); // below a millisecond: returns at once
}

TEST(Strings, Basename) {
    const struct {
        const char* path;
        const char* expected;
    } cases[] = {
        {"C:\\dir\\prog.exe", "prog.exe"},
        {"dir/", "dir"},
        {"/", "/"},
        {"/usr/bin/docmill", "docmill"},
        {"docmill", "docmill"},
        {"a/b//", ""},
        {"", ""},
        {"x/", "x"},
        {"/a", "a"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lumbrake::basename(std::string(c.path)), c.expected) << c.path;
        std::string copy = c.path;
        copy.push_back(0);
        EXPECT_STREQ(lumbrake::basename(copy.data()), c.expected) << c.path;
    }
}

TEST(Strings, Strsep) {
    char text[] = "a,,b";
    char* cursor = text;
    std::vector<std::string> tokens;
    while (char* t = strsep_char(&cursor, ','))
        tokens.push_back(t);
    EXPECT_EQ(tokens, (std::vector<std::string>{"a", "", "b"}));
    EXPECT_NE(cursor, nullptr); // left at the end
    EXPECT_EQ(strsep_char(&cursor, ','), nullptr);

    char trailing[] = "a,";
    cursor = trailing;
    EXPECT_STREQ(strsep_char(&cursor, ','), "a");
    EXPECT_EQ(strsep_char(&cursor, ','), nullptr); // empty rest gives null
    char* null_cursor = nullptr;
    EXPECT_EQ(strsep_char(&null_cursor, ','), nullptr);

    char classic[] = "a, b,";
    cursor = classic;
    tokens.clear();
    while (char* t = lumbrake::strsep(&cursor, ", "))
        tokens.push_back(t);
    EXPECT_EQ(tokens, (std::vector<std::string>{"a", "", "b", ""}));
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(lumbrake::strsep(&cursor, ","), nullptr);

    char* end = nullptr;
    EXPECT_EQ(lumbrake::strtoll("-9223372036854775808x", &end, 10), INT64_MIN);
    EXPECT_STREQ(end, "x");
    EXPECT_EQ(lumbrake::strtoull("ffffffffffffffff", nullptr, 16), UINT64_MAX);
}

TEST(Errors, SystemErrorText) {
    errno = ENOENT;
    std::string text;
    system_error_text(text);
    EXPECT_EQ(text, "No such file or directory");
    EXPECT_EQ(system_error_text(EACCES), "Permission denied");
}

TEST(Files, DirectoryListingIsSorted) {
    TempDir dir;
    for (const char* name : {"zeta", "Alpha", "beta", "_under"})
        std::ofstream(dir.path() + "/" + name) << "x";
    fs::create_directory(dir.path() + "/mid");
    fs::create_directory_symlink(dir.path() + "/mid", dir.path() + "/link");

    dir_handle* h = lumbrake::opendir(dir.path());
    ASSERT_NE(h, nullptr);
    std::vector<std::string> names;
    std::vector<int> dirs;
    while (const dir_entry* e = lumbrake::readdir(h)) {
        names.push_back(e->name);
        dirs.push_back(e->is_directory);
    }
    EXPECT_EQ(lumbrake::readdir(h), nullptr);
    lumbrake::closedir(h);
    EXPECT_EQ(names, (std::vector<std::string>{".", "..", "Alpha", "_under", "beta", "link", "mid",
                                               "zeta"}));
    EXPECT_EQ(dirs, (std::vector<int>{1, 1, 0, 0, 0, 1, 1, 0}));

    EXPECT_EQ(lumbrake::opendir(dir.path() + "/zeta"), nullptr); // a file
    EXPECT_EQ(lumbrake::opendir(dir.path() + "/none"), nullptr);
    EXPECT_EQ(lumbrake::opendir(""), nullptr);
}

TEST(Files, DiskFreeSpace) {
    EXPECT_GT(disk_free_space("/tmp"), 0u);
    EXPECT_EQ(disk_free_space("/no/such/path"), 0u);
}

TEST(Deploy, MissingDeploydirGivesNoPath) {
    TempDir dir;
    const struct {
        const char* body;
        bool ok;
        const char* path;
    } cases[] = {
        {"DEPLOYDIR=/opt/tn\n", true, "/opt/tn/plugins"},
        {"DEPLOYDIR=/opt/tn//\n", true, "/opt/tn/plugins"},
        {"DEPLOYDIR=\n", false, ""},
        {"OTHER=1\n", false, ""},
    };
    for (const auto& c : cases) {
        std::string file = dir.path() + "/d.conf";
        std::ofstream(file) << c.body;
        config cfg(file.c_str());
        std::string path = "stale", error;
        EXPECT_EQ(deploy_path(cfg, "plugins", path, error), c.ok) << c.body;
        EXPECT_EQ(path, c.path) << c.body;
        EXPECT_EQ(error, c.ok ? "" : "DEPLOYDIR not defined in config file") << c.body;
    }
}

class Processes : public testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(platform_init(error));
        out_ = dir_.path() + "/out";
    }
    TempDir dir_;
    std::string out_;
};

TEST_F(Processes, ChildReceivesExactlyItsArgumentsAndEnvironment) {
    std::map<std::string, std::string> env = {{"TN_OUT", out_}, {"B", "x=y"}, {"EMPTY", ""}};
    std::string error = "stale";
    pid_t pid = spawn_process(error, TN_CHILD, {"args", "5000", "x y", "\"q\"", ""}, env);
    ASSERT_GT(pid, 0) << error;
    EXPECT_EQ(error, "");
    EXPECT_EQ(wait_process(pid), 0);
    std::string text = read_file(out_);
    EXPECT_EQ(lines_with(text, "arg:"),
              (std::vector<std::string>{"args", "5000", "x y", "\"q\"", ""}));
    EXPECT_EQ(lines_with(text, "argc="), std::vector<std::string>{"6"});
    // Exactly the given map, in key order.
    EXPECT_EQ(lines_with(text, "env:"),
              (std::vector<std::string>{"B=x=y", "EMPTY=", "TN_OUT=" + out_}));
}

TEST_F(Processes, ExitCodesAndKill) {
    std::string error;
    pid_t pid = spawn_process(error, TN_CHILD, {"exit", "7"}, {});
    ASSERT_GT(pid, 0) << error;
    int status = -1;
    EXPECT_EQ(lumbrake::waitpid(pid, &status), pid);
    EXPECT_EQ(status, 7);
    EXPECT_EQ(lumbrake::waitpid(pid, &status), -1); // already reaped
    EXPECT_EQ(wait_process(pid), 0);

    pid = spawn_process(error, TN_CHILD, {"sleep"}, {});
    ASSERT_GT(pid, 0) << error;
    EXPECT_EQ(lumbrake::kill(pid, 9), 0);
    EXPECT_EQ(wait_process(pid), 2304);

    pid = spawn_process(error, TN_CHILD, {"sleep"}, {});
    ASSERT_GT(pid, 0) << error;
    EXPECT_EQ(kill_process(pid, 9), 0);
    EXPECT_EQ(lumbrake::waitpid(pid, &status), pid);
    EXPECT_EQ(status, 9 * 256);
    EXPECT_EQ(lumbrake::kill(pid, 9), -1); // gone
}

TEST_F(Processes, SpawnFailureGivesZeroAndAReason) {
    std::string error;
    EXPECT_EQ(spawn_process(error, dir_.path() + "/bin/millhand", {"1"}, {}), 0);
    EXPECT_EQ(error, "No such file or directory");
    std::ofstream(dir_.path() + "/plain") << "#!/bin/false\n"; // not executable
    EXPECT_EQ(spawn_process(error, dir_.path() + "/plain", {}, {}), 0);
    EXPECT_EQ(error, "Permission denied");
}

TEST_F(Processes, OnlyStandardDescriptorsAreInherited) {
    // A descriptor opened without close-on-exec, as a library might do it.
    int leaky = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(leaky, 3);
    std::string error;
    pid_t pid = spawn_process(error, TN_CHILD, {"fds"}, {{"TN_OUT", out_}});
    ::close(leaky);
    ASSERT_GT(pid, 0) << error;
    EXPECT_EQ(wait_process(pid), 0);
    std::vector<std::string> fds = lines_with(read_file(out_), "");
    std::sort(fds.begin(), fds.end());
    EXPECT_EQ(fds, (std::vector<std::string>{"0", "1", "2"}));
}

TEST_F(Processes, SigpipeNeverKills) {
    std::string error;
    // platform_init (in SetUp) ignores SIGPIPE here, yet the child starts with the default...
    pid_t pid = spawn_process(error, TN_CHILD, {"sigdefault"}, {});
    ASSERT_GT(pid, 0) << error;
    EXPECT_EQ(wait_process(pid), 0);
    // ...and its own platform_init makes a write to a closed pipe fail instead of killing it.
    pid = spawn_process(error, TN_CHILD, {"sigpipe"}, {});
    ASSERT_GT(pid, 0) << error;
    EXPECT_EQ(wait_process(pid), 0);
}

TEST(Environment, GetEnvironment) {
    setenv("TN_ENV_TEST", "a=b=c", 1);
    std::map<std::string, std::string> env = {{"stale", "1"}};
    get_environment(env);
    EXPECT_EQ(env.count("stale"), 0u);
    EXPECT_EQ(env["TN_ENV_TEST"], "a=b=c");
    unsetenv("TN_ENV_TEST");
}

namespace {
const char* const registration[] = {"lumbrake_plugin_registration", nullptr};
}

TEST(Dlext, FixtureFolder) {
    const std::string dir = TN_DLEXT_DIR;
    {
        p_dlext libs(dir, ".so", false, registration);
        std::vector<std::string> paths;
        for (const auto& lib : libs.libraries())
            paths.push_back(lib.path);
        // garbage.so did not load and is not listed; nosym.so is listed, not loaded.
        ASSERT_EQ(paths, (std::vector<std::string>{dir + "/good.so", dir + "/nosym.so"}));
        const auto& good = *libs.libraries().begin();
        const auto& nosym = *std::next(libs.libraries().begin());
        EXPECT_TRUE(good.loaded);
        ASSERT_EQ(good.symbols.size(), 1u);
        ASSERT_NE(good.symbols[0], nullptr);
        auto fn = reinterpret_cast<int (*)(void*, void*)>(good.symbols[0]);
        EXPECT_EQ(fn(nullptr, nullptr), 42);
        EXPECT_FALSE(nosym.loaded);
        EXPECT_EQ(nosym.handle, nullptr);

        ASSERT_EQ(libs.errors().size(), 2u);
        // The loader's own text for the file that is no library, in name order.
        EXPECT_NE(libs.errors()[0].find(dir + "/garbage.so"), std::string::npos)
            << libs.errors()[0];
        EXPECT_NE(libs.errors()[0].find("invalid ELF header"), std::string::npos)
            << libs.errors()[0];
        EXPECT_EQ(libs.errors()[1],
                  "DLL " + dir + "/nosym.so doesn't export lumbrake_plugin_registration");
    }
    {
        // Optional symbols: both libraries stay loaded, the absent address is null.
        p_dlext libs(dir + "/", ".so", true, registration);
        ASSERT_EQ(libs.libraries().size(), 2u);
        for (const auto& lib : libs.libraries()) {
            EXPECT_TRUE(lib.loaded) << lib.path;
            EXPECT_EQ(lib.path.find("//"), std::string::npos) << lib.path;
        }
        EXPECT_EQ(std::next(libs.libraries().begin())->symbols[0], nullptr);
        EXPECT_EQ(libs.errors().size(), 1u); // garbage.so only
    }
    {
        // A missing folder, or none at all, loads nothing.
        p_dlext missing(dir + "/none", "", false, registration);
        EXPECT_TRUE(missing.libraries().empty());
        p_dlext empty("", "", false, registration);
        EXPECT_TRUE(empty.libraries().empty());
        EXPECT_TRUE(empty.errors().empty());
    }
}

TEST(HostName, PreferredAddress) {
    // Addresses that no interface has, and texts that are no address, give nothing.
    for (const char* preferred : {"0.0.0.0", "127.0.0.1", "300.1.1.1", "1.2.3", "a.b.c.d"})
        EXPECT_EQ(local_host_name(preferred), "") << preferred;

    // An interface of this machine that is up and not the loopback gives a name or its address.
    struct ifaddrs* list = nullptr;
    ASSERT_EQ(getifaddrs(&list), 0);
    std::string address;
    for (struct ifaddrs* i = list; i; i = i->ifa_next)
        if (i->ifa_addr && i->ifa_addr->sa_family == AF_INET && (i->ifa_flags & IFF_UP) &&
            !(i->ifa_flags & IFF_LOOPBACK)) {
            char text[32];
            uint32_t a = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
            snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 255, (a >> 8) & 255,
                     a & 255);
            address = text;
            break;
        }
    freeifaddrs(list);
    if (address.empty()) GTEST_SKIP() << "no network interface besides the loopback";
    EXPECT_FALSE(local_host_name(address).empty());
}
