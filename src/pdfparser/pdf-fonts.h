// Simple PDF fonts: the font record that identifies a font for text grouping and slice choice,
// the reading of font, descriptor and encoding dictionaries, and the document's font table with
// its page-tree scopes.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "pdfparser/pdf-encodings.h"
#include "pdfparser/pdf-objects.h"

namespace PdfParser {

// Style ids, from the part of a font name after '-' or ','.
enum FontStyle : int {
    StyleNone = 0,
    StyleBold = 1,
    StyleItalic = 2,
    StyleOblique = 3,
    StyleBoldOblique = 4,
    StyleHeavy = 5,
    StyleSemibold = 6,
    StyleBoldItalic = 7,
    StyleOther = 8,
};

// Subtype ids.
enum FontSubtype : int {
    SubtypeType1 = 0,
    SubtypeTrueType = 1,
    SubtypeType3 = 2,
    SubtypeOther = 3
};

struct FontRecord {
    std::string name = "Unknown"; // normalised family name
    int style = StyleNone;
    int subtype = SubtypeOther;
    double size = 0; // effective text size, set by the content interpreter
    std::uint32_t flags = 0;
    double rise = 0;     // Ts, set by the interpreter
    int render_mode = 0; // Tr, set by the interpreter
    double avg_width = 0;
    double max_width = 0;
    double italic_angle = 0;
    double bbox[4] = {0, 0, 0, 0};
    int id = -1; // load order in the font table
    Encoding encoding{StandardEncoding};
    Widths widths{CourierFont, StandardEncoding};

    // Name, style, size, flags, subtype, rise, render mode, average and maximum width and
    // italic angle; id, box and tables are not compared.
    bool operator==(const FontRecord& o) const;
    // Lexicographic over name, size, subtype, style, rise, average width, render mode, flags,
    // maximum width, italic angle (a total order, also for NaN values).
    bool operator<(const FontRecord& o) const;
};

// A real from a number token ("12", "-.5", "+3.25", "250.4]"): the longest leading number;
// 0 when there is none or its value is not finite.
double parse_real(std::string_view token);
// The bytes from pos up to end, white space or one of the stop bytes; pos moves behind them.
std::string read_token(Pos& pos, Pos end, std::string_view stops);

// (family, style id) from a name such as /ABCDEF+Arial,Bold found within 50 bytes of pos.
std::pair<std::string, int> read_font_name(Pos pos, Pos end);

// Family normalisation and the style table of read_font_name.
std::string normalise_family(std::string_view family);
int style_id(std::string_view style);

// The built-in widths of a standard family and style, or the Courier table for
// StandardEncoding when nothing matches.
Widths standard_widths(std::string_view family, int style, int encoding_kind);

struct FontDescriptor {
    // Reads the descriptor dictionary between start and end.
    FontDescriptor(Pos start, Pos end);

    Span span;
    double bbox[4] = {0, 0, 0, 0};
    std::uint32_t flags = 0;
    double avg_width = 0;
    double italic_angle = 0;
    double max_width = 0;
    std::int32_t missing_width = 0;
};

class Font {
public:
    // Reads the font dictionary found from start (bounded by end). Throws BadObjectException
    // "Wrong Font Object" when it is no font, "Bad Reference (no R)" for a broken descriptor
    // reference, and the dictionary and array messages of the lexer.
    Font(Pos start, Pos end);

    const FontRecord& record() const { return record_; }
    FontRecord& record() { return record_; }
    unsigned first_char() const { return first_char_; }
    unsigned last_char() const { return last_char_; }
    std::int32_t missing_width() const { return missing_width_; }

private:
    void read_encoding_dictionary(Pos pos);
    void read_differences(Pos pos, Pos end);
    void read_widths_array(Pos pos, Pos end);
    void set_encoding_kind(std::string_view name);

    Span span_;
    FontRecord record_;
    unsigned first_char_ = 0;
    unsigned last_char_ = 256;
    std::int32_t missing_width_ = 0;
};

// The fonts of one parse: loaded once per font object, named per page-tree scope.
class FontTable {
public:
    FontTable();

    // Keeps exactly depth + 1 scopes; the current scope is the one at depth.
    void set_depth(std::size_t depth);
    std::size_t depth() const { return scopes_.size() - 1; }

    // Loads the font at the object offset (once) and names it in the current scope.
    void add(const std::string& name, Pos offset);
    // The record named so in the current scope or the ones below it; the default record when
    // no scope names it.
    FontRecord find(std::string_view name) const;

    std::size_t loaded() const { return loaded_.size(); }

private:
    std::vector<std::pair<Pos, std::unique_ptr<FontRecord>>> loaded_;
    std::unordered_map<Pos, const FontRecord*> by_offset_;
    int counter_ = 0;
    // A name appears once per scope, so a map keeps each scope.
    std::vector<std::map<std::string, const FontRecord*, std::less<>>> scopes_;
};

} // namespace PdfParser
