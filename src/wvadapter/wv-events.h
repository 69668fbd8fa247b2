// The event stream in which the reader process hands a Word document's structure back.
//
// A stream is a sequence of records, each one tag byte and its payload (numbers little-endian):
//   'I' u8        the library opened the document (0) or refused it (any other value)
//   'T' u32 n, n u16   the title
//   'S' / 's'     section begin / end
//   'D' u8        the following text belongs to story n (see story)
//   'P' u8        paragraph begin; flags para_in_table, para_row_end
//   'p'           paragraph end
//   'R' u32 n, n u16   text, as UTF-16 code units
//   'X' u16       a special character (fields, note references, pictures)
//   'E' u8        the library reached the document's end (0) or failed (any other value)
// A record that is cut short or has an unknown tag ends the stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace lumbrake::wvadapter {

enum class EventType : char {
    init = 'I',
    title = 'T',
    section_begin = 'S',
    section_end = 's',
    story = 'D',
    para_begin = 'P',
    para_end = 'p',
    text = 'R',
    special = 'X',
    end = 'E',
};

// The stories of a Word document, in the order the text stream stores them.
enum story : std::uint8_t {
    story_main = 0,
    story_footnotes = 1,
    story_headers = 2,
    story_macro = 3,
    story_annotations = 4,
    story_endnotes = 5,
    story_textboxes = 6,
    story_header_textboxes = 7,
    story_none = 8, // past every story (the document's closing mark)
};

enum : std::uint8_t { para_in_table = 1, para_row_end = 2 };

// Field characters as the special-character record carries them.
enum : std::uint16_t { field_begin = 0x13, field_separator = 0x14, field_end = 0x15 };

struct Event {
    EventType type = EventType::end;
    std::uint8_t value = 0; // init/end status, story, paragraph flags
    std::uint16_t code = 0; // special character
    std::u16string text;    // title and text
};

void append_status(std::string& out, EventType type, std::uint8_t value);
void append_mark(std::string& out, EventType type); // section begin/end, paragraph end
void append_units(std::string& out, EventType type, const std::u16string& units);
void append_special(std::string& out, std::uint16_t code);

// Reads records until the end of the data or the first malformed record; true when the whole
// data was well-formed.
bool decode_events(std::string_view data, std::vector<Event>& out);

} // namespace lumbrake::wvadapter
