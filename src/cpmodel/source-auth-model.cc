#include "cpmodel/source-auth-model.h"

#include <map>
#include <string>

namespace lumbrake {

std::vector<ParamValue> cookie_value_rows(const SourceConfiguration& source,
                                          const std::vector<ParamValue>& stored) {
    std::vector<ParamValue> rows;
    if (source.Type != AUTH_COOKIE) return rows;
    std::map<std::string, std::string> values;
    for (const auto& p : source.CookieParams.Params)
        if (p.Type == COOKIE_OTHER) values[p.Name] = p.Value;
    for (const auto& v : stored) {
        auto it = values.find(v.Name);
        if (it != values.end()) it->second = v.Value;
    }
    for (const auto& [name, value] : values)
        rows.push_back({name, value});
    return rows;
}

} // namespace lumbrake
