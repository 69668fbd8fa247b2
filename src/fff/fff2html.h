// The HTML preview of an FFF document: title, score, text, link runs as anchors.
#pragma once

#include "fff/FFF.h"

#include <ostream>
#include <string>

namespace lumbrake {

class fff2htmlVisitor : public FFF::tXMLTree::visitor {
public:
    fff2htmlVisitor(std::string docid, std::string url, long timestamp, std::ostream& out)
        : docid_(std::move(docid)), url_(std::move(url)), timestamp_(timestamp), out_(out) {}
    void visit(const FFF::tXMLTree* node, int depth, bool leaving) override;

private:
    std::string docid_;
    std::string url_;
    long timestamp_;
    std::ostream& out_;
    std::string title_;
    std::string body_;
    std::string* current_ = &body_;
    const FFF::DocumentData* root_ = nullptr;
    bool anchor_open_ = false;
};

} // namespace lumbrake
