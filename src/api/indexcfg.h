// The index configuration of the older configuration format (an archive and its source as one
// record), read when importing an exported directory of that format. It has no writer.
#pragma once

#include "api/archive.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumbrake {

struct IndexConfiguration {
    std::string Name;
    bool Historicize = false;
    std::string AdministrativeContact;
    std::vector<std::string> Seeds;
    std::vector<std::string> IncludeFilters;
    std::vector<std::string> ExcludeFilters;
    Frequency SchedulingFrequency = DISABLED;
    int32_t SchedulingAttribute = 0;
    int32_t AccessTime = 0;
    int32_t PagesLimit = 0;
    int32_t DepthLimit = 0;
    int32_t GarbageLimit = 0;
    bool operator==(const IndexConfiguration&) const = default;
};

// Resets the record and reads it; true when the text is well-formed XML.
bool index_from_xml(const char* text, std::size_t length, IndexConfiguration& index);

} // namespace lumbrake
