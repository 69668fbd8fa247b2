// The trawlnestd program, run as a child in a scratch folder: a configuration file, an
// environment store naming it, DEPLOYDIR/bin with the real siftvault and millhand, a systemd
// unit folder and a bin folder of stand-in systemctl / firewall-cmd / ufw commands (PATH holds
// only that folder, so the machine's services and firewall are never touched).
#include "../support/files.h"
#include "../support/command.h"
#include "trawlnestd/service-frontend.h"
#include "trawlnestd/trawlnestd-app.h"
#include "util/config.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

using tn_test::read_file;

using tn_test::write_file;

std::string sqlite(const fs::path& db, const std::string& sql) {
    return tn_test::sqlite_output(db.string(), sql);
}

// The children of a process, read from /proc: (pid, command name).
std::vector<std::pair<pid_t, std::string>> children_of(pid_t parent) {
    std::vector<std::pair<pid_t, std::string>> result;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string stat = read_file(entry.path() / "stat");
        auto open = stat.find('('), close = stat.rfind(')');
        if (open == std::string::npos || close == std::string::npos) continue;
        std::istringstream rest(stat.substr(close + 2));
        char state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == parent)
            result.emplace_back(std::stoi(name), stat.substr(open + 1, close - open - 1));
    }
    return result;
}

// Running (not gone and not a zombie).
bool running(pid_t pid) {
    std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    return close != std::string::npos && stat.size() > close + 2 && stat[close + 2] != 'Z';
}

// Running processes whose working directory is the folder (the daemon's children work in
// DATADIR).
std::vector<std::string> processes_in(const fs::path& dir) {
    std::vector<std::string> found;
    std::error_code ec;
    const fs::path want = fs::weakly_canonical(dir, ec);
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        fs::path cwd = fs::read_symlink(entry.path() / "cwd", ec);
        if (!ec && cwd == want && running(std::stoi(name)))
            found.push_back(read_file(entry.path() / "comm"));
    }
    return found;
}

class daemon_fixture : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        const char* tmp = std::getenv("TEST_TMPDIR");
        root_ = fs::path(tmp ? tmp : "/tmp/") /
                (std::string(info->name()) + "-" + std::to_string(::getpid()));
        fs::remove_all(root_);
        fs::create_directories(root_ / "deploy" / "bin");
        fs::create_directories(root_ / "units");
        fs::create_directories(root_ / "fakebin");
        fs::create_symlink(TN_SIFTVAULT, root_ / "deploy" / "bin" / "siftvault");
        fs::create_symlink(TN_MILLHAND, root_ / "deploy" / "bin" / "millhand");
        write_config("WORKERS=2\nHTTP_PORT=*:2233\n");
        write_file(root_ / "environment",
                   "LUMBRAKE_CONFIG_FILE=" + (root_ / "trawlnest.cfg").string() +
                       "\nLUMBRAKE_SYSTEMD_UNIT_DIR=" + (root_ / "units").string() + "\n");
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // The configuration: DATADIR and DEPLOYDIR, then the extra lines.
    void write_config(const std::string& extra, bool with_datadir = true) {
        std::string text =
            "DEPLOYDIR=" + (root_ / "deploy").string() + "\nLOGCFG=LOG:INFO\nThrottling=0\n";
        if (with_datadir) text += "DATADIR=" + data().string() + "\n";
        write_file(root_ / "trawlnest.cfg", text + extra);
    }

    // A stand-in command that appends its name and arguments to calls.log.
    void fake_command(const std::string& name, int status = 0) {
        fs::path p = root_ / "fakebin" / name;
        write_file(p, "#!/bin/sh\necho \"" + name + " $*\" >> '" + (root_ / "calls.log").string() +
                          "'\nexit " + std::to_string(status) + "\n");
        fs::permissions(p, fs::perms::owner_all);
    }
    std::string calls() { return read_file(root_ / "calls.log"); }

    fs::path data() const { return root_ / "data"; }

    pid_t spawn(const std::vector<std::string>& args, const std::string& notify = "") {
        std::vector<std::string> env{"LUMBRAKE_ENV_STORE=" + (root_ / "environment").string(),
                                     "PATH=" + (root_ / "fakebin").string()};
        if (!notify.empty()) env.push_back("NOTIFY_SOCKET=" + notify);
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> argv_s{TN_TRAWLNESTD};
        argv_s.insert(argv_s.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argv_s)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (root_ / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (root_ / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
        pid_t pid = 0;
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        EXPECT_EQ(rc, 0);
        return pid;
    }

    static int wait_exit(pid_t pid) {
        int status = 0;
        EXPECT_EQ(::waitpid(pid, &status, 0), pid);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }

    int run(const std::vector<std::string>& args) { return wait_exit(spawn(args)); }
    std::string err() { return read_file(root_ / "stderr"); }

    fs::path root_;
};

// A datagram socket standing in for systemd's notification socket.
class notify_socket {
public:
    explicit notify_socket(const fs::path& path) : path_(path.string()) {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path_.c_str());
        EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    }
    ~notify_socket() { ::close(fd_); }
    // The next message, or empty after the wait (a hung daemon fails the test, not the run).
    std::string next(int timeout_ms = 60000) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, timeout_ms) != 1) return {};
        char buf[512];
        ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
        return n > 0 ? std::string(buf, static_cast<std::size_t>(n)) : std::string();
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};

