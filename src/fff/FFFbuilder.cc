#include "fff/FFFbuilder.h"

#include "util/codecs.h"

namespace lumbrake {

FFFbuilder::FFFbuilder(std::uint32_t base) : base_score(base) {
    document = std::make_unique<FFF::DocumentData>(true);
    auto c = std::make_unique<FFF::Contents>(true);
    contents = c.get();
    document->add_child(c.release());
    dict_stack.push_back(FFF::marginalNormDict);
}

FFFbuilder::~FFFbuilder() = default;

void FFFbuilder::add_codepoint(std::uint32_t c) {
    if (!current_p) current_p = std::make_unique<FFF::P>();
    if (!current_s) current_s = std::make_unique<FFF::S>();
    if (!current_low) {
        auto low = std::make_unique<FFF::Low>(in_link ? FFF::marginalLinkDict : dict_stack.back());
        if (in_link) low->set_link(link_id);
        current_low = std::move(low);
    }
    utf8_append(storable_codepoint(c), word);
}

void FFFbuilder::end_word() {
    if (current_low && !word.empty()) current_low->words.push_back(word);
    word.clear();
}

void FFFbuilder::push_dict(int slice) {
    dict_stack.push_back(slice);
}

void FFFbuilder::pop_dict() {
    if (!dict_stack.empty()) dict_stack.pop_back();
    if (dict_stack.empty()) dict_stack.push_back(FFF::marginalNormDict);
}

void FFFbuilder::close_low() {
    if (current_s) {
        end_word();
        if (current_low && !current_low->words.empty()) current_s->add_child(current_low.release());
        current_low.reset();
    }
    blank_pending = false;
    after_punct = false;
    in_word = false;
    sentence_end_pending = false;
}

void FFFbuilder::end_sentence() {
    if (!current_p) return;
    close_low();
    if (current_s && !current_s->children.empty()) current_p->add_child(current_s.release());
    current_s.reset();
}

void FFFbuilder::end_paragraph() {
    end_sentence();
    if (current_p && !current_p->children.empty()) contents->add_child(current_p.release());
    current_p.reset();
}

} // namespace lumbrake
