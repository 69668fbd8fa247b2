#include "trawlnestd/trawlnestd-app.h"

#include "docstorage/docstorage.h"
#include "idxstorage/idxstorage.h"
#include "trawlnestd/builtin-plugins.h"
#include "trawlnestd/cfgstorage.h"
#include "trawlnestd/dbconn.h"
#include "httpfront/httpserver.h"
#include "trawlnestd/process-thread.h"
#include "trawlnestd/scheduler-thread.h"
#include "trawlnestd/service-frontend.h"
#include "util/log.h"
#include "util/postmortem.h"
#include "util/sqlite_txn.h"
#include "util/syslayer.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace lumbrake {

namespace {

// In DATADIR while an index server is in use (see open_storages).
constexpr const char* index_open_marker = "index.open";

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

int default_http_threads() {
    return std::max(5, static_cast<int>(std::thread::hardware_concurrency()));
}

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
    s.http_head_timeout = positive_setting(cfg, "HTTP_HEAD_TIMEOUT", s.http_head_timeout);
    s.http_body_timeout = positive_setting(cfg, "HTTP_BODY_TIMEOUT", s.http_body_timeout);
    s.http_bind_attempts = positive_setting(cfg, "HTTP_BIND_ATTEMPTS", s.http_bind_attempts);
    if (cfg.get("HTTP_BIND_DELAY", value) && value == "0")
        s.http_bind_delay = 0;
    else
        s.http_bind_delay = positive_setting(cfg, "HTTP_BIND_DELAY", s.http_bind_delay);
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
    // The database holds password hashes and crawl credentials: what the daemon creates
    // (DATADIR, the database and its journal, the log, the index) is for its own user only.
    ::umask(077);
    if (::mkdir(data_dir_.c_str(), 0700) != 0 && errno != EEXIST) {
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
    // Files of an older installation made readable by others are closed to them.
    for (const char* name : {"trawlnest.db", "trawlnest.log"}) {
        struct stat st {};
        if (::stat(name, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 077) != 0)
            ::chmod(name, st.st_mode & 0700);
    }

    // One daemon or job per DATADIR: a second one would change the store under the first
    // one's index and caches.
    if (datadir_lock_ < 0) {
        datadir_lock_ = ::open("trawlnest.lock", O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (datadir_lock_ < 0) {
            error = "Cannot open " + data_dir_ + "/trawlnest.lock: " + system_error_text();
            return false;
        }
        if (::flock(datadir_lock_, LOCK_EX | LOCK_NB) != 0) {
            error = "DATADIR " + data_dir_ +
                    " is in use by another trawlnestd (a running daemon or maintenance job)";
            ::close(datadir_lock_);
            datadir_lock_ = -1;
            return false;
        }
    }

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

    // A damaged page would abort the first write that touches it, or read as a missing
    // table: the daemon does not start on it.
    if (check_database_) {
        const std::string damage = database_damage("trawlnest.db");
        if (!damage.empty()) {
            error = "The database " + data_dir_ + "/trawlnest.db is damaged (" + damage +
                    "): move it aside and restore a backup with trawlnestd /restore <file>";
            return false;
        }
    }

    sqlite3* db = open_db();
    storage_transaction txn(db);

    storages_.open(db, {.throttling = settings.throttling, .user_agent = settings.user_agent});

    // The marker lives while the index server runs: found at start, the last run ended
    // without its final flush, and documents stored since then may be missing from the index.
    // (The restore job rebuilds the index itself, and its database may be the damaged one.)
    const bool unclean = ::access(index_open_marker, F_OK) == 0;
    if (unclean && check_database_) {
        TN_LOG(LF_LOG, LL_ERROR, "The index was not closed cleanly; rebuilding it from the store");
        storages_.docs->rebuild_index(db, *storages_.index);
    } else if (!unclean) {
        if (FILE* marker = std::fopen(index_open_marker, "we")) std::fclose(marker);
    }

    if (!register_builtin_plugins(db, error)) {
        // The start ends the process; nothing of it is kept.
        txn.rollback();
        return false;
    }

    txn.commit();
    close_db(db);

    services_.cfg = &cfg_;
    storages_.fill(services_);
    services_.check_workers = [this] { check_workers(); };
    return true;
}

bool trawlnestd::start_threads(std::string& error) {
    error.clear();
    const daemon_settings settings = daemon_settings::read(cfg_);
    if (!bind_http_server(settings, error)) return false;
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
    return start_http_server(error);
}

bool trawlnestd::bind_http_server(const daemon_settings& settings, std::string& error) {
    http_hooks hooks;
    hooks.open_db = [this] { return open_db(); };
    hooks.close_db = [this](sqlite3* db) { close_db(db); };
    hooks.load_login = [](sqlite3* db, LoginConfiguration& login) {
        std::uint32_t magic = 0;
        bool found = cfgstorage<LoginConfiguration>::get(db, LOGIN_CONFIGURATION_ID, login, magic);
        // Read inside the caller's transaction: later logins use this copy until a write
        // replaces it.
        login_cache_store(db, found ? login : LoginConfiguration());
        return found;
    };
    hooks.cached_login = login_cache_find;
    http_server_ = std::make_unique<httpserver>(this, settings.http_threads, settings.http_port,
                                                std::move(hooks), http_services_);
    http_server_->set_bind_retries(settings.http_bind_attempts, settings.http_bind_delay);
    http_server_->set_deadlines(settings.http_head_timeout, settings.http_body_timeout);
    std::string why;
    if (http_server_->bind(why) != 0) {
        http_server_.reset();
        error = "Cannot listen on HTTP_PORT " + settings.http_port + ": " + why;
        TN_LOG(LF_HTTPSERVER, LL_ERROR, error);
        return false;
    }
    return true;
}

bool trawlnestd::start_http_server(std::string& error) {
    std::string why;
    if (!http_server_ || http_server_->start(why) != 0) {
        error = "Cannot start the HTTP server: " + why;
        return false;
    }
    http_running_ = true;
    return true;
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
    // An index that took every change closes cleanly: the next start need not rebuild it.
    bool clean = false;
    if (storages_.index) {
        storages_.index->flush();
        clean = !storages_.index->needs_rebuild();
    }
    storages_.close(); // the index server quits before close returns
    if (clean) ::unlink(index_open_marker);
    log_close();
    platform_done();
    sockets_cleanup();
}

void trawlnestd::service_start() {
    std::string error;
    bool ok = false;
    try {
        ok = prepare(error) && open_storages(error) && start_threads(error);
    } catch (const sqlite_error& e) {
        error = e.what();
    }
    if (!ok) {
        report_event(service_name_, "Error starting trawlnest: " + error, EVENT_ID_JOB_FAILED);
        std::exit(1);
    }
}

} // namespace lumbrake
