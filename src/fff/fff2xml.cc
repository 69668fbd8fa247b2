#include "fff/fff2xml.h"

#include "util/codecs.h"
#include "util/escape.h"
#include "fff/fff2html.h"

#include <sstream>

namespace lumbrake {

std::string score_text(std::uint32_t score) {
    if (score >= 1000000) return "1";
    std::ostringstream os;
    os << static_cast<double>(score) / 1000000.0;
    return os.str();
}

const char* dictionary_name(int dictid) {
    return FFF::slice_name(dictid);
}

void append_run_words(std::string& out, const std::vector<std::string>& words,
                      std::string (*escape)(std::string_view)) {
    bool previous_alnum = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        bool alnum = utf8_is_alnum(words[i]);
        if (i > 0 && alnum && previous_alnum) out += ' ';
        out += escape(words[i]);
        previous_alnum = alnum;
    }
}

namespace {

std::string indent(int depth) {
    return std::string(static_cast<std::size_t>(depth < 0 ? 0 : depth), ' ');
}

void write_meta(std::ostream& out, const std::string& in, const FFF::meta& m) {
    out << in << " <meta type=";
    switch (m.type) {
    case FFF::meta_documentwide:
        out << "\"documentwide\"";
        break;
    case FFF::meta_positional:
        out << "\"positional\" pos=\"" << m.pos << '"';
        break;
    case FFF::meta_ranged:
        out << "\"ranged\" beg=\"" << m.pos << "\" end=\"" << m.end << '"';
        break;
    default:
        out << '"' << m.type << '"'; // keeps the line well-formed
    }
    out << " dictid=\"" << static_cast<std::uint32_t>(m.dictid) << "\" sliceid=\""
        << dictionary_name(m.dictid) << "\" key=\"" << xml_escape(m.key) << "\">"
        << xml_escape(m.value) << "</meta>\n";
}

} // namespace

void fff2xmlVisitor::visit(const FFF::tXMLTree* node, int depth, bool leaving) {
    const std::string in = indent(depth);
    if (auto* root = dynamic_cast<const FFF::DocumentData*>(node)) {
        if (leaving) {
            out_ << " </fff>\n</document>\n";
            return;
        }
        out_ << "<?xml version=\"1.0\"?>\n"
             << in << "<document id=\"" << docid_ << "\" url=\"" << xml_escape(url_)
             << "\" timestamp=\"" << timestamp_ << "\" score= \"" << score_text(root->score)
             << "\" >\n"
             << in << " <fff>\n";
        for (std::size_t id = 0; id < root->linkscores_.size(); ++id) {
            const FFF::linkscore_t& link = root->linkscores_[id];
            out_ << in << "  <link urlid=\"" << id << "\" url=\"" << xml_escape(link.url)
                 << "\" score=\"" << score_text(link.score) << "\"/>\n";
        }
    } else if (auto* contents = dynamic_cast<const FFF::Contents*>(node)) {
        if (!leaving) {
            out_ << in << " <contents>\n";
            return;
        }
        out_ << in << " </contents>\n";
        for (const FFF::meta& m : contents->metas)
            write_meta(out_, in, m);
    } else if (dynamic_cast<const FFF::P*>(node)) {
        out_ << (leaving ? "</p>\n" : in + " <p>");
    } else if (dynamic_cast<const FFF::S*>(node)) {
        out_ << (leaving ? "</s>" : "<s>");
    } else if (auto* low = dynamic_cast<const FFF::Low*>(node)) {
        if (leaving) {
            out_ << "</low>";
            return;
        }
        out_ << "<low dictid=\"" << static_cast<std::uint32_t>(low->dictid) << "\" sliceid=\""
             << dictionary_name(low->dictid) << '"';
        if (FFF::is_link_slice(low->dictid))
            out_ << " urlid=\"" << static_cast<std::uint32_t>(low->urlid) << '"';
        out_ << '>';
        std::string words;
        append_run_words(words, low->words, &xml_escape);
        out_ << words;
    } else {
        out_ << (leaving ? std::string(" </ERROR>\n")
                         : std::string(" <ERROR tree-name=\"") + node->tag_name() + "\">\n");
    }
}

bool render_fff(std::string& out, const std::string& format, const std::string& docid,
                const std::string& url, long timestamp, const FFF::tXMLTree* root) {
    out.clear();
    if (!root) return false;
    std::ostringstream stream;
    fff2xmlVisitor xml(docid, url, timestamp, stream);
    fff2htmlVisitor html(docid, url, timestamp, stream);
    FFF::tXMLTree::visitor& chosen = format == "html" ? static_cast<FFF::tXMLTree::visitor&>(html)
                                                      : static_cast<FFF::tXMLTree::visitor&>(xml);
    root->accept_const(chosen, 0);
    stream.flush();
    out = stream.str();
    return true;
}

bool fff_to_xml(std::string& out, const std::string& docid, const std::string& url, long timestamp,
                const FFF::tXMLTree* root) {
    return render_fff(out, "xml", docid, url, timestamp, root);
}

bool fff_to_html(std::string& out, const std::string& docid, const std::string& url, long timestamp,
                 const FFF::tXMLTree* root) {
    return render_fff(out, "html", docid, url, timestamp, root);
}

} // namespace lumbrake
