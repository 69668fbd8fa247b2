// The index element stream: an FFF document flattened into plug-in elements, and rebuilt.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lumbrake/plugin.h"

namespace FFF {
class DocumentData;
}

namespace lumbrake {

// Scores: millionths in the document, fractions in elements. A NaN fraction becomes 0.
double fraction_from_score(std::uint32_t millionths);
std::uint32_t score_from_fraction(double fraction);

// Frees (with free) the strings and buffer the element owns by its type, and clears them.
void element_free_contents(lumbrake_element& element);
// A deep copy of source into destination (whose contents are not freed); fresh strings and
// buffer from malloc. False when memory ran out (destination then owns nothing).
bool element_copy(lumbrake_element& destination, const lumbrake_element& source);
// Frees the contents of every element and empties the vector.
void free_elements(std::vector<lumbrake_element>& elements);

// Replaces elements with the stream of the document: the docinfo element first, then the
// walk's links, metas, paragraphs and runs. link_urls receives the link URLs by link id.
void flatten_document(const FFF::DocumentData& document, const std::string& docid,
                      const std::string& url, const std::string& mimetype,
                      std::vector<lumbrake_element>& elements, std::vector<std::string>& link_urls);

// Builds root (a fresh root without children) from the stream: one contents node with the
// paragraphs and runs. Malformed elements are logged and skipped; false when the structure was
// malformed.
bool rebuild_document(const std::vector<lumbrake_element>& elements, FFF::DocumentData& root);

} // namespace lumbrake
