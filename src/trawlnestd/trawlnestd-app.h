// The daemon's one application object: it owns the configuration map, the storages, the
// configuration stores and the threads for the life of the service, and runs the start job
// (prepare, open the storages, start the threads) and the stop sequence.
#pragma once

#include "trawlnestd/crawl-step.h"
#include "trawlnestd/daemon-storages.h"
#include "util/config.h"

#include <sqlite3.h>
#include <wx/app.h>

#include <memory>
#include <string>
#include <vector>

namespace lumbrake {

class httpserver;
struct http_services;

class process_thread;
class scheduler_thread;

// The HTTP thread pool's default size: one thread per core, at least 5 (searches run side by
// side, each on its request's thread).
int default_http_threads();

// The settings of the start job, each with its default when absent or not accepted.
struct daemon_settings {
    int throttling = 20;                    // Throttling: > 0, or exactly "0"
    std::string user_agent = "lumbrakebot"; // UserAgent: non-empty
    int workers = 5;                        // WORKERS: > 0
    int worker_timeout = 180;               // WORKER_TIMEOUT: > 0
    std::string http_port = "*:2200";       // HTTP_PORT: non-empty
    int http_threads = default_http_threads(); // HTTP_THREADS: > 0
    int http_head_timeout = 15;             // HTTP_HEAD_TIMEOUT (seconds): > 0
    int http_body_timeout = 120;            // HTTP_BODY_TIMEOUT (seconds): > 0
    int http_bind_attempts = 10;            // HTTP_BIND_ATTEMPTS: > 0
    int http_bind_delay = 12;               // HTTP_BIND_DELAY (seconds): > 0, or exactly "0"

    static daemon_settings read(const config& cfg);
};

class trawlnestd : public wxAppConsole {
public:
    trawlnestd();
    ~trawlnestd() override;

    // The command line: install, remove, or run the service (service-frontend.cc).
    bool OnInit() override;
    int OnRun() override { return 0; }
    int OnExit() override { return 0; }

    // The start job's steps; each clears the error text and leaves one line in it on failure.
    bool prepare(std::string& error);
    bool open_storages(std::string& error);
    bool start_threads(std::string& error);
    void stop_threads();
    void close_storages();
    // The watchdog pass over the process threads (run by the scheduler once per tick).
    void check_workers();
    // prepare, open_storages, start_threads; on failure writes event 1000 and ends the process
    // with exit status 1.
    void service_start();

    // Each thread and job opens its own connection to the database.
    sqlite3* open_db() const;
    void close_db(sqlite3* db) const;

    const config& cfg() const { return cfg_; }
    const std::string& platform_guid() const { return storages_.platform_guid; }
    const daemon_storages& storages() const { return storages_; }
    cookie_cache* cookies() const { return storages_.cookies.get(); }
    docstorage* docs() const { return storages_.docs.get(); }
    fetchqueue* queue() const { return storages_.queue.get(); }
    logstorage* logs() const { return storages_.logs.get(); }
    idxstorage* index() const { return storages_.index.get(); }
    robotschecker* robots() const { return storages_.robots.get(); }
    config_stores* stores() const { return storages_.stores.get(); }
    const std::vector<process_thread*>& process_threads() const { return process_threads_; }
    // The parts that the process threads and the scheduler use; valid while storages are open.
    const crawl_services& services() const { return services_; }

    const std::string& service_name() const { return service_name_; }
    const std::string& display_name() const { return display_name_; }
    void set_names(std::string service, std::string display) {
        service_name_ = std::move(service);
        display_name_ = std::move(display);
    }
    const std::string& data_dir() const { return data_dir_; }
    // Whether open_storages refuses a damaged database (not for the restore job, which is
    // how one is replaced).
    void set_check_database(bool check) { check_database_ = check; }
    const std::string& job_argument() const { return job_argument_; }
    void set_job_argument(std::string argument) { job_argument_ = std::move(argument); }
    // The program path as started (argv[0]), for the post-mortem layer.
    void set_program_path(std::string path) { program_path_ = std::move(path); }
    const std::string& program_path() const { return program_path_; }
    // The command-line arguments after the program name, as the system gave them (bytes).
    void set_arguments(std::vector<std::string> args) { arguments_ = std::move(args); }
    const std::vector<std::string>& arguments() const { return arguments_; }
    // The descriptor that reports SIGTERM and SIGINT (stop_signal_fd, service-frontend.h).
    void set_signal_fd(int fd) { signal_fd_ = fd; }
    // The SOAP, research-pane, REST and portal services of the HTTP server; they outlive the
    // application (the program's main owns them). Null: those paths answer an error status.
    void set_http_services(http_services* services) { http_services_ = services; }
    int signal_fd() const { return signal_fd_; }

private:
    // The HTTP front end binds its port before any thread starts, so a port that cannot be
    // had fails the start before readiness; it accepts once the other threads run, and is
    // stopped first.
    bool bind_http_server(const daemon_settings& settings, std::string& error);
    bool start_http_server(std::string& error);
    void stop_http_server();
    void wait_http_server();

    config cfg_;
    daemon_storages storages_;
    std::string service_name_;
    std::string display_name_;
    std::unique_ptr<httpserver> http_server_;
    http_services* http_services_ = nullptr;
    bool http_running_ = false;
    std::vector<process_thread*> process_threads_;
    scheduler_thread* scheduler_ = nullptr;
    std::string data_dir_;
    std::string job_argument_;
    std::string program_path_;
    std::vector<std::string> arguments_;
    int signal_fd_ = -1;
    // "trawlnest.lock" in DATADIR, locked exclusively by prepare for the life of the process.
    int datadir_lock_ = -1;
    bool check_database_ = true;
    crawl_services services_;
};

} // namespace lumbrake
