// The core text of a document (central, title and custom runs) and its CRC-32.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>

#include "fff/FFF.h"

namespace FFF {

// Writes "<slice>" and each word plus one blank for every run of slice 10 or above.
class core_extractor : public tXMLTree::visitor {
public:
    void visit(const tXMLTree* node, int depth, bool leaving) override;
    std::string text() const { return out.str(); }

    std::ostringstream out;
};

} // namespace FFF

namespace lumbrake {

std::string core_text(const FFF::tXMLTree& document);
// zlib's CRC-32 of the core text; 0 for a document without core runs.
std::uint32_t core_checksum(const FFF::tXMLTree& document);

} // namespace lumbrake
