// The SOAP envelope reader under libFuzzer + ASan/UBSan. Whatever the reader accepts must be
// written back by the writer into an envelope that reads as the same tree, and the typed
// readers must fail only with SOAPException.
#include "soap/soap.h"
#include "soap/soap_envelope.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

using namespace EasySoap;

namespace {

bool has_reference(const SOAPParameter& p) {
    if (p.FindAttribute(SOAPQName("href")) || p.FindAttribute(SOAPQName("id"))) return true;
    for (std::size_t i = 0; i < p.GetNumParams(); ++i)
        if (has_reference(p.GetParameterAt(i))) return true;
    return false;
}

void same(const SOAPParameter& a, const SOAPParameter& b) {
    if (!(a.GetName() == b.GetName()) || a.GetNumParams() != b.GetNumParams() ||
        a.IsNull() != b.IsNull())
        std::abort();
    if (a.GetNumParams() == 0 && a.GetString() != b.GetString()) std::abort();
    for (std::size_t i = 0; i < a.GetNumParams(); ++i)
        same(a.GetParameterAt(i), b.GetParameterAt(i));
}

template <class T> void try_read(const SOAPParameter& p) {
    T value{};
    try {
        p >> value;
    } catch (const SOAPException&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    SOAPReaderLimits limits;
    limits.max_elements = 20000;
    SOAPEnvelope env;
    try {
        env = ReadEnvelope(bytes, nullptr, limits);
    } catch (const SOAPException&) {
        return 0;
    }
    if (env.is_fault) return 0;
    for (std::size_t i = 0; i < env.method.GetNumParams(); ++i) {
        const SOAPParameter& p = env.method.GetParameterAt(i);
        try_read<int>(p);
        try_read<bool>(p);
        try_read<std::string>(p);
        try_read<std::vector<int>>(p);
        try_read<std::vector<std::string>>(p);
        try_read<std::vector<std::vector<int>>>(p);
    }
    if (has_reference(env.method)) return 0;
    SOAPEnvelope again;
    try {
        again = ReadEnvelope(WriteEnvelope(env.method), nullptr, limits);
    } catch (const SOAPException&) {
        std::abort(); // the writer produced what the reader refuses
    }
    same(env.method, again.method);
    return 0;
}
