// The reader of research-pane search packets under libFuzzer + ASan/UBSan: any bytes give a
// list of queries whose every field is in range, and the GUID reader agrees with the writer.
#include "webservices/research.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace lumbrake;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    QueryXMLParser parser;
    (void)parser.parse(bytes, nullptr, RESEARCH_NS_SEPARATOR);
    for (const QuerySpec& q : parser.queries) {
        // Every kept query names a collection by a GUID that reads back as itself.
        std::int32_t back = 0;
        if (!parse_research_collection_guid(research_collection_guid(q.Collection), back) ||
            back != q.Collection)
            std::abort();
        if (!q.Archives.empty() || q.Parser != NOPARSER || q.MaxTime != 2000000000) std::abort();
    }

    std::int32_t id = 0;
    (void)parse_research_collection_guid(std::string(bytes), id);
    return 0;
}
