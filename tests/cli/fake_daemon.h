// A stand-in for the daemon's SOAP service on 127.0.0.1: real HTTP, our envelope reader and
// writer, and per-method handlers that fill the answer or throw a fault name. Every request
// is recorded.
#pragma once

#include "api-wire/wire-enums.h"
#include "soap/soap.h"
#include "soap/soap_envelope.h"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tn_test {
class loopback_server;
}

struct FakeFault {
    std::string name;
};

struct FakeCall {
    EasySoap::SOAPMethod request;
    std::string body; // the raw envelope
};

class FakeDaemon {
public:
    using Handler =
        std::function<void(const EasySoap::SOAPMethod& req, EasySoap::SOAPMethod& resp)>;
    FakeDaemon();
    ~FakeDaemon();
    void on(const std::string& method, Handler handler);
    // An answer body sent as it is (status 200), for answers our writer would not produce.
    void raw(const std::string& method, std::string envelope);
    std::string url() const;
    std::vector<FakeCall> calls();
    std::vector<std::string> methods();

private:
    void serve(int fd);
    std::mutex mutex_;
    std::map<std::string, Handler> handlers_;
    std::map<std::string, std::string> raw_;
    std::vector<FakeCall> calls_;
    std::unique_ptr<tn_test::loopback_server> server_; // last: stopped before the rest goes
};

// A response envelope in the service namespace around the given children (XML text).
std::string response_envelope(const std::string& method, const std::string& children);
