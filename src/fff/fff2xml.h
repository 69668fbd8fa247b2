// The two text forms of an FFF document: the XML form (printed by docmill, served by the
// daemon) and the HTML preview.
#pragma once

#include "fff/FFF.h"

#include <cstdint>
#include <ostream>
#include <string>

namespace lumbrake {

// A score in millionths as text: 0, 0.5, 0.123456; 1000000 and more give 1.
std::string score_text(std::uint32_t score);

// The slice name of a slice id, "?" outside 1..31.
const char* dictionary_name(int dictid);

// A walk that writes a text form to `out`: the stored version it prints besides the tree.
class fff_text_visitor : public FFF::tXMLTree::visitor {
public:
    fff_text_visitor(std::string docid, std::string url, long timestamp, std::ostream& out)
        : docid_(std::move(docid)), url_(std::move(url)), timestamp_(timestamp), out_(out) {}

protected:
    std::string docid_;
    std::string url_;
    long timestamp_;
    std::ostream& out_;
};

// Writes the XML form of the tree it walks.
class fff2xmlVisitor : public fff_text_visitor {
public:
    using fff_text_visitor::fff_text_visitor;
    void visit(const FFF::tXMLTree* node, int depth, bool leaving) override;
};

// Renders the tree: the HTML preview when `format` is exactly "html", else the XML form.
// False (and an empty output) only for a null root.
bool render_fff(std::string& out, const std::string& format, const std::string& docid,
                const std::string& url, long timestamp, const FFF::tXMLTree* root);
bool fff_to_xml(std::string& out, const std::string& docid, const std::string& url, long timestamp,
                const FFF::tXMLTree* root);
bool fff_to_html(std::string& out, const std::string& docid, const std::string& url, long timestamp,
                 const FFF::tXMLTree* root);

// Appends the words of a run: a blank between two neighbours that are both letters and
// numbers only; each word passes through `escape` first.
void append_run_words(std::string& out, const std::vector<std::string>& words,
                      std::string (*escape)(std::string_view));

} // namespace lumbrake
