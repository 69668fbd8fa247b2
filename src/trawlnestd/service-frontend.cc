#include "trawlnestd/service-frontend.h"

#include <cctype>

#include "linux-platform/eventlog.h"
#include "trawlnestd/export-job.h"
#include "trawlnestd/import-job.h"
#include "trawlnestd/trawlnestd-app.h"
#include "util/config.h"
#include "util/log.h"
#include "util/syslayer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace lumbrake {

namespace {

int g_exit_status = 0;

bool starts_with_switch(const std::string& arg) {
    return !arg.empty() && (arg[0] == '-' || arg[0] == '/');
}

std::string quote_unit_word(const std::string& word) {
    // systemd's quoting: double quotes, with backslash, quote and the specifier sign escaped.
    std::string out = "\"";
    for (char c : word) {
        if (c == '\\' || c == '"') out += '\\';
        if (c == '%') {
            out += "%%";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

} // namespace

int& service_exit_status() {
    return g_exit_status;
}

std::string last_error_text(int error_number) {
    if (error_number == 0) return {};
    char text[64];
    std::snprintf(text, sizeof text, " (0x%x)", static_cast<unsigned>(error_number));
    return system_error_text(error_number) + text;
}

std::string event_text(const std::string& service_name, int error_number,
                       const std::string& message) {
    return service_name + " error: " + std::to_string(error_number) + ": " + message;
}

void report_event(const std::string& service_name, const std::string& message, int event_id) {
    const int saved = errno;
    std::string text = event_text(service_name, saved, message);
    platform::eventlog_write(platform::EVENT_ERROR, text.c_str());
    // Under systemd standard error is the journal, which holds the event already.
    if (!std::getenv("JOURNAL_STREAM"))
        std::fprintf(stderr, "[event %d] %s\n", event_id, text.c_str());
    errno = saved;
}

// ---- install and remove ----

service_host system_service_host() {
    service_host host;
    host.unit_dir = get_registry_env("LUMBRAKE_SYSTEMD_UNIT_DIR").value_or("/etc/systemd/system");
    host.has_command = [](const std::string& name) {
        const char* path = std::getenv("PATH");
        std::string dirs = path ? path : "/usr/sbin:/usr/bin:/sbin:/bin";
        std::size_t start = 0;
        while (start <= dirs.size()) {
            std::size_t end = dirs.find(':', start);
            if (end == std::string::npos) end = dirs.size();
            std::string dir = dirs.substr(start, end - start);
            if (!dir.empty() && ::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
            start = end + 1;
        }
        return false;
    };
    host.run = [](const std::vector<std::string>& argv) -> int {
        if (argv.empty()) return -1;
        pid_t pid = ::fork();
        if (pid < 0) return -1;
        if (pid == 0) {
            std::vector<char*> args;
            for (const std::string& a : argv)
                args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execvp(args[0], args.data());
            ::_exit(127);
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0) {
            if (errno != EINTR) return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    host.err = &std::cerr;
    return host;
}

std::string unit_file_name(const std::string& service_name) {
    return service_name + ".service";
}

std::string unit_file_text(const std::string& display_name, const std::string& program_path,
                           const std::string& env_store) {
    std::string text = "[Unit]\n"
                       "Description=" +
                       display_name +
                       "\n"
                       "After=network-online.target\n"
                       "Wants=network-online.target\n"
                       "\n"
                       "[Service]\n"
                       "Type=notify\n"
                       "NotifyAccess=main\n"
                       "ExecStart=" +
                       quote_unit_word(program_path) + "\n";
    if (!env_store.empty())
        text += "Environment=" + quote_unit_word("LUMBRAKE_ENV_STORE=" + env_store) + "\n";
    text += "# The daemon stops its workers and the index server itself.\n"
            "KillMode=mixed\n"
            "TimeoutStopSec=300\n"
            "\n"
            "[Install]\n"
            "WantedBy=multi-user.target\n";
    return text;
}

namespace {

void write_failure(service_host& host, const char* prefix, int error_number) {
    if (host.err) *host.err << prefix << last_error_text(error_number) << std::endl;
}

// Runs systemctl when it exists; its failure is reported by the caller.
int systemctl(service_host& host, const std::vector<std::string>& args) {
    if (!host.has_command("systemctl")) return 0;
    std::vector<std::string> argv{"systemctl"};
    argv.insert(argv.end(), args.begin(), args.end());
    return host.run(argv);
}

} // namespace

bool install_service(const std::string& service_name, const std::string& display_name,
                     const std::string& program_path, const config& cfg, service_host& host) {
    bool ok = true;
    if (program_path.empty()) {
        write_failure(host, "GetModuleFileName failed - ", ENOENT);
        return false;
    }
    struct stat st;
    if (::stat(host.unit_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::access(host.unit_dir.c_str(), W_OK) != 0) {
        write_failure(host, "OpenSCManager failed - ", errno ? errno : ENOTDIR);
        return false;
    }
    const std::string unit = host.unit_dir + "/" + unit_file_name(service_name);
    // The service reads the same environment store as the program that installed it.
    const char* store = std::getenv("LUMBRAKE_ENV_STORE");
    const std::string env_store = store ? store : "";
    const std::string text = unit_file_text(display_name, program_path, env_store);
    int fd = ::open(unit.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        write_failure(host, "CreateService failed - ", errno);
        ok = false;
    } else {
        std::size_t done = 0;
        while (done < text.size()) {
            ssize_t n = ::write(fd, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        int write_errno = done == text.size() ? 0 : (errno ? errno : EIO);
        if (::close(fd) != 0 && write_errno == 0) write_errno = errno;
        if (write_errno != 0) {
            ::unlink(unit.c_str());
            write_failure(host, "CreateService failed - ", write_errno);
            ok = false;
        } else if (systemctl(host, {"daemon-reload"}) != 0 ||
                   systemctl(host, {"enable", unit_file_name(service_name)}) != 0) {
            if (host.err) *host.err << "Enabling the service failed" << std::endl;
            ok = false;
        }
    }
    open_firewall_port(cfg, display_name, host);
    return ok;
}

bool remove_service(const std::string& service_name, const std::string& display_name,
                    const config& cfg, service_host& host) {
    (void)display_name;
    const std::string unit = host.unit_dir + "/" + unit_file_name(service_name);
    if (::access(unit.c_str(), F_OK) != 0) {
        write_failure(host, "OpenService failed - ", errno);
        return false;
    }
    bool ok = true;
    // "systemctl stop" returns once the service has stopped; an inactive service is no error.
    if (systemctl(host, {"stop", unit_file_name(service_name)}) != 0) {
        if (host.err) *host.err << "Service failed to stop - " << std::endl;
        ok = false;
    }
    systemctl(host, {"disable", unit_file_name(service_name)});
    if (::unlink(unit.c_str()) != 0) {
        write_failure(host, "DeleteService failed - ", errno);
        ok = false;
    } else {
        systemctl(host, {"daemon-reload"});
    }
    close_firewall_port(cfg, host);
    return ok;
}

int firewall_port(const config& cfg) {
    std::string value;
    if (!cfg.get("HTTP_PORT", value)) return 0;
    std::size_t colon = value.find(':');
    if (colon == std::string::npos) return 0;
    const char* p = value.c_str() + colon + 1;
    char* end = nullptr;
    errno = 0;
    long port = std::strtol(p, &end, 10);
    // Port 0 or out of range opens nothing rather than a wrong port.
    if (end == p || errno != 0 || port <= 0 || port > 65535) return 0;
    return static_cast<int>(port);
}

namespace {

void firewall_step(const config& cfg, service_host& host, bool open,
                   const std::string& display_name) {
    const int port = firewall_port(cfg);
    if (port == 0) return;
    const std::string port_spec = std::to_string(port) + "/tcp";
    std::vector<std::vector<std::string>> commands;
    if (host.has_command("firewall-cmd")) {
        const std::string op = (open ? "--add-port=" : "--remove-port=") + port_spec;
        commands.push_back({"firewall-cmd", "--permanent", op});
        commands.push_back({"firewall-cmd", op});
    } else if (host.has_command("ufw")) {
        if (open)
            commands.push_back({"ufw", "allow", port_spec, "comment", display_name});
        else
            commands.push_back({"ufw", "delete", "allow", port_spec});
    } else {
        TN_LOG(LF_LOG, LL_WARNING, "No firewall tool found; port " << port << " left as it is");
        return;
    }
    for (const auto& command : commands) {
        int status = host.run(command);
        if (status != 0 && host.err) {
            *host.err << "Firewall command failed (" << status << "):";
            for (const std::string& word : command)
                *host.err << " " << word;
            *host.err << std::endl;
        }
    }
}

} // namespace

void open_firewall_port(const config& cfg, const std::string& display_name, service_host& host) {
    firewall_step(cfg, host, true, display_name);
}

void close_firewall_port(const config& cfg, service_host& host) {
    firewall_step(cfg, host, false, {});
}

// ---- start arguments, status, signals ----

bool parse_start_arguments(const std::vector<std::string>& args, maintenance_job& job,
                           std::string& argument) {
    job = maintenance_job::none;
    argument.clear();
    if (args.empty()) return true;
    if (!starts_with_switch(args[0])) return false;
    const std::string word = args[0].substr(1);
    if (args.size() == 1) {
        if (word == "reset")
            job = maintenance_job::reset;
        else if (word == "reindex")
            job = maintenance_job::reindex;
        else
            return false;
        return true;
    }
    if (args.size() == 2) {
        if (word == "import")
            job = maintenance_job::import_config;
        else if (word == "export")
            job = maintenance_job::export_config;
        else if (word == "backup")
            job = maintenance_job::backup;
        else if (word == "restore")
            job = maintenance_job::restore;
        else
            return false;
        if (args[1].empty()) {
            job = maintenance_job::none;
            return false;
        }
        argument = args[1];
        return true;
    }
    return false;
}

bool is_inert_service_word(const std::string& arg) {
    std::string word = starts_with_switch(arg) ? arg.substr(1) : arg;
    std::string folded;
    for (char c : word)
        folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (folded != "install" && folded != "remove") return false;
    return !(starts_with_switch(arg) && word == folded);
}

bool report_service_status(service_state state) {
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (!path || !*path) return true;
    const char* message = state == SERVICE_RUNNING         ? "READY=1\nSTATUS=Running"
                          : state == SERVICE_START_PENDING ? "STATUS=Starting"
                          : state == SERVICE_STOP_PENDING  ? "STOPPING=1\nSTATUS=Stopping"
                                                           : "STATUS=Stopped";
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::size_t len = std::strlen(path);
    if (len >= sizeof addr.sun_path) return false;
    std::memcpy(addr.sun_path, path, len);
    if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0'; // abstract namespace
    int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    ssize_t sent = ::sendto(fd, message, std::strlen(message), MSG_NOSIGNAL,
                            reinterpret_cast<sockaddr*>(&addr),
                            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + len));
    ::close(fd);
    return sent >= 0;
}

int stop_signal_fd() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    if (::pthread_sigmask(SIG_BLOCK, &set, nullptr) != 0) return -1;
    return ::signalfd(-1, &set, SFD_CLOEXEC);
}

int wait_stop_signal(int fd) {
    signalfd_siginfo info;
    for (;;) {
        ssize_t n = ::read(fd, &info, sizeof info);
        if (n == static_cast<ssize_t>(sizeof info)) return static_cast<int>(info.ssi_signo);
        if (n < 0 && errno == EINTR) continue;
        return -1;
    }
}

namespace {

void service_stop(trawlnestd& app) {
    report_service_status(SERVICE_STOP_PENDING);
    app.stop_threads();
    app.close_storages();
    report_service_status(SERVICE_STOPPED);
}

bool run_job(trawlnestd& app, maintenance_job job, std::string& error) {
    const maintenance_storages storages = app.storages().maintenance();
    switch (job) {
    case maintenance_job::reset:
        return reset(app.cfg(), storages, error);
    case maintenance_job::reindex:
        return reindex(app.cfg(), storages, error);
    case maintenance_job::backup:
        return backup(app.cfg(), app.job_argument(), error);
    case maintenance_job::restore:
        return restore(app.cfg(), app.job_argument(), storages, error);
    case maintenance_job::export_config:
        return cfgjobs::export_config(app.cfg(), app.job_argument(), error);
    case maintenance_job::import_config:
        return cfgjobs::import_config(
            app.cfg(), app.job_argument(),
            [&app, storages](std::string& e) { return reset(app.cfg(), storages, e); }, error);
    case maintenance_job::none:
        break;
    }
    return false;
}

} // namespace

int service_main(trawlnestd& app, const std::vector<std::string>& args, int signal_fd) {
    maintenance_job job = maintenance_job::none;
    std::string argument;
    if (!parse_start_arguments(args, job, argument)) {
        report_event(app.service_name(), "Unknown startup parameters", EVENT_ID_BAD_PARAMETERS);
        return 1;
    }
    if (signal_fd < 0) {
        report_event(app.service_name(), "SvcInit(): the stop signals cannot be received.",
                     EVENT_ID_DISPATCHER);
        return 1;
    }
    report_service_status(SERVICE_START_PENDING);

    if (job == maintenance_job::none) {
        app.service_start();
        report_service_status(SERVICE_RUNNING);
        TN_LOG(LF_LOG, LL_INFO, "trawlnest started");
        int sig = wait_stop_signal(signal_fd);
        TN_LOG(LF_LOG, LL_INFO, "Stopping trawlnest (signal " << sig << ")");
        service_stop(app);
        return 0;
    }

    // A stop signal during the job stays pending: the job is never cut short under its
    // storages, and the program ends when it is done.
    report_service_status(SERVICE_RUNNING);
    maintenance_frame_steps steps;
    steps.store_argument = [&app](const std::string& a) { app.set_job_argument(a); };
    steps.prepare = [&app](std::string& e) { return app.prepare(e); };
    app.set_check_database(job != maintenance_job::restore);
    steps.open_storages = [&app](std::string& e) { return app.open_storages(e); };
    steps.run_job = [&app, job](std::string& e) { return run_job(app, job, e); };
    steps.close_storages = [&app] { app.close_storages(); };
    steps.report_failure = [&app](const std::string& text) {
        report_event(app.service_name(), text, EVENT_ID_JOB_FAILED);
    };
    if (run_maintenance_job(job, argument, steps) != 0) std::exit(1);
    report_service_status(SERVICE_STOPPED);
    return 0;
}

bool trawlnestd::OnInit() {
    set_names("trawlnest", "Trawlnest Server");
    const std::vector<std::string>& args = arguments();
    if (!args.empty() && is_inert_service_word(args[0])) {
        // Install and remove answer only to their exact switch; a near miss does nothing.
        g_exit_status = 0;
        return false;
    }
    if (!args.empty() && starts_with_switch(args[0])) {
        const std::string word = args[0].substr(1);
        if (word == "install" || word == "remove") {
            service_host host = system_service_host();
            bool ok;
            if (word == "install") {
                char path[4096];
                ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
                std::string program = n > 0 ? std::string(path, static_cast<std::size_t>(n)) : "";
                ok = install_service(service_name(), display_name(), program, cfg(), host);
            } else {
                ok = remove_service(service_name(), display_name(), cfg(), host);
            }
            g_exit_status = ok ? 0 : 1;
            return false;
        }
    }
    g_exit_status = service_main(*this, args, signal_fd());
    return true;
}

} // namespace lumbrake
