// Helpers shared by the FFF tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "fff/FFF.h"

namespace fff_test {

inline std::string bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list)
        s.push_back(static_cast<char>(b));
    return s;
}

inline std::string hex(const std::string& s) {
    static const char* digits = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        if (!out.empty()) out.push_back(' ');
        out.push_back(digits[c >> 4]);
        out.push_back(digits[c & 15]);
    }
    return out;
}

inline FFF::Low* make_low(int dictid, std::vector<std::string> words) {
    auto* low = new FFF::Low(dictid);
    low->words = std::move(words);
    return low;
}

// Root -> Contents -> P -> S -> the given runs.
inline std::unique_ptr<FFF::DocumentData> one_sentence_doc(std::vector<FFF::Low*> runs) {
    auto root = std::make_unique<FFF::DocumentData>(true);
    auto* contents = new FFF::Contents(true);
    auto* p = new FFF::P;
    auto* s = new FFF::S;
    for (auto* r : runs)
        s->add_child(r);
    p->add_child(s);
    contents->add_child(p);
    root->add_child(contents);
    return root;
}

} // namespace fff_test
