#include "trawlnestd/trawlnestd-app.h"

#include "docstorage/docstorage.h"
#include "fetchqueue/fetchqueue.h"
#include "idxstorage/idxstorage.h"
#include "logstorage/logstorage.h"
#include "robotschecker/robotschecker.h"
#include "trawlnestd/builtin-plugins.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/cookie-cache.h"
#include "trawlnestd/dbconn.h"
#include "httpfront/httpserver.h"
#include "trawlnestd/process-thread.h"
#include "trawlnestd/scheduler-thread.h"
#include "trawlnestd/service-frontend.h"
#include "util/log.h"
#include "util/postmortem.h"
#include "util/sqlite_txn.h"
#include "util/syslayer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace lumbrake {

namespace {

// The leading decimal number of the text with an optional sign, as atoi reads it (0 when the
// text does not begin with one); saturates instead of overflowing.
long long leading_int(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value < 1000000000000LL) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

// A positive count; anything else (absent, empty, zero, negative, a word) gives the default.
int positive_setting(const config& cfg, const char* key, int fallback) {
    std::string value;
    if (!cfg.get(key, value) || value.empty()) return fallback;
    long long n = leading_int(value);
    if (n <= 0) return fallback;
    return n > 0x7fffffff ? 0x7fffffff : static_cast<int>(n);
}

} // namespace

daemon_settings daemon_settings::read(const config& cfg) {
    daemon_settings s;
    std::string value;
    if (cfg.get("Throttling", value)) {
        if (value == "0")
            s.throttling = 0;
        else
            s.throttling = positive_setting(cfg, "Throttling", s.throttling);
    }
    if (cfg.get("UserAgent", value) && !value.empty()) s.user_agent = value;
    s.workers = positive_setting(cfg, "WORKERS", s.workers);
    s.worker_timeout = positive_setting(cfg, "WORKER_TIMEOUT", s.worker_timeout);
    if (cfg.get("HTTP_PORT", value) && !value.empty()) s.http_port = value;
    s.http_threads = positive_setting(cfg, "HTTP_THREADS", s.http_threads);
    return s;
}

trawlnestd::trawlnestd() = default;

// The stop sequence has already stopped the threads and freed the storages; a job or start
// that ended the process early leaves them to the system.
trawlnestd::~trawlnestd() = default;

sqlite3* trawlnestd::open_db() const {
    return lumbrake::open_db(cfg_);
}

void trawlnestd::close_db(sqlite3* db) const {
    lumbrake::close_db(db);
}

bool trawlnestd::prepare(std::string& error) {
    error.clear();
    postmortem_init(program_path_.empty() ? "trawlnestd" : program_path_.c_str());
    sockets_startup();

    if (!cfg_.get("DATADIR", data_dir_)) {
        error = "No DATADIR defined in configuration file";
        return false;
    }
    if (::mkdir(data_dir_.c_str(), 0755) != 0 && errno != EEXIST) {
        error = "Can't create directory " + data_dir_;
        return false;
    }
    if (::chdir(data_dir_.c_str()) != 0 || ::access(".", R_OK | W_OK) != 0) {
        error = "Could not access DATADIR";
        return false;
    }
    dir_handle* dir = lumbrake::opendir(".");
    if (!dir) {
        error = "Could not open DATADIR";
        return false;
    }
    bool ok = true;
    while (const dir_entry* entry = lumbrake::readdir(dir)) {
        if (entry->name == "..") continue;
        std::string path = data_dir_ + "/" + entry->name;
        if (::access(path.c_str(), R_OK | W_OK) != 0) {
            error = (errno == EACCES ? "Bad owner/permission for " : "Error accessing ") + path;
            ok = false;
            break;
        }
    }
    lumbrake::closedir(dir);
    if (!ok) return false;

    std::string spawner_error;
    if (!platform_init(spawner_error)) {
        error = "Error starting the spawner: " + spawner_error;
        return false;
    }
    return true;
}