void wait_gone(pid_t pid) {
    for (int i = 0; i < 200 && running(pid); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

TEST_F(daemon_fixture, StartsAndStopsCleanlyOnSigterm) {
    for (int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        notify_socket notify(root_ / ("notify" + std::to_string(signal)));
        pid_t pid = spawn({}, notify.path());
        EXPECT_EQ(notify.next(), "STATUS=Starting");
        EXPECT_EQ(notify.next(), "READY=1\nSTATUS=Running");

        // The index server and one worker per process thread.
        auto children = children_of(pid);
        int vaults = 0, workers = 0;
        for (const auto& [child, name] : children) {
            vaults += name == "siftvault";
            workers += name == "millhand";
        }
        EXPECT_EQ(vaults, 1);
        EXPECT_EQ(workers, 2);
        EXPECT_EQ(processes_in(data()).size(), 4u); // the daemon and its three children

        // The HTTP server listens on HTTP_PORT; paths without a service answer 404.
        EXPECT_EQ(tn_test::command_output("curl -s -o /dev/null -w '%{http_code}' --retry 20 "
                                          "--retry-connrefused --retry-delay 0 --noproxy '*' "
                                          "http://127.0.0.1:2233/no-such-page"),
                  "404");

        ASSERT_EQ(::kill(pid, signal), 0);
        EXPECT_EQ(notify.next(), "STOPPING=1\nSTATUS=Stopping");
        EXPECT_EQ(notify.next(), "STATUS=Stopped");
        EXPECT_EQ(wait_exit(pid), 0);
        EXPECT_EQ(err(), ""); // nothing to report (nor a sanitizer's finding)
        for (const auto& [child, name] : children) {
            wait_gone(child);
            EXPECT_FALSE(running(child)) << name;
        }
        EXPECT_TRUE(processes_in(data()).empty());
        // The storages were closed: no journal is left and every table is in place.
        EXPECT_FALSE(fs::exists(data() / "trawlnest.db-journal"));
        std::string tables = sqlite(data() / "trawlnest.db", "select name from sqlite_master "
                                                             "where type='table' order by name");
        for (const char* t :
             {"cfgstorage", "dbconfig", "docstorage", "documentlog", "fetchqueue", "robotscache"})
            EXPECT_NE(tables.find(t), std::string::npos) << t << " in " << tables;
        std::string log = read_file(data() / "trawlnest.log");
        EXPECT_NE(log.find("trawlnest started"), std::string::npos);
    }
    // The built-in plug-ins were registered once, by the first start only.
    EXPECT_EQ(sqlite(data() / "trawlnest.db", "select count(*) from cfgstorage where key='Plugin'"),
              "5\n");
}

TEST_F(daemon_fixture, BadStartArgumentsAreRefused) {
    const std::vector<std::vector<std::string>> cases = {
        {"/reset", "extra"}, {"/reindex", "x"},    {"/backup"}, {"/restore"},
        {"/import", "a", "b"}, {"/bogus"},         {"reset"},   {"/backup", ""},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[0] + (args.size() > 1 ? " " + args[1] : ""));
        EXPECT_EQ(run(args), 1);
        EXPECT_NE(err().find("trawlnest error: "), std::string::npos);
        EXPECT_NE(err().find("Unknown startup parameters"), std::string::npos) << err();
    }
    // Install and remove answer only to their exact switches: near misses do nothing at all.
    fake_command("systemctl");
    for (const char* word : {"install", "-Install", "/INSTALL", "remove", "-Remove"}) {
        SCOPED_TRACE(word);
        EXPECT_EQ(run({word}), 0);
        EXPECT_EQ(err(), "");
    }
    EXPECT_FALSE(fs::exists(root_ / "units" / "trawlnest.service"));
    // Nothing was started: not even the data directory exists.
    EXPECT_FALSE(fs::exists(data()));
    EXPECT_FALSE(fs::exists(root_ / "calls.log"));
}

TEST_F(daemon_fixture, StartFailuresAreReported) {
    write_config("", false);
    EXPECT_EQ(run({}), 1);
    EXPECT_NE(err().find("Error starting trawlnest: No DATADIR defined in configuration file"),
              std::string::npos)
        << err();

    // A file in the way of the data directory.
    write_file(data(), "x");
    write_config("");
    EXPECT_EQ(run({}), 1);
    EXPECT_NE(err().find("Error starting trawlnest: Could not access DATADIR"), std::string::npos)
        << err();
    fs::remove(data());

    // A data directory whose entry cannot be reached: a dangling link.
    fs::create_directories(data());
    fs::create_symlink(root_ / "nowhere", data() / "broken");
    EXPECT_EQ(run({}), 1);
    EXPECT_NE(
        err().find("Error starting trawlnest: Error accessing " + data().string() + "/broken"),
        std::string::npos)
        << err();
    fs::remove(data() / "broken");

    if (::geteuid() != 0) {
        write_file(data() / "locked", "x");
        fs::permissions(data() / "locked", fs::perms::none);
        EXPECT_EQ(run({}), 1);
        EXPECT_NE(err().find("Bad owner/permission for " + data().string() + "/locked"),
                  std::string::npos)
            << err();
        fs::permissions(data() / "locked", fs::perms::owner_all);
    }
}

TEST_F(daemon_fixture, MaintenanceJobsRunToTheirEnd) {
    // A first start makes the database.
    notify_socket notify(root_ / "notify");
    pid_t pid = spawn({}, notify.path());
    notify.next();
    ASSERT_EQ(notify.next(), "READY=1\nSTATUS=Running");
    ::kill(pid, SIGTERM);
    ASSERT_EQ(wait_exit(pid), 0);

    const fs::path backup = root_ / "backup.db";
    write_file(backup, "an old file is replaced");
    const fs::path exported = root_ / "exported";
    for (const auto& args : std::vector<std::vector<std::string>>{{"/backup", backup.string()},
                                                                  {"-restore", backup.string()},
                                                                  {"/export", exported.string()},
                                                                  {"/import", exported.string()},
                                                                  {"/reset"},
                                                                  {"/reindex"}}) {
        SCOPED_TRACE(args[0]);
        EXPECT_EQ(run(args), 0) << err();
        EXPECT_EQ(err(), "");
        // The job's index server has ended with it.
        EXPECT_TRUE(processes_in(data()).empty());
        if (args[0] == "/backup") {
            std::string tables =
                sqlite(backup, "select name from sqlite_master where type='table' order by name");
            EXPECT_NE(tables.find("docstorage"), std::string::npos) << tables;
            EXPECT_EQ(tables.find("robotscache"), std::string::npos) << tables;
        }
        if (args[0] == "/export") {
            EXPECT_FALSE(fs::is_empty(exported));
        }
    }
    // The configuration survived the import (the built-in plug-ins came back from the export).
    EXPECT_EQ(sqlite(data() / "trawlnest.db", "select count(*) from cfgstorage where key='Plugin'"),
              "5\n");

    EXPECT_EQ(run({"/restore", (root_ / "missing.db").string()}), 1);
    EXPECT_NE(err().find("Error restoring trawlnest: Backup file " +
                         (root_ / "missing.db").string() + " not found"),
              std::string::npos)
        << err();
    // The failed job leaves no index server behind.
    for (int i = 0; i < 200 && !processes_in(data()).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(processes_in(data()).empty());
}

TEST_F(daemon_fixture, InstallAndRemoveTheUnit) {
    fake_command("systemctl");
    fake_command("firewall-cmd");
    fake_command("ufw");
    const fs::path unit = root_ / "units" / "trawlnest.service";

    for (const char* install : {"-install", "/install"}) {
        SCOPED_TRACE(install);
        fs::remove(root_ / "calls.log");
        EXPECT_EQ(run({install}), 0) << err();
        std::string text = read_file(unit);
        EXPECT_NE(text.find("Description=Trawlnest Server\n"), std::string::npos) << text;
        EXPECT_NE(text.find("Type=notify\n"), std::string::npos) << text;
        EXPECT_NE(text.find(std::string("ExecStart=\"") + TN_TRAWLNESTD + "\"\n"),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("LUMBRAKE_ENV_STORE=" + (root_ / "environment").string()),
                  std::string::npos);
        EXPECT_EQ(calls(), "systemctl daemon-reload\n"
                           "systemctl enable trawlnest.service\n"
                           "firewall-cmd --permanent --add-port=2233/tcp\n"
                           "firewall-cmd --add-port=2233/tcp\n");

        // Installing again fails on the existing unit but still opens the port.
        fs::remove(root_ / "calls.log");
        EXPECT_EQ(run({install}), 1);
        EXPECT_NE(err().find("CreateService failed - File exists (0x11)"), std::string::npos)
            << err();
        EXPECT_EQ(calls(), "firewall-cmd --permanent --add-port=2233/tcp\n"
                           "firewall-cmd --add-port=2233/tcp\n");

        fs::remove(root_ / "calls.log");
        EXPECT_EQ(run({install[0] == '-' ? "-remove" : "/remove"}), 0) << err();
        EXPECT_FALSE(fs::exists(unit));
        EXPECT_EQ(err(), "");
        EXPECT_EQ(calls(), "systemctl stop trawlnest.service\n"
                           "systemctl disable trawlnest.service\n"
                           "systemctl daemon-reload\n"
                           "firewall-cmd --permanent --remove-port=2233/tcp\n"
                           "firewall-cmd --remove-port=2233/tcp\n");
    }

    // Removing what is not installed.
    EXPECT_EQ(run({"-remove"}), 1);
    EXPECT_NE(err().find("OpenService failed - No such file or directory (0x2)"), std::string::npos)
        << err();

    // ufw when firewalld is missing; no port in HTTP_PORT: no firewall call at all.
    fs::remove(root_ / "fakebin" / "firewall-cmd");
    fs::remove(root_ / "calls.log");
    EXPECT_EQ(run({"-install"}), 0);
    EXPECT_NE(calls().find("ufw allow 2233/tcp comment Trawlnest Server\n"), std::string::npos)
        << calls();
    EXPECT_EQ(run({"-remove"}), 0);
    EXPECT_NE(calls().find("ufw delete allow 2233/tcp\n"), std::string::npos) << calls();

    write_config("HTTP_PORT=2233\n");
    fs::remove(root_ / "calls.log");
    EXPECT_EQ(run({"-install"}), 0);
    EXPECT_EQ(calls().find("ufw"), std::string::npos) << calls();

    // A failing stop is reported, and the unit is still removed.
    fake_command("systemctl", 1);
    EXPECT_EQ(run({"-remove"}), 1);
    EXPECT_NE(err().find("Service failed to stop - "), std::string::npos);
    EXPECT_FALSE(fs::exists(unit));
}

TEST(daemon_settings, DefaultsReplaceValuesThatAreNotAccepted) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    const fs::path file =
        fs::path(tmp ? tmp : "/tmp/") / ("settings-" + std::to_string(::getpid()));
    struct row {
        const char* text;
        int workers, timeout, throttling, http_threads;
        const char* port;
    };
    const row rows[] = {
        {"", 5, 180, 20, 5, "*:2200"},
        {"WORKERS=0\nWORKER_TIMEOUT=0\nThrottling=0\nHTTP_PORT=\n", 5, 180, 0, 5, "*:2200"},
        {"WORKERS=-2\nThrottling=-1\nHTTP_THREADS=x\n", 5, 180, 20, 5, "*:2200"},
        {"WORKERS=many\nThrottling=soon\n", 5, 180, 20, 5, "*:2200"},
        {"WORKERS=3x\nWORKER_TIMEOUT=60\nThrottling=7\nHTTP_THREADS=2\nHTTP_PORT=1.2.3.4:80\n", 3,
         60, 7, 2, "1.2.3.4:80"},
        {"Throttling=00\n", 5, 180, 20, 5, "*:2200"},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.text);
        write_file(file, r.text);
        lumbrake::config cfg(file.c_str());
        auto s = lumbrake::daemon_settings::read(cfg);
        EXPECT_EQ(s.workers, r.workers);
        EXPECT_EQ(s.worker_timeout, r.timeout);
        EXPECT_EQ(s.throttling, r.throttling);
        EXPECT_EQ(s.http_threads, r.http_threads);
        EXPECT_EQ(s.http_port, r.port);
        EXPECT_EQ(s.user_agent, "lumbrakebot");
    }
    fs::remove(file);
}

