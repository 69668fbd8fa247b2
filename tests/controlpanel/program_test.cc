// The real `trawlnest` program on the virtual display, driven with xdotool: with an empty
// HOME it asks for its settings first; Cancel ends it without a window; a host it cannot use
// is refused with a message; OK writes the settings file with mode 0600 and opens the main
// window, which connects to a real daemon.
#include "../support/live_daemon.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

std::string run(const std::string& cmd) {
    std::string out = tn_test::command_output(cmd);
    while (!out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

// The first visible window whose title is exactly `title`, waiting up to `seconds`.
std::string find_window(pid_t pid, const std::string& title, int seconds = 20) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        const std::string ids = run("xdotool search --all --onlyvisible --pid " +
                                    std::to_string(pid) + " --name '^" + title + "$' 2>/dev/null");
        if (!ids.empty()) return ids.substr(0, ids.find('\n'));
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return {};
}

void keys(const std::string& window, const std::string& args) {
    run("xdotool windowfocus --sync " + window + " 2>/dev/null");
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    run("xdotool " + args);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
}

void shot(const std::string& window, const std::string& name) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const std::string file = std::string(TN_SHOTS_DIR) + "/" + name + ".png";
    EXPECT_EQ(std::system(("import -window " + window + " '" + file + "' 2>/dev/null").c_str()), 0);
}

class program {
public:
    explicit program(const std::filesystem::path& home) {
        std::vector<std::string> env{"HOME=" + home.string(), "PATH=/usr/bin:/bin", "LANG=C.UTF-8",
                                     "NO_AT_BRIDGE=1"};
        for (const char* name : {"DISPLAY", "XAUTHORITY"})
            if (const char* v = std::getenv(name)) env.push_back(std::string(name) + "=" + v);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string prog = TN_TRAWLNEST;
        char* argv[] = {prog.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string log = (home / "trawlnest.log").string();
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, log.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                         0644);
        posix_spawn(&pid, argv[0], &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
    }
    ~program() {
        if (pid > 0 && !exited(0)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
    }
    // True when the program ended within `seconds`.
    bool exited(int seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        do {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                pid = 0;
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }
    pid_t pid = 0;
    int status = 0;
};

TEST(controlpanel_program, CancelAtFirstStartEndsWithoutAWindow) {
    const auto home = tn_test::scratch("cancel");
    program p(home);
    const std::string setup = find_window(p.pid, "Setup");
    ASSERT_FALSE(setup.empty()) << "no Setup window";
    shot(setup, "setup-first-start");

    // An empty host is refused with a message; the dialog stays.
    keys(setup, "key ctrl+a BackSpace Return");
    const std::string error = find_window(p.pid, "Error", 10);
    ASSERT_FALSE(error.empty()) << "no error box for an empty host";
    keys(error, "key Return");
    EXPECT_FALSE(find_window(p.pid, "Setup", 5).empty());

    keys(setup, "key Escape");
    ASSERT_TRUE(p.exited(10));
    EXPECT_FALSE(std::filesystem::exists(home / ".config/lumbrake/trawlnest.conf"));
}

TEST(controlpanel_program, OkWritesPrivateSettingsAndOpensTheMainWindow) {
    const auto root = tn_test::scratch("ok");
    tn_test::live_daemon d(root / "daemon");
    d.start();
    const auto home = root / "home";
    std::filesystem::create_directories(home);
    program p(home);
    const std::string setup = find_window(p.pid, "Setup");
    ASSERT_FALSE(setup.empty()) << "no Setup window";
    keys(setup, "key ctrl+a");
    keys(setup, "type 127.0.0.1");
    keys(setup, "key Tab ctrl+a");
    keys(setup, "type " + std::to_string(d.port()));
    keys(setup, "key Tab Tab");
    keys(setup, "type " + d.user());
    keys(setup, "key Tab");
    keys(setup, "type " + d.password());
    shot(setup, "setup-filled");
    keys(setup, "key Return");

    const std::string main = find_window(p.pid, "trawlnest control panel");
    ASSERT_FALSE(main.empty()) << "no main window";
    const auto conf = home / ".config/lumbrake/trawlnest.conf";
    ASSERT_TRUE(std::filesystem::exists(conf));
    struct stat st {};
    ASSERT_EQ(::stat(conf.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    const std::string text = tn_test::live_daemon::read(conf);
    EXPECT_NE(text.find("Host=127.0.0.1"), std::string::npos) << text;
    EXPECT_NE(text.find("Port=" + std::to_string(d.port())), std::string::npos) << text;
    EXPECT_NE(text.find("Authentication=True"), std::string::npos) << text;
    EXPECT_NE(text.find("Username=" + d.user()), std::string::npos) << text;
    EXPECT_NE(text.find("Password=" + d.password()), std::string::npos) << text;
    // The first refresh against the daemon answers without an error box.
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_TRUE(find_window(p.pid, "Error", 1).empty())
        << run("for w in $(xdotool search --onlyvisible --name '.*'); do xdotool getwindowpid $w; "
               "xdotool getwindowname $w; done");
    shot(main, "program-main-window");

    // A second start finds its settings and opens the main window at once.
    ::kill(p.pid, SIGTERM);
    ASSERT_TRUE(p.exited(10));
    program again(home);
    EXPECT_FALSE(find_window(again.pid, "trawlnest control panel").empty());
    EXPECT_TRUE(find_window(again.pid, "Setup", 1).empty());
}

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
