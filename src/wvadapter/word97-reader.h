// A reader of Word 97-2003 documents (not fast-saved, not encrypted) that gives the same event
// records as libwv's reading of them, at a fraction of its cost: it reads the file information
// block, the piece table, the section table and the paragraph and character property pages
// (found by binary search of their bin tables), and builds only the few properties the events
// carry (in-table and row-end of paragraphs, special characters).
//
// It declines whatever it does not follow exactly as the library does (older formats, complex
// files, properties it does not model, anything out of bounds); the caller then gives the
// document to the library. It reads hostile input: every offset and count is checked.
#pragma once

#include <cstddef>
#include <string>

namespace lumbrake::wvadapter {

struct word97_streams {
    const unsigned char* word = nullptr; // the "WordDocument" stream
    std::size_t word_size = 0;
    const unsigned char* table = nullptr; // the table stream the FIB names ("0Table"/"1Table")
    std::size_t table_size = 0;
    const unsigned char* data = nullptr; // the "Data" stream, or none
    std::size_t data_size = 0;
};

// True when the document's table stream is "1Table" (false: "0Table"); false when the Word
// stream is too short to tell.
bool word97_uses_table1(const unsigned char* word, std::size_t word_size);

// Appends the records from the first section or paragraph to the last (not the init, title
// and end records) to out and returns true; or returns false, out unchanged, when it declines.
bool read_word97_text(const word97_streams& streams, std::string& out);

} // namespace lumbrake::wvadapter