bool trawlnestd::open_storages(std::string& error) {
    error.clear();
    std::string log_error;
    if (!open_log_file(log_error, cfg_, "trawlnest.log")) {
        // Without LOGCFG the file is open with every facility at WARNING, which is the
        // documented default; only a file that cannot be opened stops the start.
        if (!g_log.stream) {
            error = log_error;
            return false;
        }
    }
    const daemon_settings settings = daemon_settings::read(cfg_);

    sqlite3* db = open_db();
    begin_exclusive_transaction(db);

    cookies_ = std::make_unique<cookie_cache>();
    docs_ = std::make_unique<docstorage>(db);
    queue_ = std::make_unique<fetchqueue>(db, settings.throttling);
    logs_ = std::make_unique<logstorage>(db);
    index_ = std::make_unique<idxstorage>();
    robots_ = std::make_unique<robotschecker>(db, settings.user_agent);
    stores_ = std::make_unique<config_stores>(db);

    init_dbconfig(db);
    read_platform_guid(db, platform_guid_);

    if (!register_builtin_plugins(db, error)) {
        // The start ends the process; the transaction is never committed.
        return false;
    }

    commit_transaction(db);
    close_db(db);

    services_.cfg = &cfg_;
    services_.platform_id = platform_guid_;
    services_.cookies = cookies_.get();
    services_.docs = docs_.get();
    services_.queue = queue_.get();
    services_.logs = logs_.get();
    services_.index = index_.get();
    services_.robots = robots_.get();
    services_.check_workers = [this] { check_workers(); };
    return true;
}

bool trawlnestd::start_threads(std::string& error) {
    error.clear();
    const daemon_settings settings = daemon_settings::read(cfg_);
    TN_LOG(LF_LOG, LL_INFO,
           "Starting " << settings.workers << " process threads, timeout "
                       << settings.worker_timeout);
    // A thread that cannot be created is a failed start, not a daemon that silently crawls
    // with fewer threads (or none).
    for (int i = 0; i < settings.workers; ++i) {
        auto* thread = new process_thread(services_, settings.worker_timeout);
        if (thread->Create() != wxTHREAD_NO_ERROR || thread->Run() != wxTHREAD_NO_ERROR) {
            delete thread;
            error = "Could not start process thread " + std::to_string(i + 1);
            return false;
        }
        process_threads_.push_back(thread);
    }
    auto* scheduler = new scheduler_thread(services_);
    if (scheduler->Create() != wxTHREAD_NO_ERROR || scheduler->Run() != wxTHREAD_NO_ERROR) {
        delete scheduler;
        error = "Could not start the scheduler thread";
        return false;
    }
    scheduler_ = scheduler;
    start_http_server(settings.http_port, settings.http_threads);
    return true;
}

void trawlnestd::start_http_server(const std::string& port, int threads) {
    http_hooks hooks;
    hooks.open_db = [this] { return open_db(); };
    hooks.close_db = [this](sqlite3* db) { close_db(db); };
    hooks.load_login = [](sqlite3* db, LoginConfiguration& login) {
        std::uint32_t magic = 0;
        return cfgstorage<LoginConfiguration>::get(db, LOGIN_CONFIGURATION_ID, login, magic);
    };
    http_server_ =
        std::make_unique<httpserver>(this, threads, port, std::move(hooks), http_services_);
    http_server_->run();
    http_running_ = true;
}

void trawlnestd::stop_http_server() {
    if (http_server_) http_server_->stop();
}

void trawlnestd::wait_http_server() {
    if (http_server_) {
        http_server_->wait();
        http_server_.reset();
    }
}

void trawlnestd::check_workers() {
    for (process_thread* thread : process_threads_)
        thread->check_timeout(false);
}

void trawlnestd::stop_threads() {
    if (http_running_) stop_http_server();
    if (scheduler_) scheduler_->stop();
    for (process_thread* thread : process_threads_) {
        thread->stop();
        thread->check_timeout(true);
    }
    if (http_running_) wait_http_server();
    if (scheduler_) scheduler_->Wait();
    for (process_thread* thread : process_threads_) {
        thread->Wait();
        delete thread;
    }
    process_threads_.clear();
    http_running_ = false;
    delete scheduler_;
    scheduler_ = nullptr;
}

void trawlnestd::close_storages() {
    services_ = crawl_services{};
    stores_.reset();
    robots_.reset();
    index_.reset(); // tells the index server to quit and waits for it
    logs_.reset();
    queue_.reset();
    docs_.reset();
    cookies_.reset();
    log_close();
    platform_done();
    sockets_cleanup();
}

void trawlnestd::service_start() {
    std::string error;
    if (!prepare(error) || !open_storages(error) || !start_threads(error)) {
        report_event(service_name_, "Error starting trawlnest: " + error, EVENT_ID_JOB_FAILED);
        std::exit(1);
    }
}

} // namespace lumbrake
