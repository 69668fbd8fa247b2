// The client side: sends one method to an http or https endpoint with libcurl and reads the
// answer. User and password in the endpoint's user information go as HTTP Basic
// authentication; deflate-encoded answers are accepted.
#pragma once

#include "soap/soap.h"
#include "soap/soap_envelope.h"

#include <cstddef>
#include <string>

namespace EasySoap {

class SOAPProxy {
public:
    static constexpr std::size_t kDefaultMaxResponse = 256u << 20;
    // Seconds to reach the server, and for a whole call: a server that accepts and stays
    // silent must not hold the caller for ever.
    static constexpr long kDefaultConnectTimeout = 30;
    static constexpr long kDefaultTimeout = 300;

    SOAPProxy() = default;
    // No connection is made here and the URL is not checked.
    explicit SOAPProxy(const char* endpoint, const char* http_proxy = nullptr) {
        SetEndpoint(endpoint, http_proxy);
    }
    void SetEndpoint(const char* endpoint, const char* http_proxy = nullptr);
    // Seconds for the whole exchange (default kDefaultTimeout); 0 waits as long as the
    // server takes. A call that runs out throws "SOAP call timed out after N seconds...".
    void SetTimeout(long seconds) { timeout_ = seconds; }
    // Seconds to connect (default kDefaultConnectTimeout; 0: libcurl's own limit).
    void SetConnectTimeout(long seconds) { connect_timeout_ = seconds; }
    long GetTimeout() const { return timeout_; }
    long GetConnectTimeout() const { return connect_timeout_; }
    void SetMaxResponseSize(std::size_t bytes) { max_response_ = bytes; }

    // Sends the method and returns the answer's method element. Throws SOAPFaultException
    // ("SOAP Fault: " + fault string) for a fault answer, SOAPHTTPException ("Unexpected
    // server response code: " + status) for another status than 200 without a fault, and
    // SOAPException with libcurl's text for transport failures or a malformed answer.
    const SOAPMethod& Execute(const SOAPMethod& method);

private:
    std::string endpoint_;
    std::string proxy_;
    long timeout_ = kDefaultTimeout;
    long connect_timeout_ = kDefaultConnectTimeout;
    std::size_t max_response_ = kDefaultMaxResponse;
    SOAPEnvelope response_;
};

} // namespace EasySoap
