// The server side: the transport a server implements over its connection, the handler
// template that maps method names to members, and the dispatch that reads a request through
// a transport, calls the handler and writes the answer or a fault.
#pragma once

#include "soap/soap.h"
#include "soap/soap_envelope.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace EasySoap {

class SOAPTransport {
public:
    virtual ~SOAPTransport() = default;
    // The charset of the body (may be null: the document decides).
    virtual const char* GetCharset() const = 0;
    // The media type of the body (may be null).
    virtual const char* GetContentType() const = 0;
    // The content coding of the body; null when it is not encoded.
    virtual const char* GetContentEncoding() const { return nullptr; }
    // Reads at most `size` bytes of the body: the count read, 0 at its end, below 0 on error.
    virtual long Read(char* buffer, std::size_t size) = 0;
    // Sends the whole answer. `method` names the answered method (empty for a fault).
    virtual std::size_t Write(const char* method, const char* payload, std::size_t size) = 0;
};

class SOAPServerTransport : public SOAPTransport {
public:
    virtual const char* GetSoapAction() const = 0;
    // The answer about to be written is a fault.
    virtual void SetError() = 0;
};

class SOAPDispatchHandlerInterface {
public:
    virtual ~SOAPDispatchHandlerInterface() = default;
    // Calls the member registered for the request's method; false when none is registered
    // under its name and namespace.
    virtual bool ExecuteMethod(const SOAPEnvelope& request, SOAPMethod& response) = 0;
};

// Handlers derive from SOAPDispatchHandler<Self> and register their members in their
// constructor with DispatchMethod(name, namespace, &Self::member). Names and namespaces are
// compared exactly.
template <class T> class SOAPDispatchHandler : public SOAPDispatchHandlerInterface {
public:
    using Member = void (T::*)(const SOAPMethod& request, SOAPMethod& response);

    bool ExecuteMethod(const SOAPEnvelope& request, SOAPMethod& response) override {
        const SOAPQName& name = request.method.GetName();
        for (const auto& [key, member] : methods_) {
            if (key == name) {
                T* target = GetTarget(request);
                (target->*member)(request.method, response);
                return true;
            }
        }
        return false;
    }

    // The object the members are called on.
    virtual T* GetTarget(const SOAPEnvelope& request) = 0;

protected:
    void DispatchMethod(const char* name, const char* ns, Member member) {
        methods_.emplace_back(SOAPQName(name, ns), member);
    }

private:
    std::vector<std::pair<SOAPQName, Member>> methods_;
};

class SOAPServerDispatch {
public:
    // Requests larger than this are answered with a fault without being read further.
    static constexpr std::size_t kDefaultMaxRequest = 256u << 20;

    // Adds a handler (not owned); handlers are asked in the order they were added.
    SOAPServerDispatch& DispatchTo(SOAPDispatchHandlerInterface* handler) {
        handlers_.push_back(handler);
        return *this;
    }
    void SetMaxRequestSize(std::size_t bytes) { max_request_ = bytes; }
    void SetReaderLimits(const SOAPReaderLimits& limits) { limits_ = limits; }

    // Reads one request through the transport, runs it and writes the answer. Every failure
    // (malformed envelope, unknown method, an exception of the member) is answered as a fault
    // after SetError(). Returns the HTTP-like status of the answer: 200 or 500.
    int Handle(SOAPServerTransport& transport);

private:
    std::vector<SOAPDispatchHandlerInterface*> handlers_;
    std::size_t max_request_ = kDefaultMaxRequest;
    SOAPReaderLimits limits_;
};

} // namespace EasySoap
