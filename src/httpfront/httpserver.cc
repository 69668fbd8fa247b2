#include "httpfront/httpserver.h"

#include "httpfront/webservices.h"
#include "util/log.h"
#include "util/syslayer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace lumbrake {

namespace {

// Four decimal parts of at most 255, nothing after the fourth.
bool parse_dotted(const std::string& text, std::uint32_t& address) {
    std::uint32_t value = 0;
    std::size_t i = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
        std::size_t start = i;
        unsigned n = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 4)
            n = n * 10 + static_cast<unsigned>(text[i++] - '0');
        if (i == start || i - start > 3 || n > 255) return false;
        value = (value << 8) | n;
    }
    if (i != text.size()) return false;
    address = htonl(value);
    return true;
}

// An unsigned decimal port; anything after the digits, or no digits, is invalid.
bool parse_port(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned long n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + static_cast<unsigned>(c - '0');
    }
    if (n > 65535) return false; // would wrap to another port
    port = static_cast<std::uint16_t>(n);
    return true;
}

std::string error_text() {
    return std::strerror(errno);
}

} // namespace

bool parse_listen_address(const std::string& text, std::uint32_t& address, std::uint16_t& port) {
    address = htonl(INADDR_ANY);
    port = 2200;
    if (text.empty()) return true;
    std::size_t colon = text.find(':');
    if (colon != std::string::npos) {
        std::string host = text.substr(0, colon);
        if (!parse_port(text.substr(colon + 1), port)) return false;
        if (host == "*") return true;
        return parse_dotted(host, address);
    }
    if (text == "*" || text == "2200") return true;
    std::size_t digits = 0;
    while (digits < text.size() && text[digits] >= '0' && text[digits] <= '9')
        ++digits;
    if (digits == text.size()) return parse_port(text, port);
    if (digits > 0 && text[digits] == '.') return parse_dotted(text, address);
    return false;
}

// ---- connection deadlines ----

void http_connection::begin(int sock, int head_seconds, int body_seconds) {
    std::lock_guard lock(mutex_);
    sock_ = sock;
    body_seconds_ = body_seconds;
    expired_ = false;
    announced_ = false;
    deadline_ = head_seconds > 0
                    ? std::chrono::steady_clock::now() + std::chrono::seconds(head_seconds)
                    : std::chrono::steady_clock::time_point::max();
}

void http_connection::body_started(bool announced) {
    std::lock_guard lock(mutex_);
    announced_ = announced;
    if (sock_ < 0 || expired_) return;
    deadline_ = body_seconds_ > 0
                    ? std::chrono::steady_clock::now() + std::chrono::seconds(body_seconds_)
                    : std::chrono::steady_clock::time_point::max();
}

void http_connection::end() {
    std::lock_guard lock(mutex_);
    sock_ = -1;
}

void http_connection::check(std::chrono::steady_clock::time_point now) {
    std::lock_guard lock(mutex_);
    if (sock_ < 0 || expired_ || now < deadline_) return;
    expired_ = true;
    // Only the receiving side: a read in progress ends, an answer can still be sent.
    ::shutdown(sock_, SHUT_RD);
    TN_LOG(LF_HTTPSERVER, LL_INFO, "request not received in time, connection cut");
}

bool http_connection::body_announced() const {
    std::lock_guard lock(mutex_);
    return announced_;
}

bool http_connection::in_time() const {
    std::lock_guard lock(mutex_);
    return !expired_ && std::chrono::steady_clock::now() < deadline_;
}

bool client_gone(int sock, bool half_close_ends) {
    if (sock < 0) return false;
    pollfd p{sock, POLLRDHUP, 0};
    if (::poll(&p, 1, 0) != 1) return false;
    if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return true;
    return half_close_ends && (p.revents & POLLRDHUP);
}

