#include "client/string-conv.h"

#include <cstring>

namespace lumbrake {

wxString utf8_to_wx(const std::string& utf8) {
    // FromUTF8 yields an empty string for invalid input; the wide string then goes through
    // the current code page when the caller needs narrow text.
    return wxString::FromUTF8(utf8.data(), utf8.size());
}

wxString utf8_to_wx(const char* utf8) {
    return utf8 ? utf8_to_wx(std::string(utf8)) : wxString();
}

std::string wx_to_utf8(const wxString& text) {
    const wxScopedCharBuffer buf = text.utf8_str();
    return std::string(buf.data(), buf.length());
}

std::vector<wxString> utf8_vector_to_wx(const std::vector<std::string>& list) {
    std::vector<wxString> out;
    out.reserve(list.size());
    for (const std::string& s : list)
        out.push_back(utf8_to_wx(s));
    return out;
}

std::vector<std::string> wx_vector_to_utf8(const std::vector<wxString>& list) {
    std::vector<std::string> out;
    out.reserve(list.size());
    for (const wxString& s : list)
        out.push_back(wx_to_utf8(s));
    return out;
}

std::string url_encode_all(std::string_view bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    static const char kEscaped[] = " <>\"#{}|\\^~[]`@%";
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b >= 0x7F || std::strchr(kEscaped, c) != nullptr) {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace lumbrake
