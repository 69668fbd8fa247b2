#include "fff/word_splitter.h"

#include "util/codecs.h"

namespace lumbrake {

namespace {

enum class char_group { separator, symbol, punctuation, word };

char_group classify(std::uint32_t c) {
    // Marks split words; controls such as tab and line feed act as blanks.
    if (is_unicode_separator(c) || is_unicode_other(c) || is_unicode_mark(c))
        return char_group::separator;
    if (is_unicode_symbol(c)) return char_group::symbol;
    if (is_unicode_punctuation(c)) return char_group::punctuation;
    return char_group::word;
}

bool may_end_sentence(std::uint32_t c) {
    return c == '.' || c == ';' || c == '!' || c == '?';
}

} // namespace

void word_splitter::add_codepoint(std::uint32_t c) {
    utf8_append(storable_codepoint(c), word);
}

void word_splitter::end_word() {
    word.clear();
}

void word_splitter::add_char(std::uint32_t c) {
    const char_group group = classify(c);
    switch (group) {
    case char_group::separator:
        if (in_word) {
            blank_pending = true;
            in_word = false;
            end_word();
            sentence_end_pending = false;
        } else if (after_punct && sentence_end_pending) {
            end_sentence();
            after_punct = false;
            sentence_end_pending = false;
        } else if (after_punct) {
            add_codepoint(0x20);
            end_word();
            after_punct = false;
            sentence_end_pending = false;
        } else {
            sentence_end_pending = false;
            blank_pending = true;
        }
        break;
    case char_group::symbol:
    case char_group::punctuation:
        sentence_end_pending = false;
        if (in_word) {
            in_word = false;
            if (group == char_group::symbol) blank_pending = false;
            end_word();
            // Only punctuation right after a word may end the sentence.
            if (group == char_group::punctuation) sentence_end_pending = may_end_sentence(c);
        }
        if (blank_pending) {
            add_codepoint(0x20);
            blank_pending = false;
        }
        add_codepoint(c);
        after_punct = true;
        break;
    case char_group::word:
        blank_pending = false;
        sentence_end_pending = false;
        if (after_punct) {
            end_word();
            after_punct = false;
        }
        add_codepoint(c);
        in_word = true;
        break;
    }
}

} // namespace lumbrake
