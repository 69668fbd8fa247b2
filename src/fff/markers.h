// Marks the central content of a web page: chosen paragraphs move from the marginal slices
// 5-9 to the central slices 10-14.
#pragma once

#include <vector>

#include "fff/FFF.h"

namespace lumbrake {

// Chooses paragraphs by their count of words longer than 3 bytes.
class MarkerVisitor : public FFF::tXMLTree::visitor {
public:
    void visit(const FFF::tXMLTree* node, int depth, bool leaving) override;

    std::vector<const FFF::P*> chosen;
    int paragraph_total = 0;
    int sentence_total = 0;
    bool chained = false;
    const FFF::P* pending = nullptr;
};

// Moves every run it enters from its marginal slice to the matching central one.
class MarkerUpdater : public FFF::tXMLTree::visitor {
public:
    void visit(const FFF::tXMLTree* node, int depth, bool leaving) override;
};

// The central slice of a marginal one; other slices are returned unchanged.
int central_slice(int dictid);

void mark_central_content(FFF::tXMLTree& document);

} // namespace lumbrake
