#include "fff/core_extractor.h"

#include <zlib.h>

namespace FFF {

void core_extractor::visit(const tXMLTree* node, int, bool leaving) {
    if (leaving) return;
    const auto* low = dynamic_cast<const Low*>(node);
    if (!low || low->dictid < centralNormDict) return;
    out << '<' << low->dictid << '>';
    for (const std::string& w : low->words)
        out << w << ' ';
}

} // namespace FFF

namespace lumbrake {

std::string core_text(const FFF::tXMLTree& document) {
    FFF::core_extractor extractor;
    document.accept_const(extractor, 0);
    return extractor.text();
}

std::uint32_t core_checksum(const FFF::tXMLTree& document) {
    const std::string text = core_text(document);
    uLong crc = crc32(0L, Z_NULL, 0);
    // zlib takes at most a uInt per call.
    const auto* p = reinterpret_cast<const Bytef*>(text.data());
    std::size_t left = text.size();
    while (left > 0) {
        const uInt n = left > 0x40000000u ? 0x40000000u : static_cast<uInt>(left);
        crc = crc32(crc, p, n);
        p += n;
        left -= n;
    }
    return static_cast<std::uint32_t>(crc);
}

} // namespace lumbrake
