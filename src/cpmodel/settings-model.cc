#include "cpmodel/settings-model.h"

#include <cctype>

namespace lumbrake {

std::string userinfo_escape(const std::string& text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (std::isalnum(b) && b < 0x80) {
            out += c;
        } else if (c == '-' || c == '.' || c == '_' || c == '~') {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        }
    }
    return out;
}

std::string make_soap_endpoint(const connection_values& v) {
    std::string url = "http://";
    if (v.authentication)
        url += userinfo_escape(v.user_name) + ":" + userinfo_escape(v.password) + "@";
    return url + v.host + ":" + v.port + "/soap";
}

std::string setup_error(const std::string& host, const std::string& port) {
    if (host.empty()) return "Please enter the host name of the server.";
    for (char c : host) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '/' || c == '@' || std::isspace(b) || b < 0x20 || b == 0x7F)
            return "The host name must not contain \"/\", \"@\" or blanks.";
    }
    bool number = !port.empty() && port.size() <= 5;
    for (char c : port)
        number = number && std::isdigit(static_cast<unsigned char>(c));
    if (!number || std::stol(port) < 1 || std::stol(port) > 65535)
        return "The port must be a number from 1 to 65535.";
    return {};
}

namespace {

bool starts_with(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

std::string remove_all(std::string s, const std::string& what) {
    for (std::size_t at; (at = s.find(what)) != std::string::npos;)
        s.erase(at, what.size());
    return s;
}

} // namespace

soap_error_message soap_error_text(const std::string& what) {
    static const char kFault[] = "SOAP Fault: ";
    static const char kStatus[] = "Unexpected server response code: ";
    static const struct {
        const char* name;
        const char* message;
    } kFaults[] = {
        {"InternalError", "The server reported an internal error"},
        {"AccessViolation", "You haven't the needed rights to modify this object"},
        {"InUse", "You cannot remove this item because it is currently in use"},
        {"ErrorInvalidEntity", "Invalid entity"},
        {"ErrorWritingEntity", "Error writing configuration entity"},
        {"ErrorReadingEntity", "Error reading configuration entity"},
        {"BadMagic", "The object has been modified by another user"},
        {"UnsupportedMIMEType", "Unsupported MIME type"},
        {"FilterMismatch", "Filter mismatch"},
        {"MissingParameter", "Missing parameter"},
    };
    if (starts_with(what, kFault)) {
        const std::string name = remove_all(what, kFault);
        for (const auto& f : kFaults)
            if (name == f.name) return {f.message, {}, false};
        return {"SOAP Fault: %s", name, true};
    }
    if (starts_with(what, kStatus)) {
        const std::string rest = remove_all(what, kStatus);
        if (rest == "401") return {"Unknown username or bad password", {}, false};
        return {"Unexpected server response code: %s", rest, true};
    }
    return {"An error occurred while talking to server.\nThe error is: %s", what, true};
}

std::string private_base_url(const std::string& host, const std::string& port,
                             const std::string& locale_name) {
    // The portal has private pages in English and Italian only; any other locale (also "C")
    // gets the English ones rather than an address the daemon does not serve.
    std::string language = locale_name.substr(0, 2);
    if (language != "it") language = "en";
    return "http://" + host + ":" + port + "/private/" + language;
}

} // namespace lumbrake
