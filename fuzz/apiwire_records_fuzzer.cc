// The readers of the API records and enums over untrusted envelopes, under libFuzzer +
// ASan/UBSan. Every body member is read as each record type; a reader may fail only with
// SOAPException, and what it accepts must write into an envelope that reads again.
#include "api-wire/wire-enums.h"
#include "api-wire/wire-records.h"
#include "soap/soap_envelope.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

using namespace EasySoap;
using namespace lumbrake;

namespace {

template <class T> void try_read(const SOAPParameter& p) {
    T record{};
    try {
        p >> record;
    } catch (const SOAPException&) {
        return;
    }
    SOAPMethod method("Echo", SERVICE_NS);
    method.AddParameter("v") << record;
    try {
        ReadEnvelope(WriteEnvelope(method)).method.GetParameter("v") >> record;
    } catch (const SOAPException&) {
        std::abort(); // our own output must read back
    }
}

void read_all(const SOAPParameter& p) {
    try_read<QuerySpec>(p);
    try_read<SourceConfiguration>(p);
    try_read<ArchiveConfiguration>(p);
    try_read<IndexConfiguration>(p);
    try_read<CollectionConfiguration>(p);
    try_read<WatchConfiguration>(p);
    try_read<AuthConfiguration>(p);
    try_read<Plugin>(p);
    try_read<DocFilter>(p);
    try_read<RendererPluginPipe>(p);
    try_read<CrawlLog>(p);
    try_read<ArchiveInfo>(p);
    try_read<IndexInfo>(p);
    try_read<std::vector<AccessSpec>>(p);
    try_read<std::vector<PluginType>>(p);
    try_read<std::vector<QueryAtom>>(p);
    try_read<std::vector<QuerySliceWeight>>(p);
    try_read<std::vector<int>>(p);
    try_read<QuerySort>(p);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    SOAPEnvelope env;
    try {
        env = ReadEnvelope(std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const SOAPException&) {
        return 0;
    }
    for (std::size_t i = 0; i < env.method.GetNumParams(); ++i)
        read_all(env.method.GetParameterAt(i));
    return 0;
}
