// The HTML preview of an FFF document: title, score, text, link runs as anchors.
#pragma once

#include "fff/FFF.h"
#include "fff/fff2xml.h"

#include <ostream>
#include <string>

namespace lumbrake {

class fff2htmlVisitor : public fff_text_visitor {
public:
    using fff_text_visitor::fff_text_visitor;
    void visit(const FFF::tXMLTree* node, int depth, bool leaving) override;

private:
    std::string title_;
    std::string body_;
    std::string* current_ = &body_;
    const FFF::DocumentData* root_ = nullptr;
    bool anchor_open_ = false;
};

} // namespace lumbrake
