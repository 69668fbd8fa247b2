#include "soap/soap_proxy.h"

#include "util/escape.h"

#include <curl/curl.h>

#include <cctype>
#include <memory>
#include <mutex>

namespace EasySoap {

namespace {

// A text that XML cannot carry would arrive as U+FFFD: the call is refused instead of
// sending something else than the caller gave.
void check_writable(const SOAPParameter& p) {
    std::string why;
    if (!lumbrake::xml_text_writable(p.GetString(), why))
        throw SOAPException("Cannot send " + p.GetName().GetName() +
                            ": XML cannot carry its text (" + why + ")");
    for (std::size_t i = 0; i < p.GetNumParams(); ++i)
        check_writable(p.GetParameterAt(i));
}

struct sink {
    std::string body;
    std::size_t limit;
    bool too_large = false;
};

size_t on_write(char* data, size_t size, size_t count, void* user) {
    auto* s = static_cast<sink*>(user);
    std::size_t n = size * count;
    if (s->body.size() + n > s->limit) {
        s->too_large = true;
        return 0; // makes libcurl stop with a write error
    }
    s->body.append(data, n);
    return n;
}

struct curl_deleter {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
};
struct slist_deleter {
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// The charset parameter of a Content-Type value, or empty.
std::string charset_of(const char* content_type) {
    if (!content_type) return {};
    std::string value(content_type);
    for (char& c : value)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::size_t at = value.find("charset=");
    if (at == std::string::npos) return {};
    std::string cs = value.substr(at + 8);
    if (!cs.empty() && cs.front() == '"') cs.erase(0, 1);
    std::size_t stop = cs.find_first_of("\"; \t");
    if (stop != std::string::npos) cs.resize(stop);
    return cs;
}

} // namespace

void SOAPProxy::SetEndpoint(const char* endpoint, const char* http_proxy) {
    endpoint_ = endpoint ? endpoint : "";
    proxy_ = http_proxy ? http_proxy : "";
}

const SOAPMethod& SOAPProxy::Execute(const SOAPMethod& method) {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });

    check_writable(method);
    std::string payload = WriteEnvelope(method);
    std::unique_ptr<CURL, curl_deleter> curl(curl_easy_init());
    if (!curl) throw SOAPException("Could not start an HTTP transfer");
    CURL* c = curl.get();
    char error[CURL_ERROR_SIZE] = {};
    sink answer{{}, max_response_};

    std::unique_ptr<curl_slist, slist_deleter> headers;
    auto add_header = [&](const std::string& line) {
        curl_slist* l = curl_slist_append(headers.get(), line.c_str());
        if (!l) throw SOAPException("Out of memory");
        headers.release();
        headers.reset(l);
    };
    add_header("Content-Type: text/xml; charset=\"utf-8\"");
    add_header("SOAPAction: \"" + method.GetSoapAction() + "\"");
    add_header("Expect:"); // no 100-continue round trip

    curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
    curl_easy_setopt(c, CURLOPT_URL, endpoint_.c_str());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    if (!proxy_.empty())
        curl_easy_setopt(c, CURLOPT_PROXY, proxy_.c_str());
    else
        curl_easy_setopt(c, CURLOPT_PROXY, "");
    curl_easy_setopt(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_POST, 1L);
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, payload.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(payload.size()));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "deflate");
    curl_easy_setopt(c, CURLOPT_USERAGENT, "lumbrake-soap/1.0");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &on_write);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &answer);
    if (connect_timeout_ > 0) curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, connect_timeout_);
    if (timeout_ > 0) curl_easy_setopt(c, CURLOPT_TIMEOUT, timeout_);

    CURLcode rc = curl_easy_perform(c);
    if (answer.too_large) throw SOAPException("SOAP answer is too large");
    if (rc == CURLE_OPERATION_TIMEDOUT) {
        curl_off_t connected = 0;
        curl_easy_getinfo(c, CURLINFO_CONNECT_TIME_T, &connected);
        const bool connecting = connected == 0;
        throw SOAPException(std::string(connecting ? "Connecting to the server timed out after "
                                                   : "SOAP call timed out after ") +
                            std::to_string(connecting && connect_timeout_ > 0 ? connect_timeout_
                                                                              : timeout_) +
                            " seconds: " + (*error ? error : curl_easy_strerror(rc)));
    }
    if (rc != CURLE_OK) throw SOAPException(std::string(*error ? error : curl_easy_strerror(rc)));

    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    char* content_type = nullptr;
    curl_easy_getinfo(c, CURLINFO_CONTENT_TYPE, &content_type);
    std::string cs = charset_of(content_type);
    if (cs == "us-ascii") cs.clear();

    SOAPEnvelope envelope;
    try {
        envelope = ReadEnvelope(answer.body, cs.empty() ? nullptr : cs.c_str());
    } catch (const SOAPException&) {
        // An error page or a broken answer: the status tells more than the parser.
        if (status != 200) throw SOAPHTTPException(status);
        throw;
    }
    if (envelope.is_fault)
        throw SOAPFaultException(envelope.fault.code, envelope.fault.string, envelope.fault.actor,
                                 envelope.fault.detail);
    if (status != 200) throw SOAPHTTPException(status);
    response_ = std::move(envelope);
    return response_.method;
}

} // namespace EasySoap
