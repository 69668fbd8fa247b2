// The daemon's HTTP server: one accepting thread and a fixed pool of request threads, each
// serving one connection at a time, one request per connection (no keep-alive).
#pragma once

#include "api/login.h"

#include <sqlite3.h>

#include <chrono>
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
    // The login configuration as last stored, read without any storage transaction; false
    // when no copy is at hand (load_login is then called in a transaction).
    std::function<bool(sqlite3* db, LoginConfiguration& login)> cached_login;
    // The configuration file read anew per request; empty: the file the environment names.
    std::string config_file;
};

// The deadline of the connection a request thread serves. A watchdog on the server thread
// shuts down the receiving side of a connection whose deadline has passed, so a client that
// sends its head or body slowly, or not at all, cannot keep a thread for longer than that,
// whatever the per-read time-out allows.
class http_connection {
public:
    // The connection being served from now on, the time it gets for its head and, once the
    // head is read, for its body (0: no deadline).
    void begin(int sock, int head_seconds, int body_seconds);
    // The head has been read: the time the body gets, from now. `announced`: the head announced
    // a body (a length above 0, or a transfer coding).
    void body_started(bool announced);
    bool body_announced() const;
    // No connection any more (called before its descriptor is closed).
    void end();
    // Shuts the receiving side down when the deadline has passed.
    void check(std::chrono::steady_clock::time_point now);
    // True while the deadline has not passed (always true without one).
    bool in_time() const;

private:
    mutable std::mutex mutex_;
    int sock_ = -1;
    int body_seconds_ = 0;
    std::chrono::steady_clock::time_point deadline_{};
    bool expired_ = false;
    bool announced_ = false;
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
    // The connection's deadline keeper; null when the router is called without a server.
    http_connection* connection = nullptr;
    // The socket of the request being served (-1 when none), so a service can tell whether
    // its client has gone before it runs more work for it.
    int sock = -1;
    // The request announced its body's length (so a client that shuts its sending side down
    // afterwards has gone, see client_gone).
    bool length_known = false;
};

// True when the client of `sock` has closed the connection or reset it. A receiving side
// that the client merely shut down counts as gone only when `half_close_ends` is true (the
// request carried its own length, so the client had no need to end its body that way).
bool client_gone(int sock, bool half_close_ends);

// The deadlines of a connection (seconds): its head must arrive within `head`, its body within
// `body` after the head.
inline constexpr int HTTP_DEFAULT_HEAD_TIMEOUT_SECONDS = 15;
inline constexpr int HTTP_DEFAULT_BODY_TIMEOUT_SECONDS = 120;

// Read timeout of a connection, so a client that stops sending cannot hold a thread for ever.
inline constexpr int HTTP_DEFAULT_IO_TIMEOUT_SECONDS = 60;

// HTTP_PORT: "*:2200", "8080", "10.0.0.1", "10.0.0.1:8080". Address in network byte order.
bool parse_listen_address(const std::string& text, std::uint32_t& address, std::uint16_t& port);

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
    http_connection& connection() { return connection_; }

private:
    void entry();

    httpcontext context_;
    http_connection connection_;
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
    template <class F> void for_each(F f) {
        for (auto& t : threads_)
            f(*t);
    }

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
    // services may be null: every service path then answers 501 or 404 (webservices.h).
    httpserver(trawlnestd* app, int threads, std::string address, http_hooks hooks = {},
               http_services* services = nullptr,
               int io_timeout_seconds = HTTP_DEFAULT_IO_TIMEOUT_SECONDS);
    ~httpserver();
    httpserver(const httpserver&) = delete;
    httpserver& operator=(const httpserver&) = delete;

    // 0, or 1 invalid address, 2 no socket, 3 bind given up, 4 listen failed; error filled.
    int bind(std::string& error);
    // Binds in the caller's thread (unless bind has already succeeded) and, when that
    // succeeds, starts the accepting thread; the bind's code otherwise (nothing started), so a
    // daemon can report the failure before it announces that it is ready.
    int start(std::string& error);
    // Starts the thread, which binds first; a failed bind is logged and ends the thread.
    void run();
    // Body of the server thread; 0, or the bind's code when it failed.
    int Entry();
    // Closes the listening socket and returns once the server thread has ended.
    void stop();
    void wait();

    // The bound port once the accept loop runs (0 when it never started), for tests that
    // listen on port 0.
    std::uint16_t bound_port();
    const std::string& address() const { return address_; }
    bool secure() const { return secure_; }
    int io_timeout_seconds() const { return io_timeout_; }
    int head_timeout_seconds() const { return head_timeout_; }
    int body_timeout_seconds() const { return body_timeout_; }
    // Bind attempts and the wait between them (10 and 12 s in service).
    void set_bind_retries(int attempts, int delay_seconds) {
        bind_attempts_ = attempts > 0 ? attempts : 1;
        bind_delay_ = delay_seconds >= 0 ? delay_seconds : 0;
    }
    // The deadlines of each connection's head and body in seconds (0: none). Set before start.
    void set_deadlines(int head_seconds, int body_seconds);

private:
    trawlnestd* app_;
    std::string address_;
    http_hooks hooks_;
    int listen_ = -1;
    bool secure_ = false;
    int io_timeout_;
    int bind_attempts_ = 10;
    int bind_delay_ = 12;
    int head_timeout_ = HTTP_DEFAULT_HEAD_TIMEOUT_SECONDS;
    int body_timeout_ = HTTP_DEFAULT_BODY_TIMEOUT_SECONDS;
    void accept_loop();
    void watchdog();
    std::thread watchdog_;
    std::mutex state_mutex_;
    std::condition_variable state_cond_;
    bool running_ = false;
    bool ended_ = false;
    std::unique_ptr<threadpool<httpthread>> pool_;
    std::thread thread_;
};

} // namespace lumbrake
