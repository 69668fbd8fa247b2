#include "util/entities.h"

namespace lumbrake {

const std::map<std::string_view, std::string_view>& xml_entity_names() {
    // std::string_view compares as unsigned bytes (char_traits<char>::compare), shorter prefix
    // first.
    static const std::map<std::string_view, std::string_view> names = {
        {"&", "amp"}, {"<", "lt"}, {">", "gt"}, {"\"", "quot"}, {"'", "apos"},
    };
    return names;
}

} // namespace lumbrake
