// Small FFF documents for tests of the storages and the index, and a document's text in a
// compact form for tests of the parsers.
#pragma once

#include "fff/FFF.h"
#include "fff/FFFbuilder.h"

#include <string>
#include <vector>

// A metadata entry of the slice.
inline FFF::meta fff_meta(int slice, const std::string& key, const std::string& value) {
    FFF::meta m;
    m.dictid = slice;
    m.key = key;
    m.value = value;
    return m;
}

// The binary form of a document of one sentence: a title run first when `title` is given, then
// one run of `words` in `slice`.
inline std::string fff_document(const std::vector<std::string>& words, int slice = 10,
                                const std::vector<std::string>* title = nullptr) {
    FFF::DocumentData root(true);
    auto* contents = new FFF::Contents(true);
    root.add_child(contents);
    auto* p = new FFF::P;
    auto* s = new FFF::S;
    if (title) {
        auto* t = new FFF::Low(FFF::titleDict);
        t->words = *title;
        s->add_child(t);
    }
    auto* low = new FFF::Low(slice);
    low->words = words;
    s->add_child(low);
    p->add_child(s);
    contents->add_child(p);
    std::string out;
    FFF::ToBinary(root, out);
    return out;
}

// The binary form of a document whose one run (slice 10) holds `word` and "common".
inline std::string fff_with_word(const std::string& word) {
    return fff_document({word, "common"}, FFF::centralNormDict);
}

// Text fed through the FFF builder: the metas, a title paragraph when `title` is given, then a
// paragraph of `body` in `body_slice`.
inline std::string fff_built(const std::u32string* title, const std::u32string& body,
                             int body_slice = 10, const std::vector<FFF::meta>& metas = {}) {
    lumbrake::FFFbuilder b(1000000);
    for (const FFF::meta& m : metas)
        b.contents->metas.push_back(m);
    auto paragraph = [&b](int slice, const std::u32string& text) {
        b.push_dict(slice);
        for (char32_t c : text)
            b.add_char(static_cast<std::uint32_t>(c));
        b.close_low();
        b.pop_dict();
        b.end_paragraph();
    };
    if (title) paragraph(FFF::titleDict, *title);
    paragraph(body_slice, body);
    std::string out;
    FFF::ToBinary(*b.document, out);
    return out;
}

// The text of a document: paragraphs one per line, runs "slice:words" joined by " | ",
// sentences by " / "; with `link_ids`, link runs read "slice@id:words".
inline std::string fff_dump(const FFF::DocumentData& doc, bool link_ids) {
    std::string out;
    for (const FFF::tXMLTree* c : doc.children) {
        const auto* contents = dynamic_cast<const FFF::Contents*>(c);
        if (!contents) continue;
        for (const FFF::tXMLTree* pn : contents->children) {
            const auto* p = dynamic_cast<const FFF::P*>(pn);
            if (!p) continue;
            std::string line;
            for (std::size_t si = 0; si < p->children.size(); ++si) {
                const auto* s = dynamic_cast<const FFF::S*>(p->children[si]);
                if (si) line += " / ";
                for (std::size_t li = 0; li < s->children.size(); ++li) {
                    const auto* low = dynamic_cast<const FFF::Low*>(s->children[li]);
                    if (li) line += " | ";
                    line += std::to_string(low->dictid);
                    if (link_ids && FFF::is_link_slice(low->dictid))
                        line += "@" + std::to_string(low->urlid);
                    line += ":";
                    for (std::size_t w = 0; w < low->words.size(); ++w)
                        line += (w ? " " : "") + low->words[w];
                }
            }
            out += line + "\n";
        }
    }
    return out;
}
