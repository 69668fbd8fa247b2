#include "fake_daemon.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <gtest/gtest.h>

using namespace EasySoap;

namespace {

bool send_all(int fd, const std::string& s) {
    std::size_t off = 0;
    while (off < s.size()) {
        ssize_t n = ::send(fd, s.data() + off, s.size() - off, MSG_NOSIGNAL);
        if (n <= 0) return false;
        off += static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

FakeDaemon::FakeDaemon() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    EXPECT_EQ(::listen(fd_, 16), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] {
        for (;;) {
            int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) return;
            serve(c);
            ::close(c);
        }
    });
}

FakeDaemon::~FakeDaemon() {
    ::shutdown(fd_, SHUT_RDWR);
    thread_.join();
    ::close(fd_);
}

void FakeDaemon::on(const std::string& method, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[method] = std::move(handler);
}

void FakeDaemon::raw(const std::string& method, std::string envelope) {
    std::lock_guard<std::mutex> lock(mutex_);
    raw_[method] = std::move(envelope);
}

std::string FakeDaemon::url() const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/soap";
}

std::vector<FakeCall> FakeDaemon::calls() {
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::vector<std::string> FakeDaemon::methods() {
    std::vector<std::string> out;
    for (const FakeCall& c : calls())
        out.push_back(c.request.GetName().GetName());
    return out;
}

void FakeDaemon::serve(int fd) {
    std::string buf;
    char chunk[4096];
    std::size_t end;
    while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        buf.append(chunk, static_cast<std::size_t>(n));
    }
    std::string head = buf.substr(0, end);
    std::string body = buf.substr(end + 4);
    for (char& ch : head)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    std::size_t length = 0;
    std::size_t cl = head.find("content-length:");
    if (cl != std::string::npos) length = std::stoul(head.substr(cl + 15));
    while (body.size() < length) {
        ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return;
        body.append(chunk, static_cast<std::size_t>(n));
    }

    int status = 200;
    std::string answer;
    try {
        SOAPEnvelope env = ReadEnvelope(body);
        const std::string name = env.method.GetName().GetName();
        Handler handler;
        std::string raw;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            calls_.push_back({env.method, body});
            auto h = handlers_.find(name);
            if (h != handlers_.end()) handler = h->second;
            auto r = raw_.find(name);
            if (r != raw_.end()) raw = r->second;
        }
        if (!raw.empty()) {
            answer = raw;
        } else if (!handler) {
            throw FakeFault{"UnknownMethod"};
        } else {
            SOAPMethod resp(name + "Response", lumbrake::SERVICE_NS);
            handler(env.method, resp);
            answer = WriteEnvelope(resp);
        }
    } catch (const FakeFault& f) {
        status = 500;
        answer = WriteFaultEnvelope({"SOAP-ENV:Server", f.name, "", ""});
    } catch (const std::exception& e) {
        status = 500;
        answer = WriteFaultEnvelope({"SOAP-ENV:Client", e.what(), "", ""});
    }
    send_all(fd, "HTTP/1.1 " + std::to_string(status) +
                     " X\r\nContent-Type: text/xml; charset=utf-8\r\nConnection: close\r\n"
                     "Content-Length: " +
                     std::to_string(answer.size()) + "\r\n\r\n" + answer);
}

std::string response_envelope(const std::string& method, const std::string& children) {
    return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                       "<E:Envelope xmlns:E=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                       "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
                       "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
                       "xmlns:enc=\"http://schemas.xmlsoap.org/soap/encoding/\">"
                       "<E:Body><m:") +
           method + "Response xmlns:m=\"" + lumbrake::SERVICE_NS + "\">" + children +
           "</m:" + method + "Response></E:Body></E:Envelope>";
}
