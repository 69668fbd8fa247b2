// Grows an FFF document from the code points and structure calls of a parser.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fff/FFF.h"
#include "fff/word_splitter.h"

namespace lumbrake {

class FFFbuilder : public word_splitter {
public:
    explicit FFFbuilder(std::uint32_t base_score);
    ~FFFbuilder() override;

    void add_codepoint(std::uint32_t c) override;
    void end_sentence() override;
    void end_word() override;

    void push_dict(int slice);
    // Never leaves the stack empty: 5 comes back.
    void pop_dict();
    // Closes the open run so that the next characters start a new one.
    void close_low();
    void end_paragraph();

    // The parse driver takes the document (std::move) once the parse has succeeded; a
    // document left here is freed with the builder.
    std::unique_ptr<FFF::DocumentData> document;
    FFF::Contents* contents = nullptr; // the root's first child
    bool in_link = false;
    int link_id = 0;
    std::vector<int> dict_stack;
    // Open nodes; they belong to no parent until closed.
    std::unique_ptr<FFF::S> current_s;
    std::unique_ptr<FFF::P> current_p;
    std::unique_ptr<FFF::Low> current_low;
    std::uint32_t base_score;
};

} // namespace lumbrake
