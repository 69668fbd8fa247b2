// The SOAP transport over the daemon's HTTP connection: reads the request body from the
// socket and writes the whole HTTP answer, deflate-compressed when the client accepts it.
#pragma once

#include "soap/soap_server.h"
#include "httpfront/httpio.h"

#include <cstdint>
#include <optional>
#include <string>

namespace lumbrake {

class HTTPTransport : public EasySoap::SOAPServerTransport {
public:
    HTTPTransport(http_reader& input, std::optional<std::string> media_type, std::string charset,
                  std::optional<std::string> soap_action, std::int64_t content_length,
                  bool deflate);

    const char* GetCharset() const override { return charset_.c_str(); }
    const char* GetContentType() const override {
        return media_type_ ? media_type_->c_str() : nullptr;
    }
    long Read(char* buffer, std::size_t size) override;
    std::size_t Write(const char* method, const char* payload, std::size_t size) override;
    const char* GetSoapAction() const override {
        return soap_action_ ? soap_action_->c_str() : nullptr;
    }
    void SetError() override { fault_ = true; }

private:
    http_reader& input_;
    std::optional<std::string> media_type_;
    std::string charset_;
    std::optional<std::string> soap_action_;
    std::int64_t remaining_;
    bool deflate_;
    bool fault_ = false;
};

// One SOAP request: the dispatch and the request facts.
struct soap_request {
    soap_request(http_reader& input, std::optional<std::string> media_type, std::string charset,
                 std::optional<std::string> soap_action, std::int64_t content_length, bool deflate);

    EasySoap::SOAPServerDispatch dispatch;
    http_reader& input; // the body, and the connection the answer goes to
    std::optional<std::string> media_type;
    std::string charset;
    std::optional<std::string> soap_action;
    std::int64_t content_length; // -1: none given, the body runs until the client stops
    bool deflate;
};

// Reads the body, calls the registered handler's method and writes the answer; the status.
int run_soap_dispatch(soap_request& request);

} // namespace lumbrake
