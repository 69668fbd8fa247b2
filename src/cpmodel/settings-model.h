// The control panel's connection settings without the toolkit: the SOAP endpoint built from
// them, the checks of the setup dialog, the display text of a failed SOAP call and the
// portal's private base address.
#pragma once

#include <string>

namespace lumbrake {

// Texts in UTF-8, as the user typed them.
struct connection_values {
    std::string host = "localhost";
    std::string port = "2200";
    bool authentication = true;
    std::string user_name;
    std::string password;
};

// The stored Authentication value: on exactly for "True".
inline bool authentication_from_text(const std::string& text) {
    return text == "True";
}
inline const char* authentication_text(bool on) {
    return on ? "True" : "False";
}

// Percent-escapes every byte that RFC 3986 user information cannot carry as it stands
// (":", "/", "@", "?" and "%" included): only letters, digits and "-._~" are copied.
std::string userinfo_escape(const std::string& text);

// "http://" [user ":" password "@"] host ":" port "/soap"; credentials only with
// authentication on, escaped so that any password reaches the daemon unchanged.
std::string make_soap_endpoint(const connection_values& values);

// The setup dialog's check: an empty text when the values are usable, else the (untranslated)
// message to show. Refuses an empty host, a host with "/", "@" or blanks, and a port that is
// not a number from 1 to 65535.
std::string setup_error(const std::string& host, const std::string& port);

// The display text of a failed SOAP call, before translation: `format` is the message (with
// one "%s" when `argument` is to be put in).
struct soap_error_message {
    std::string format;
    std::string argument;
    bool has_argument = false;
};
soap_error_message soap_error_text(const std::string& what);

// "http://" host ":" port "/private/" language (the first two characters of the locale name
// when the portal has pages in that language, else "en").
std::string private_base_url(const std::string& host, const std::string& port,
                             const std::string& locale_name);

// The connection identity shown in the status line: the user name, or "Anonymous" without
// authentication.
inline std::string display_user_name(const connection_values& v) {
    return v.authentication ? v.user_name : std::string("Anonymous");
}

} // namespace lumbrake
