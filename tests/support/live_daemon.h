// A real trawlnestd for tests: its own scratch folder with a configuration file, an
// environment store naming it, DEPLOYDIR/bin with the real siftvault and millhand, DATADIR,
// an administrator (HTTP_USER / HTTP_MD5PASS) and a free port on 127.0.0.1. start() waits
// until systemd's readiness message arrives and the port answers; the destructor stops the
// daemon with SIGTERM (SIGKILL after a grace period), so no test leaves a daemon behind.
//
// Programs come from the build: link nothing, pass the paths, for example with
//   target_compile_definitions(x PRIVATE TN_TRAWLNESTD="$<TARGET_FILE:trawlnestd>"
//       TN_SIFTVAULT="$<TARGET_FILE:siftvault>" TN_MILLHAND="$<TARGET_FILE:millhand>")
//   add_dependencies(x trawlnestd siftvault millhand)
#pragma once

#include "http_client.h"
#include "ports.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace tn_test {

namespace live_daemon_detail {

inline std::string md5_hex(const std::string& text) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(text.data(), text.size(), digest, &len, EVP_md5(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < len; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

using tn_test::port_answers;
// A port nobody else holds (ports.h: free of the race of picking one by an ephemeral bind).
inline constexpr auto& unused_port = tn_test::reserve_port;

} // namespace live_daemon_detail

class live_daemon {
public:
    // `root`: an empty scratch folder owned by the test (made if missing).
    explicit live_daemon(std::filesystem::path root, std::string user = "admin",
                         std::string password = "secret")
        : root_(std::move(root)), user_(std::move(user)), password_(std::move(password)) {
        namespace fs = std::filesystem;
        fs::create_directories(root_ / "deploy" / "bin");
        fs::create_directories(root_ / "deploy" / "plugins");
        fs::create_directories(root_ / "units");
        std::error_code ec;
        fs::create_symlink(TN_SIFTVAULT, root_ / "deploy" / "bin" / "siftvault", ec);
        fs::create_symlink(TN_MILLHAND, root_ / "deploy" / "bin" / "millhand", ec);
        write(root_ / "environment", "LUMBRAKE_CONFIG_FILE=" + config_file().string() +
                                         "\nLUMBRAKE_SYSTEMD_UNIT_DIR=" +
                                         (root_ / "units").string() + "\n");
    }
    live_daemon(const live_daemon&) = delete;
    live_daemon& operator=(const live_daemon&) = delete;
    ~live_daemon() { stop(); }

    // Lines added to the configuration file the next start writes (for example "WORKERS=1\n").
    void set_extra_config(std::string lines) { extra_ = std::move(lines); }
    // Extra environment entries ("NAME=value") of the daemon process.
    void add_env(std::string entry) { env_.push_back(std::move(entry)); }

    // Writes the configuration and starts the daemon; throws when it does not become ready
    // within `timeout`. A restart keeps DATADIR and the port.
    void start(std::chrono::seconds timeout = std::chrono::seconds(60)) {
        namespace fs = std::filesystem;
        using namespace live_daemon_detail;
        stop();
        if (port_ == 0) port_ = unused_port();
        write(config_file(), "DATADIR=" + data().string() + "\nDEPLOYDIR=" +
                                 (root_ / "deploy").string() + "\nHTTP_PORT=127.0.0.1:" +
                                 std::to_string(port_) + "\nHTTP_USER=" + user_ +
                                 "\nHTTP_MD5PASS=" + md5_hex(password_) +
                                 "\nWORKERS=2\nThrottling=0\nLOGCFG=LOG:INFO\n" + extra_);
        const fs::path notify_path = root_ / "notify.sock";
        fs::remove(notify_path);
        int nfd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", notify_path.c_str());
        if (::bind(nfd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ::close(nfd);
            throw std::runtime_error("live_daemon: cannot bind " + notify_path.string());
        }

        std::vector<std::string> env{"LUMBRAKE_ENV_STORE=" + (root_ / "environment").string(),
                                     "PATH=/usr/bin:/bin", "NOTIFY_SOCKET=" + notify_path.string()};
        env.insert(env.end(), env_.begin(), env_.end());
        std::vector<char*> envp;
        for (auto& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string prog = TN_TRAWLNESTD;
        char* argv[] = {prog.data(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, (root_ / "stdout").c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, (root_ / "stderr").c_str(),
                                         O_WRONLY | O_CREAT | O_APPEND, 0644);
        int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv, envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            ::close(nfd);
            pid_ = 0;
            throw std::runtime_error("live_daemon: cannot start " + prog);
        }

        const auto deadline = std::chrono::steady_clock::now() + timeout;
        bool ready = false;
        while (!ready && std::chrono::steady_clock::now() < deadline) {
            pollfd p{nfd, POLLIN, 0};
            if (::poll(&p, 1, 200) == 1) {
                char buf[512];
                ssize_t n = ::recv(nfd, buf, sizeof buf, 0);
                if (n > 0 && std::string(buf, static_cast<std::size_t>(n)).find("READY=1") !=
                                 std::string::npos)
                    ready = true;
            }
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = 0;
                ::close(nfd);
                throw std::runtime_error("live_daemon: trawlnestd ended during start: " +
                                         read(root_ / "stderr"));
            }
        }
        ::close(nfd);
        while (ready && !port_answers(port_) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (!ready || !port_answers(port_)) {
            stop();
            throw std::runtime_error("live_daemon: trawlnestd not ready: " + read(root_ / "stderr"));
        }
    }

    // SIGTERM, then SIGKILL after `grace`; answers the exit status (-1 when none was running,
    // 1000 + signal for a signal death).
    int stop(std::chrono::seconds grace = std::chrono::seconds(30)) {
        if (pid_ == 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        const auto deadline = std::chrono::steady_clock::now() + grace;
        pid_t r = 0;
        while ((r = ::waitpid(pid_, &status, WNOHANG)) == 0 &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (r == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
    }

    // Ends the daemon with SIGKILL (its children see their connection end and quit).
    void kill9() {
        if (pid_ == 0) return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = 0;
    }

    pid_t pid() const { return pid_; }
    int port() const { return port_; }
    const std::string& user() const { return user_; }
    const std::string& password() const { return password_; }
    std::filesystem::path root() const { return root_; }
    std::filesystem::path data() const { return root_ / "data"; }
    std::filesystem::path deploy() const { return root_ / "deploy"; }
    std::filesystem::path config_file() const { return root_ / "trawlnest.cfg"; }
    std::string stderr_text() const { return read(root_ / "stderr"); }
    std::string log_text() const { return read(data() / "trawlnest.log"); }

    std::string base_url() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // The SOAP endpoint with the administrator's credentials (Basic authentication).
    std::string soap_endpoint() const {
        return "http://" + user_ + ":" + password_ + "@127.0.0.1:" + std::to_string(port_) +
               "/soap";
    }

    static std::string read(const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static void write(const std::filesystem::path& p, const std::string& text) {
        std::ofstream out(p, std::ios::binary | std::ios::trunc);
        out << text;
    }

private:
    std::filesystem::path root_;
    std::string user_, password_, extra_;
    std::vector<std::string> env_;
    int port_ = 0;
    pid_t pid_ = 0;
};

} // namespace tn_test
