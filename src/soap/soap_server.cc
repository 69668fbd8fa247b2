#include "soap/soap_server.h"

#include "util/log.h"

#include <strings.h>

namespace EasySoap {

namespace {

int answer_fault(SOAPServerTransport& transport, const char* code, const std::string& text) {
    SOAPFault fault;
    fault.code = code;
    fault.string = text;
    std::string payload = WriteFaultEnvelope(fault);
    transport.SetError();
    transport.Write("", payload.data(), payload.size());
    return 500;
}

} // namespace

int SOAPServerDispatch::Handle(SOAPServerTransport& transport) {
    std::string body;
    char buffer[16384];
    for (;;) {
        long n = transport.Read(buffer, sizeof buffer);
        if (n <= 0) break; // the end of the body, or the client went away: read what came
        if (body.size() + static_cast<std::size_t>(n) > max_request_)
            return answer_fault(transport, "SOAP-ENV:Client", "SOAP request is too large");
        body.append(buffer, static_cast<std::size_t>(n));
    }

    // US-ASCII is what a request without a charset is assumed to be; UTF-8 is its superset
    // and what the document then declares or defaults to.
    const char* charset = transport.GetCharset();
    if (charset && (!*charset || strcasecmp(charset, "US-ASCII") == 0)) charset = nullptr;

    SOAPEnvelope request;
    try {
        request = ReadEnvelope(body, charset, limits_);
    } catch (const SOAPMustUnderstandException& e) {
        return answer_fault(transport, "SOAP-ENV:MustUnderstand", e.what());
    } catch (const SOAPException& e) {
        return answer_fault(transport, "SOAP-ENV:Client", e.what());
    }
    if (request.is_fault)
        return answer_fault(transport, "SOAP-ENV:Client", "A fault is no SOAP request");

    const SOAPQName& name = request.method.GetName();
    SOAPMethod response(name.GetName() + "Response", name.GetNamespace());
    try {
        bool handled = false;
        for (SOAPDispatchHandlerInterface* handler : handlers_) {
            if (handler->ExecuteMethod(request, response)) {
                handled = true;
                break;
            }
        }
        if (!handled)
            return answer_fault(transport, "SOAP-ENV:Client",
                                "No handler found for method '" + name.GetName() +
                                    "' in namespace '" + name.GetNamespace() + "'");
    } catch (const SOAPException& e) {
        return answer_fault(transport, "SOAP-ENV:Server", e.what());
    } catch (const std::exception& e) {
        TN_LOG(lumbrake::LF_API, lumbrake::LL_ERROR,
               "SOAP method " << name.GetName() << " failed: " << e.what());
        return answer_fault(transport, "SOAP-ENV:Server", e.what());
    }
    std::string payload = WriteEnvelope(response);
    transport.Write(response.GetName().GetName().c_str(), payload.data(), payload.size());
    return 200;
}

} // namespace EasySoap
