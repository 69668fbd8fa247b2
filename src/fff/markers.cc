#include "fff/markers.h"

namespace lumbrake {

int central_slice(int dictid) {
    if (dictid >= FFF::marginalNormDict && dictid <= FFF::marginalHeaderDict)
        return dictid + (FFF::centralNormDict - FFF::marginalNormDict);
    return dictid;
}

namespace {

int word_weight(int dictid) {
    switch (dictid) {
    case FFF::marginalNormDict:
        return 1;
    case FFF::marginalEmphDict:
        return 3;
    case FFF::marginalHeaderDict:
        return 5;
    default:
        return 0;
    }
}

} // namespace

void MarkerVisitor::visit(const FFF::tXMLTree* node, int, bool leaving) {
    if (dynamic_cast<const FFF::DocumentData*>(node)) {
        if (!leaving) {
            chained = false;
            pending = nullptr;
        }
    } else if (const auto* p = dynamic_cast<const FFF::P*>(node)) {
        if (!leaving) {
            paragraph_total = 0;
            return;
        }
        const int t = paragraph_total;
        if (t >= 2) {
            if (pending) {
                chosen.push_back(pending);
                pending = nullptr;
            }
            chosen.push_back(p);
            chained = true;
        } else if (t == 1 && chained) {
            chosen.push_back(p);
        } else if (t == 1) {
            if (pending) chosen.push_back(pending);
            pending = p;
            chained = false;
        } else {
            pending = chained ? p : nullptr;
            chained = false;
        }
    } else if (dynamic_cast<const FFF::S*>(node)) {
        if (!leaving)
            sentence_total = 0;
        else
            paragraph_total += sentence_total / 4;
    } else if (const auto* low = dynamic_cast<const FFF::Low*>(node)) {
        if (leaving) return;
        int count = 0;
        for (const std::string& w : low->words)
            if (w.size() > 3) ++count;
        sentence_total += count * word_weight(low->dictid);
    }
}

void MarkerUpdater::visit(const FFF::tXMLTree* node, int, bool leaving) {
    if (leaving) return;
    if (const auto* low = dynamic_cast<const FFF::Low*>(node)) {
        // The updater is only run through accept on a tree its caller may change.
        const_cast<FFF::Low*>(low)->dictid = central_slice(low->dictid);
    }
}

void mark_central_content(FFF::tXMLTree& document) {
    MarkerVisitor marker;
    document.accept(marker, 0);
    MarkerUpdater updater;
    for (const FFF::P* p : marker.chosen)
        const_cast<FFF::P*>(p)->accept(updater, 0);
}

} // namespace lumbrake