TEST(firewall_port, PortAfterTheFirstColon) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    const fs::path file = fs::path(tmp ? tmp : "/tmp/") / ("port-" + std::to_string(::getpid()));
    const std::pair<const char*, int> rows[] = {
        {"HTTP_PORT=*:2200\n", 2200},   {"HTTP_PORT=2200\n", 0},    {"\n", 0},
        {"HTTP_PORT=host:0\n", 0},      {"HTTP_PORT=h:70000\n", 0}, {"HTTP_PORT=h:x\n", 0},
        {"HTTP_PORT=a:8080:9\n", 8080},
    };
    for (const auto& [text, port] : rows) {
        SCOPED_TRACE(text);
        write_file(file, text);
        lumbrake::config cfg(file.c_str());
        EXPECT_EQ(lumbrake::firewall_port(cfg), port);
    }
    fs::remove(file);
}

} // namespace

namespace {

TEST(trawlnestd_app, StopBeforeTheThreadsStartedFindsNothingToStop) {
    lumbrake::trawlnestd app;
    app.stop_threads();
    EXPECT_TRUE(app.process_threads().empty());
    EXPECT_EQ(app.docs(), nullptr);
    app.close_storages();
}

TEST_F(daemon_fixture, OneDaemonOrJobPerDataDirectory) {
    notify_socket notify(root_ / "notify");
    pid_t pid = spawn({}, notify.path());
    notify.next();
    ASSERT_EQ(notify.next(), "READY=1\nSTATUS=Running");
    // A job beside the running daemon is refused before it changes anything.
    const fs::path backup = root_ / "backup.db";
    EXPECT_EQ(run({"/restore", backup.string()}), 1);
    EXPECT_NE(err().find("Error restoring trawlnest: DATADIR " + data().string() +
                         " is in use by another trawlnestd"),
              std::string::npos)
        << err();
    EXPECT_EQ(run({}), 1);
    EXPECT_NE(err().find("is in use by another trawlnestd"), std::string::npos) << err();
    ::kill(pid, SIGTERM);
    ASSERT_EQ(wait_exit(pid), 0);
    // Once it has ended the job runs.
    EXPECT_EQ(run({"/backup", backup.string()}), 0) << err();
}

} // namespace