namespace {

// After the answer: our side is closed for sending, and what the client still sends (a body
// that no service read) is read and dropped, up to the body limit and within the connection's
// deadline, so that closing does not reset the connection under an answer the client has not
// read yet.
void finish_connection(int sock, const http_connection& connection) {
    if (!connection.body_announced()) return; // nothing can be left unread
    ::shutdown(sock, SHUT_WR);
    constexpr std::int64_t cap = 16777216 + 65536;
    std::int64_t dropped = 0;
    char buffer[16384];
    while (dropped <= cap && connection.in_time()) {
        // A client that has nothing more to send but keeps its side open is not waited for.
        pollfd p{sock, POLLIN, 0};
        if (::poll(&p, 1, 1000) != 1) break;
        ssize_t n = ::recv(sock, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        dropped += n;
    }
}

} // namespace

// ---- thread pool ----

template <class T>
threadpool<T>::threadpool(trawlnestd* app, const http_hooks* hooks, http_services* services, int n)
    : available_(static_cast<std::size_t>(n)), max_(n) {
    std::lock_guard lock(mutex_);
    for (int i = 0; i < n; ++i) {
        threads_.push_back(std::make_unique<T>(app, hooks, services, this, i));
        threads_.back()->run();
    }
}

template <class T> threadpool<T>::~threadpool() {
    for (auto& t : threads_)
        t->stop();
    for (auto& t : threads_)
        t->join();
    threads_.clear();
}

template <class T> T* threadpool<T>::acquire() {
    std::unique_lock lock(mutex_);
    cond_.wait(lock, [this] { return availablecount_ > 0; });
    TN_ASSERT(availablecount_ - 1 >= 0);
    --availablecount_;
    return threads_[static_cast<std::size_t>(available_[static_cast<std::size_t>(availablecount_)])]
        .get();
}

template <class T> void threadpool<T>::release(int index) {
    std::lock_guard lock(mutex_);
    TN_ASSERT(availablecount_ + 1 <= max_);
    available_[static_cast<std::size_t>(availablecount_++)] = index;
    cond_.notify_one();
}

template class threadpool<httpthread>;

// ---- request thread ----

httpthread::httpthread(trawlnestd* app, const http_hooks* hooks, http_services* services,
                       threadpool<httpthread>* pool, int index)
    : hooks_(hooks), pool_(pool), index_(index) {
    context_.app = app;
    context_.hooks = hooks;
    context_.services = services;
    if (hooks && hooks->open_db) context_.db = hooks->open_db();
}

httpthread::~httpthread() {
    join();
    if (context_.db && hooks_ && hooks_->close_db) hooks_->close_db(context_.db);
}

void httpthread::run() {
    thread_ = std::thread([this] { entry(); });
}

void httpthread::join() {
    if (thread_.joinable()) thread_.join();
}

void httpthread::entry() {
    std::unique_lock lock(mutex_);
    running_ = true;
    pool_->release(index_);
    for (;;) {
        cond_.wait(lock, [this] { return stop_ || socket_ >= 0; });
        if (socket_ < 0) break; // stopped while idle
        int sock = socket_;
        httpserver* server = server_;
        lock.unlock();
        connection_.begin(sock, server->head_timeout_seconds(), server->body_timeout_seconds());
        context_.connection = &connection_;
        context_.sock = sock;
        try {
            dispatch_http_request(sock, server->address(), server->secure(), context_);
            finish_connection(sock, connection_);
        } catch (const std::exception& e) {
            // A failed request still closes its connection; the thread stays in service.
            TN_LOG(LF_HTTPSERVER, LL_ERROR, "request failed: " << e.what());
        }
        context_.sock = -1;
        lock.lock();
        socket_ = -1;
        cond_.notify_all(); // a waiting stop() learns that the connection is done
        connection_.end();
        ::shutdown(sock, SHUT_RD);
        ::close(sock);
        if (stop_) break;
        pool_->release(index_);
    }
    running_ = false;
}

void httpthread::serve(httpserver* server, int sock) {
    std::lock_guard lock(mutex_);
    TN_ASSERT(running_);
    TN_ASSERT(socket_ < 0);
    server_ = server;
    socket_ = sock;
    cond_.notify_all();
}

void httpthread::stop() {
    std::unique_lock lock(mutex_);
    stop_ = true;
    cond_.notify_all();
    // Grace for a request in progress, then its connection is cut; the serving thread closes
    // the descriptor itself, so no other connection can be hit by a reused number.
    if (socket_ >= 0 &&
        !cond_.wait_for(lock, std::chrono::seconds(5), [this] { return socket_ < 0; }))
        ::shutdown(socket_, SHUT_RDWR);
}

// ---- server ----

httpserver::httpserver(trawlnestd* app, int threads, std::string address, http_hooks hooks,
                       http_services* services, int io_timeout_seconds)
    : app_(app), address_(std::move(address)), hooks_(std::move(hooks)),
      io_timeout_(io_timeout_seconds) {
    pool_ = std::make_unique<threadpool<httpthread>>(app_, &hooks_, services,
                                                     threads > 0 ? threads : 5);
}

httpserver::~httpserver() {
    stop();
    wait();
    pool_.reset();
    if (listen_ >= 0) ::close(listen_); // bound but never started
}

void httpserver::set_deadlines(int head_seconds, int body_seconds) {
    head_timeout_ = head_seconds > 0 ? head_seconds : 0;
    body_timeout_ = body_seconds > 0 ? body_seconds : 0;
}

int httpserver::bind(std::string& error) {
    error.clear();
    std::uint32_t address = 0;
    std::uint16_t port = 0;
    if (!parse_listen_address(address_, address, port)) {
        error = "invalid listen address " + address_;
        return 1;
    }
    int sock = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) {
        error = error_text();
        return 2;
    }
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr.s_addr = address;
    for (int attempt = 0; attempt < bind_attempts_; ++attempt) {
        int one = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(sock, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) {
            if (::listen(sock, 128) != 0) {
                error = error_text();
                ::close(sock);
                return 4;
            }
            std::lock_guard lock(state_mutex_);
            listen_ = sock;
            return 0;
        }
        error = error_text();
        if (errno == EADDRINUSE)
            TN_LOG(LF_HTTPSERVER, LL_DEBUG,
                   "Address in use, will retry in " << bind_delay_ << " seconds");
        else
            TN_LOG(LF_HTTPSERVER, LL_DEBUG,
                   "Bind error (" << error << ") will retry in " << bind_delay_ << " seconds");
        if (attempt + 1 < bind_attempts_) sleep_seconds(static_cast<unsigned>(bind_delay_));
    }
    ::close(sock);
    return 3;
}

