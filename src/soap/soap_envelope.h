// SOAP 1.1 envelopes: writing a request, a response or a fault, and reading any of them from
// untrusted bytes.
#pragma once

#include "soap/soap.h"

#include <cstddef>
#include <string>
#include <string_view>

namespace EasySoap {

// The envelope as read: the first body entry, which is either a method element (a request or
// a response) or a fault.
struct SOAPEnvelope {
    SOAPMethod method;
    bool is_fault = false;
    SOAPFault fault;
};

// Bounds of the reader on hostile input. Exceeding one is a malformed envelope.
struct SOAPReaderLimits {
    std::size_t max_depth = 128;        // element nesting
    std::size_t max_elements = 1000000; // elements, also those copied for href references
    std::size_t max_attributes = 64;    // attributes of one element
};

// A header entry marked mustUnderstand="1": answered with the fault code MustUnderstand.
class SOAPMustUnderstandException : public SOAPException {
public:
    using SOAPException::SOAPException;
};

// Writes the whole envelope, UTF-8, with the method as the single body entry. Texts are
// written as UTF-8; bytes that are no valid UTF-8, and characters XML 1.0 cannot carry,
// become U+FFFD so that the answer stays well-formed.
std::string WriteEnvelope(const SOAPMethod& method);
std::string WriteFaultEnvelope(const SOAPFault& fault);

// Reads an envelope. `encoding` (may be null) overrides the document's own declaration.
// A document type declaration is refused (SOAP 1.1 forbids it), as are external entities.
// Throws SOAPException for anything that is not a well-formed SOAP 1.1 envelope with a body
// entry, and for a header entry with mustUnderstand="1" (we understand none).
SOAPEnvelope ReadEnvelope(std::string_view bytes, const char* encoding = nullptr,
                          const SOAPReaderLimits& limits = {});

} // namespace EasySoap
