// Cuts a stream of code points into words, punctuation tokens and sentences.
#pragma once

#include <cstdint>
#include <string>

namespace lumbrake {

// The code point as words store it: values beyond U+10FFFF and the non-characters U+FFFE and
// U+FFFF (which UTF-8 text and XML cannot carry) become U+FFFD.
inline std::uint32_t storable_codepoint(std::uint32_t c) {
    return c > 0x10FFFF || c == 0xFFFE || c == 0xFFFF ? 0xFFFD : c;
}

class word_splitter {
public:
    word_splitter() = default;
    virtual ~word_splitter() = default;
    word_splitter(const word_splitter&) = delete;
    word_splitter& operator=(const word_splitter&) = delete;

    // Appends the code point, UTF-8 encoded, to the current token.
    virtual void add_codepoint(std::uint32_t c);
    virtual void end_sentence() = 0;
    // Ends the current token (the base drops it).
    virtual void end_word();

    // The one way text enters: classifies c and drives tokens and sentence ends.
    void add_char(std::uint32_t c);

    std::string word;
    bool blank_pending = false;
    bool after_punct = false;
    bool in_word = false;
    bool sentence_end_pending = false;
};

} // namespace lumbrake
