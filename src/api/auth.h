// The auth record: credentials and extra parameters that the crawler sends to a site, and its
// XML text form.
#pragma once

#include "api/api-types.h"

#include <cstddef>
#include <string>
#include <vector>

namespace lumbrake {

struct ParamValue {
    std::string Name;
    std::string Value;
    bool operator==(const ParamValue&) const = default;
};

struct AuthConfiguration {
    std::string Username;
    // Kept and written in clear: the crawler must send it to the site.
    std::string Password;
    std::vector<ParamValue> ParamValues;
    std::vector<AccessSpec> ACL;
    bool operator==(const AuthConfiguration&) const = default;
};

// False, with `xml` empty and the reason in `error` (when given), when a text member cannot be
// carried by XML.
bool auth_to_xml(const AuthConfiguration& auth, std::string& xml, std::string* error = nullptr);
// Resets the record and reads it; true when the text is well-formed XML.
bool auth_from_xml(const char* text, std::size_t length, AuthConfiguration& auth);

} // namespace lumbrake
