// Helpers of the PDF front-end tests: run PDFParser over bytes and show the FFF compactly.
#pragma once

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "../support/fff_fixtures.h"
#include "../support/files.h"
#include "pdf_writer.h"
#include "util/config.h"
#include "fff/FFF.h"
#include "fff/FFFbuilder.h"
#include "pdfparser/pdf-parser.h"

namespace pdf_test {

struct parsed {
    lumbrake::parse_result result;
    std::string dump; // paragraphs one per line, runs "slice:words", sentences " / "
};

inline std::string dump(const FFF::DocumentData& doc) {
    return fff_dump(doc, false);
}

// Every word of the document (lower-cased ASCII), for comparisons with other extractors.
inline std::set<std::string> words(const FFF::DocumentData& doc) {
    std::set<std::string> out;
    for (const FFF::tXMLTree* c : doc.children) {
        const auto* contents = dynamic_cast<const FFF::Contents*>(c);
        if (!contents) continue;
        for (const FFF::tXMLTree* pn : contents->children)
            for (const FFF::tXMLTree* sn : dynamic_cast<const FFF::P*>(pn)->children)
                for (const FFF::tXMLTree* ln : dynamic_cast<const FFF::S*>(sn)->children)
                    for (std::string w : dynamic_cast<const FFF::Low*>(ln)->words) {
                        for (char& ch : w)
                            if (ch >= 'A' && ch <= 'Z') ch = static_cast<char>(ch - 'A' + 'a');
                        out.insert(w);
                    }
    }
    return out;
}

inline parsed parse_pdf(const std::string& bytes) {
    static lumbrake::config cfg("/dev/null");
    lumbrake::PDFParser p(cfg);
    parsed out;
    lumbrake::FFFbuilder builder(1000000);
    p.parse(builder, nullptr, 1000000, "file:///x.pdf", bytes, "application/pdf", "", out.result);
    if (builder.document) out.dump = dump(*builder.document);
    out.result.document = std::move(builder.document);
    return out;
}

using tn_test::read_file;

// A PDF file around the given objects (numbered from 1), with a correct cross-reference
// table; trailer_extra goes into the trailer dictionary (e.g. "/Info 5 0 R").
inline std::string make_pdf(const std::vector<std::string>& objects,
                            const std::string& trailer_extra, int root = 1) {
    return pdf_writer::pdf_file(objects, trailer_extra, root);
}

// A stream object body with a correct /Length.
inline std::string stream_object(const std::string& data, const std::string& extra = "") {
    return "<< /Length " + std::to_string(data.size()) + " " + extra + " >>\nstream\n" + data +
           "\nendstream";
}

} // namespace pdf_test
