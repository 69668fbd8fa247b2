#include "util/syslayer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

using namespace lumbrake;
namespace fs = std::filesystem;

namespace {

// Each case runs the child program under the name "crashy" in a fresh folder, so that its
// report "<argv0>-<pid>.dmp" lands there.
class Postmortem : public testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tn_pm_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        program_ = dir_ + "/crashy";
        fs::create_symlink(TN_CHILD, program_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Runs the child with the given store; returns its status and the report's text ("" when
    // none was written).
    int crash(const std::string& mode, const std::string& store, std::string& report) {
        std::string store_path = dir_ + "/environment";
        std::ofstream(store_path) << store;
        std::string error;
        pid_t pid = spawn_process(error, program_, {mode}, {{"LUMBRAKE_ENV_STORE", store_path}});
        EXPECT_GT(pid, 0) << error;
        int status = wait_process(pid);
        std::string dump = program_ + "-" + std::to_string(pid) + ".dmp";
        std::ifstream in(dump);
        std::ostringstream s;
        s << in.rdbuf();
        report = s.str();
        fs::remove(dump);
        // Nothing else lands in the folder.
        for (const auto& e : fs::directory_iterator(dir_)) {
            std::string name = e.path().filename();
            EXPECT_TRUE(name == "crashy" || name == "environment") << name;
        }
        return status;
    }

    std::string dir_, program_;
};

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

} // namespace

TEST_F(Postmortem, SegfaultLeavesAReport) {
    std::string report;
    int status = crash("segv", "LUMBRAKE_POSTMORTEM_DEBUG=1\n", report);
    EXPECT_EQ(status, 11 * 256);
    ASSERT_FALSE(report.empty());
    EXPECT_TRUE(has(report, "Program: " + program_ + "\n")) << report;
    EXPECT_TRUE(has(report, "Signal: 11 (SIGSEGV)\n")) << report;
    EXPECT_TRUE(has(report, "Fault address: 0x10\n")) << report;
    EXPECT_TRUE(has(report, "\nBacktrace:\n")) << report;
    EXPECT_TRUE(has(report, "\nMemory map:\n")) << report;
    EXPECT_TRUE(has(report, "[stack]")) << report; // from /proc/self/maps
    EXPECT_TRUE(has(report, "tn_util_child")) << report;
}

TEST_F(Postmortem, EveryWayOfDyingIsReported) {
    const struct {
        const char* mode;
        int status;
        const char* expected;
    } cases[] = {
        {"abort", 6 * 256, "Signal: 6 (SIGABRT)\n"},
        {"assert", 6 * 256, "Signal: 6 (SIGABRT)\n"},
        {"terminate", 6 * 256, "Terminate: uncaught exception of type std::runtime_error: boom\n"},
        {"overflow", 11 * 256, "Signal: 11 (SIGSEGV)\n"}, // handled on the alternate stack
    };
    for (const auto& c : cases) {
        std::string report;
        EXPECT_EQ(crash(c.mode, "LUMBRAKE_POSTMORTEM_DEBUG=\n", report), c.status) << c.mode;
        EXPECT_TRUE(has(report, c.expected)) << c.mode << "\n" << report;
        EXPECT_TRUE(has(report, "\nMemory map:\n")) << c.mode;
    }
}

TEST_F(Postmortem, DisabledOrBlackListedWritesNothing) {
    const char* stores[] = {
        "", "LUMBRAKE_POSTMORTEM_DEBUG_BLACK=\n",
        "LUMBRAKE_POSTMORTEM_DEBUG=1\nLUMBRAKE_POSTMORTEM_DEBUG_BLACK=trawlnestd millhand crashy\n",
        "LUMBRAKE_POSTMORTEM_DEBUG=1\nLUMBRAKE_POSTMORTEM_DEBUG_BLACK=xcrashyx\n", // substring
    };
    for (const char* store : stores) {
        std::string report;
        int status = crash("segv", store, report);
#if defined(__SANITIZE_ADDRESS__)
        EXPECT_NE(status, 0) << store; // the sanitizer's own handler ends the program
#else
        EXPECT_EQ(status, 11 * 256) << store; // the default action, as without a handler
#endif
        EXPECT_EQ(report, "") << store;
    }
    // The black list is matched case-sensitively, and only the base name counts.
    std::string report;
    crash("segv",
          "LUMBRAKE_POSTMORTEM_DEBUG=1\nLUMBRAKE_POSTMORTEM_DEBUG_BLACK=CRASHY " + dir_ + "\n",
          report);
    EXPECT_TRUE(has(report, "Signal: 11 (SIGSEGV)\n")) << report;
}