std::uint16_t httpserver::bound_port() {
    {
        std::unique_lock lock(state_mutex_);
        state_cond_.wait(lock, [this] { return running_ || ended_ || !thread_.joinable(); });
    }
    sockaddr_in sa{};
    socklen_t len = sizeof sa;
    if (listen_ < 0 || ::getsockname(listen_, reinterpret_cast<sockaddr*>(&sa), &len) != 0)
        return 0;
    return ntohs(sa.sin_port);
}

int httpserver::start(std::string& error) {
    error.clear();
    bool bound;
    {
        std::lock_guard lock(state_mutex_);
        bound = listen_ >= 0;
    }
    if (!bound) {
        int binderr = bind(error);
        TN_LOG(LF_HTTPSERVER, LL_DEBUG, "binderr==" << binderr << ": " << error);
        if (binderr != 0) return binderr;
    }
    thread_ = std::thread([this] { Entry(); });
    watchdog_ = std::thread([this] { watchdog(); });
    return 0;
}

void httpserver::run() {
    thread_ = std::thread([this] { Entry(); });
    watchdog_ = std::thread([this] { watchdog(); });
}

int httpserver::Entry() {
    bool bound;
    {
        std::lock_guard lock(state_mutex_);
        bound = listen_ >= 0;
    }
    if (!bound) {
        std::string error;
        int binderr = bind(error);
        TN_LOG(LF_HTTPSERVER, LL_DEBUG, "binderr==" << binderr << ": " << error);
        if (binderr != 0) {
            // Nothing is served; stop() and wait() still return.
            TN_LOG(LF_HTTPSERVER, LL_ERROR, "cannot listen on " << address_ << ": " << error);
            std::lock_guard lock(state_mutex_);
            ended_ = true;
            state_cond_.notify_all();
            return binderr;
        }
    }
    accept_loop();
    return 0;
}

void httpserver::accept_loop() {
    int sock;
    {
        std::lock_guard lock(state_mutex_);
        running_ = true;
        sock = listen_;
        state_cond_.notify_all();
    }
    for (;;) {
        int conn = ::accept4(sock, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            break; // the listening socket was shut down by stop()
        }
        timeval tv{};
        tv.tv_sec = io_timeout_;
        ::setsockopt(conn, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        ::setsockopt(conn, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
        pool_->acquire()->serve(this, conn);
    }
    std::lock_guard lock(state_mutex_);
    ended_ = true;
    state_cond_.notify_all();
}

// Cuts the connections whose head or body is overdue, a few times a second.
void httpserver::watchdog() {
    std::unique_lock lock(state_mutex_);
    while (!ended_) {
        state_cond_.wait_for(lock, std::chrono::milliseconds(200));
        if (ended_) break;
        lock.unlock();
        const auto now = std::chrono::steady_clock::now();
        pool_->for_each([now](httpthread& t) { t.connection().check(now); });
        lock.lock();
    }
}

void httpserver::stop() {
    {
        std::unique_lock lock(state_mutex_);
        if (!thread_.joinable()) return;
        state_cond_.wait(lock, [this] { return running_ || ended_; });
        if (listen_ >= 0 && !ended_) {
            ::shutdown(listen_, SHUT_RDWR);
            // Closed once the accept loop has ended, so the number cannot be reused under it.
            state_cond_.wait(lock, [this] { return ended_; });
        }
        if (listen_ >= 0) {
            ::close(listen_);
            listen_ = -1;
        }
    }
    wait();
}

void httpserver::wait() {
    if (thread_.joinable()) thread_.join();
    if (watchdog_.joinable()) watchdog_.join();
}

} // namespace lumbrake
