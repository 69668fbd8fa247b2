// The page tree: catalog, page-tree nodes and their kids, resources, font dictionaries and
// content-stream references; the font classifier that chooses a slice for page text; the
// rectangle reader.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "pdfparser/pdf-fonts.h"
#include "pdfparser/pdf-objects.h"
#include "pdfparser/pdf-xref.h"

namespace PdfParser {

// The catalog's body must hold "/Catalog" (BadFormatException "Wrong Catalog").
void check_catalog(Span catalog);
// The root page-tree node named by /Pages (BadFormatException "Pages not found").
ObjectRef pages(Span catalog);

struct PageNode {
    Span body;
    std::uint32_t number = 0;
    std::int32_t generation = 0;
    bool is_pages = false; // a /Pages node; false for a /Page leaf
};

// The body must hold "/Page" (BadFormatException "Wrong Page(s)").
PageNode page_node(Span body, std::uint32_t number, std::int32_t generation);
// The number after /Count, 0 when absent.
std::uint64_t count(const PageNode& node);
// The /Kids references in order; empty when /Count is 0 or /Kids is absent. Throws
// BadObjectException "Tag [ or ] not found, probably Array corrupted" or "Bad Reference (no R)".
std::vector<ObjectRef> kids(const PageNode& node);

// The position of the node's resource dictionary (direct or referenced), or the data end when
// it has none or its reference names a free object.
Pos resources(const PageNode& node);
// The position of the /Font dictionary of the resources at pos, or the data end.
Pos fonts(Pos resources_position);
// Adds every (name, font object) entry of the font dictionary at pos to the table. Throws
// BadFormatException "Bad Reference (no R)"; entries that name free objects are skipped.
void font_entries(Pos font_dictionary, FontTable& table);

struct ContentRef {
    Pos position = 0;
    std::uint32_t number = 0;
    std::int32_t generation = 0;
};
// The page's content streams in order (none without /Contents).
std::vector<ContentRef> contents(const PageNode& page);

// [x1 y1 x2 y2] at pos (before limit), ordered so that x1 <= x2 and y1 <= y2; all 0 without '['.
void rectangle(Pos pos, Pos limit, double out[4]);

// Chooses the slice of a run of page text by comparing its font with a reference font.
class AbstractFontCompare {
public:
    virtual int classify(const FontRecord& font) const = 0;
    virtual ~AbstractFontCompare() = default;
};

class SimpleFontCompare : public AbstractFontCompare {
public:
    // The reference is the record with the highest count (the first in map order on a tie).
    explicit SimpleFontCompare(const std::map<FontRecord, std::uint64_t>& usage);

    // 14 (centralHeader) for a larger size than the reference's; else 10 (centralNorm) when
    // style, rise and name equal the reference's; else 11 (centralEmph).
    int classify(const FontRecord& font) const override;

    const FontRecord& reference() const { return reference_; }

private:
    FontRecord reference_;
};

} // namespace PdfParser
