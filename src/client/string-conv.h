// Conversions between the control panel's display strings and the UTF-8 byte strings that
// cross SOAP, and the escaping of text placed inside a URL.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include <wx/string.h>

namespace lumbrake {

// Text that is not valid UTF-8 gives an empty string.
wxString utf8_to_wx(const std::string& utf8);
wxString utf8_to_wx(const char* utf8);
std::string wx_to_utf8(const wxString& text);
std::vector<wxString> utf8_vector_to_wx(const std::vector<std::string>& list);
std::vector<std::string> wx_vector_to_utf8(const std::vector<wxString>& list);

// Percent-escapes control bytes, bytes from 0x7F up, the URL delimiters and unsafe characters,
// and every "%" (also one that starts a valid escape: the result is not idempotent).
std::string url_encode_all(std::string_view bytes);

// The list control's SortItems with the given compare function and data. A template so that
// console programs using this header need not link the GUI library.
template <class ListControl, class Compare, class Data>
auto sort_list_items(ListControl& list, Compare compare, Data data) {
    return list.SortItems(compare, data);
}

} // namespace lumbrake
