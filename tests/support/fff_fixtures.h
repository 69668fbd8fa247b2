// Small FFF documents for tests of the storages and the index.
#pragma once

#include "fff/FFF.h"

#include <string>

// The binary form of a document whose one run (slice 10) holds `word` and "common".
inline std::string fff_with_word(const std::string& word) {
    FFF::DocumentData root(true);
    auto* contents = new FFF::Contents(true);
    root.add_child(contents);
    auto* p = new FFF::P;
    auto* s = new FFF::S;
    auto* low = new FFF::Low(FFF::centralNormDict);
    low->words = {word, "common"};
    s->add_child(low);
    p->add_child(s);
    contents->add_child(p);
    std::string out;
    FFF::ToBinary(root, out);
    return out;
}
