// The daemon's HTTP server: one accepting thread and a fixed pool of request threads, each
// serving one connection at a time, one request per connection (no keep-alive).
#pragma once

#include "api/login.h"

#include <sqlite3.h>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace lumbrake {

class trawlnestd;
class httpstate;

// What the front end needs of the daemon core, given as functions so that the core can own
// the server without a library cycle. Empty members are skipped (tests).
struct http_hooks {
    // One connection per request thread, opened when the thread is built.
    std::function<sqlite3*()> open_db;
    std::function<void(sqlite3*)> close_db;
    // Loads login configuration id 0; called inside the exclusive transaction that the caller
    // holds on db. False leaves the record empty.
    std::function<bool(sqlite3* db, LoginConfiguration& login)> load_login;
    // The configuration file read anew per request; empty: the file the environment names.
    std::string config_file;
};

// Per request thread: the identity of the thread's current request and its connection.
struct httpcontext {
    trawlnestd* app = nullptr; // not owned; null in tests
    const http_hooks* hooks = nullptr;
    struct http_services* services = nullptr;
    sqlite3* db = nullptr;
    std::string user;
    std::vector<std::string> groups;
    bool admin = false;
};

// Read timeout of a connection, so a client that stops sending cannot hold a thread for ever.
inline constexpr int HTTP_DEFAULT_IO_TIMEOUT_SECONDS = 60;

// HTTP_PORT: "*:2200", "8080", "10.0.0.1", "10.0.0.1:8080". Address in network byte order.
bool parse_listen_address(const std::string& text, std::uint32_t& address, std::uint16_t& port);

// "Date: ...\r\n" for now, in UTC.
std::string send_date_header();
// Last-Modified (now), Cache-Control, Expires and Pragma lines.
void send_no_cache_headers(int sock);
// Reads and drops length bytes in reads of at most 1024; stops at the first failed read.
void discard_body(int sock, std::int64_t length);

template <class T> class threadpool;
class httpserver;

class httpthread {
public:
    httpthread(trawlnestd* app, const http_hooks* hooks, http_services* services,
               threadpool<httpthread>* pool, int index);
    ~httpthread();
    httpthread(const httpthread&) = delete;
    httpthread& operator=(const httpthread&) = delete;

    void run(); // starts the thread
    void serve(httpserver* server, int sock);
    void stop();
    void join();

private:
    void entry();

    httpcontext context_;
    const http_hooks* hooks_;
    threadpool<httpthread>* pool_;
    int index_;
    std::mutex mutex_;
    std::condition_variable cond_;
    bool stop_ = false;
    bool running_ = false;
    int socket_ = -1;
    httpserver* server_ = nullptr;
    std::thread thread_;
};

template <class T> class threadpool {
public:
    threadpool(trawlnestd* app, const http_hooks* hooks, http_services* services, int n);
    ~threadpool(); // stops, joins and deletes every thread
    T* acquire();  // blocks until a thread is free
    void release(int index);

private:
    std::vector<std::unique_ptr<T>> threads_;
    std::vector<int> available_;
    int availablecount_ = 0;
    int max_;
    std::mutex mutex_;
    std::condition_variable cond_;
};

class httpserver {
public:
    // services may be null: every service path then answers its seam's error status.
    httpserver(trawlnestd* app, int threads, std::string address, http_hooks hooks = {},
               http_services* services = nullptr,
               int io_timeout_seconds = HTTP_DEFAULT_IO_TIMEOUT_SECONDS);
    ~httpserver();
    httpserver(const httpserver&) = delete;
    httpserver& operator=(const httpserver&) = delete;

    // 0, or 1 invalid address, 2 no socket, 3 bind given up, 4 listen failed; error filled.
    int bind(std::string& error);
    // Runs the thread body: bind (fatal on failure), then accept until stop().
    void run();
    // Body of the server thread; returns 0.
    int Entry();
    void stop();
    void wait();

    // The bound port once the accept loop runs (0 when it never started), for tests that
    // listen on port 0.
    std::uint16_t bound_port();
    const std::string& address() const { return address_; }
    bool secure() const { return secure_; }
    int io_timeout_seconds() const { return io_timeout_; }
    // Bind attempts and the wait between them (10 and 12 s in service).
    void set_bind_retries(int attempts, int delay_seconds) {
        bind_attempts_ = attempts;
        bind_delay_ = delay_seconds;
    }

private:
    trawlnestd* app_;
    std::string address_;
    http_hooks hooks_;
    int listen_ = -1;
    bool secure_ = false;
    int io_timeout_;
    int bind_attempts_ = 10;
    int bind_delay_ = 12;
    std::mutex state_mutex_;
    std::condition_variable state_cond_;
    bool running_ = false;
    bool ended_ = false;
    std::unique_ptr<threadpool<httpthread>> pool_;
    std::thread thread_;
};

} // namespace lumbrake
