// Helpers of the parser tests: an event recorder for the HTML chain and a compact text form
// of FFF documents.
#pragma once

#include <string>
#include <vector>

#include "../support/empty_config.h"
#include "../support/fff_fixtures.h"
#include "util/config.h"
#include "fff/FFF.h"
#include "htmlparser/htmlplug.h"
#include "parsers/parser.h"

namespace lumbrake::test {

// Records events as "<b>", "</b>", "<a href=\"q\" target=_top>", "text", "END".
class recorder : public HTMLPlug {
public:
    void tag(html_tag& r, bool open) override {
        std::string s = open ? "<" : "</";
        s += html_tag_name(r.tag_id);
        for (int i = 0; i < r.attr_count; ++i) {
            s += ' ';
            s += html_attr_name(r.attrs[i].attr_id);
            if (r.attrs[i].value_begin) s += "=" + std::string(attr_value(r.attrs[i]));
        }
        events.push_back(s + ">");
        last_was_text = false;
    }
    void text(const char* b, const char* e) override {
        // Adjacent pieces are joined: how text is cut into pieces is not part of the contract.
        if (!events.empty() && last_was_text)
            events.back().append(b, e);
        else
            events.emplace_back(b, e);
        last_was_text = true;
        pieces++;
    }
    void end() override {
        events.push_back("END");
        last_was_text = false;
    }

    std::string joined() const {
        std::string out;
        for (const auto& e : events)
            out += (out.empty() ? "" : "|") + e;
        return out;
    }

    std::vector<std::string> events;
    bool last_was_text = false;
    int pieces = 0;
};

// Paragraphs one per line; runs "slice:words" (link runs "slice@id:words"), sentences " / ".
inline std::string dump(const FFF::DocumentData& doc) {
    return fff_dump(doc, true);
}

using tn_test::empty_config;

struct parsed_doc {
    parse_result result;
    std::string text; // dump() of the document, empty without one
    std::vector<std::string> links;
};

inline parsed_doc parse_with(const std::string& data, const std::string& mime,
                             const std::string& url = "http://h/a/b.html",
                             const std::string& charset = "utf-8",
                             const std::string& sidemeta = "") {
    parsed_doc out;
    parser p(empty_config());
    p.parse_document(nullptr, 1000, url, data, mime, charset, sidemeta, out.result);
    if (out.result.document) out.text = dump(*out.result.document);
    for (const auto& l : out.result.outlinks)
        out.links.push_back(l.first);
    return out;
}

inline parsed_doc parse_html(const std::string& data, const std::string& url = "http://h/a/b.html",
                             const std::string& charset = "utf-8") {
    return parse_with(data, "text/html", url, charset);
}

} // namespace lumbrake::test
