// The side of the Word reader that runs libwv: it turns one document into the event stream of
// wv-events.h. Run it only in a process that may die (see ParserFactory).
#pragma once

#include <cstddef>
#include <string>

namespace lumbrake::wvadapter {

// Reads the document with libwv and writes its events to fd as they come (in pieces), or,
// when fd is negative, appends them to out. Returns when the library returns.
void read_document_events(const unsigned char* data, std::size_t length, int fd, std::string& out);

} // namespace lumbrake::wvadapter
