// The side of the Word reader that runs libwv: it turns one document into the event stream of
// wv-events.h. Run it only in a process that may die (see ParserFactory).
#pragma once

#include <cstddef>
#include <string>

namespace lumbrake::wvadapter {

// Reads the document with libwv and writes its events to the socket fd in chunks as they come,
// or, when fd is negative, appends them to out. Returns when the library returns: true when
// the process may read another document (the library read this one to its end and gave its
// memory back, or never saw it), false when the library may have been left half-way.
//
// Word 97 and later documents go to this system's own reader (word97-reader.h) and only what
// it declines to libwv; choice forces one of them: library reads every document with libwv,
// fast only with the own reader (false, nothing written, when it declines).
enum class reader_choice { automatic, library, fast };
bool read_document_events(const unsigned char* data, std::size_t length, int fd, std::string& out,
                          reader_choice choice = reader_choice::automatic);

// Over a socket a document's events travel in chunks: a little-endian u32 length (not 0) and
// that many bytes. The document ends with a zero length and one byte, 1 when the reader can
// take another document. Both end the process when the other side has gone.
void write_chunk(int fd, const char* data, std::size_t n);
void write_document_end(int fd, bool reusable);

} // namespace lumbrake::wvadapter
