// Escapers for every XML and HTML text the programs write.
#pragma once

#include <string>
#include <string_view>

namespace lumbrake {

// "&amp;", "&lt;", "&gt;" or "&quot;" for the byte those stand for; nullptr for any other.
const char* markup_reference(char c);

// The five XML specials become &quot; &amp; &apos; &lt; &gt;. Tab, line feed and carriage
// return become &#9; &#10; &#13;: raw, a reader would turn them into blanks inside attribute
// values (and CR LF into LF in element text), so the text would change on the next read.
// All other bytes are copied unchanged.
std::string xml_escape(std::string_view text);

// &, <, > and the double quote become entities; the single quote stays.
std::string html_escape(std::string_view text);

// In place: each of the five XML specials becomes "&" name ";" (names from xml_entity_names).
void xml_escape_inplace(std::string& text);

// Whether XML 1.0 can carry the text: valid UTF-8 of XML characters only (no control bytes
// other than tab, LF and CR, no surrogates, no U+FFFE/U+FFFF). When it cannot, `why` tells
// what was found and at which byte offset.
bool xml_text_writable(std::string_view text, std::string& why);

} // namespace lumbrake
