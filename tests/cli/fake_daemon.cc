#include "fake_daemon.h"

#include "../support/loopback_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <gtest/gtest.h>

using namespace EasySoap;

namespace {

using tn_test::send_all;

} // namespace

FakeDaemon::FakeDaemon() {
    server_ = std::make_unique<tn_test::loopback_server>([this](int c) { serve(c); });
}

FakeDaemon::~FakeDaemon() = default;

void FakeDaemon::on(const std::string& method, Handler handler) {
    std::lock_guard<std::mutex> lock(mutex_);
    handlers_[method] = std::move(handler);
}

void FakeDaemon::raw(const std::string& method, std::string envelope) {
    std::lock_guard<std::mutex> lock(mutex_);
    raw_[method] = std::move(envelope);
}

std::string FakeDaemon::url() const {
    return "http://127.0.0.1:" + std::to_string(server_->port()) + "/soap";
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
