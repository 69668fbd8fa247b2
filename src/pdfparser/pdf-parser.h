// The PDF parser: recognises PDF documents and turns them into FFF text, first the text
// entries of the information dictionary, then the text of every page in page-tree order.
#pragma once

#include "pdfparser/pdf-objects.h"
#include "parserbase/parser_base.h"

namespace lumbrake {

class PDFParser : public parser_base {
public:
    explicit PDFParser(const config& cfg) : parser_base(cfg) {}

    // Status 0 on success; status 2 with "PDF parser error: " and the message when the
    // document cannot be read. One PDF parse at a time per process.
    void parse(FFFbuilder& builder, const text_exclusion_matcher* matcher, std::int32_t base_score,
               const std::string& url, const std::string& data, const std::string& mime,
               const std::string& charset, parse_result& result) override;
    // By name: ".pdf" or ".PDF"; by content: "%PDF-" anywhere.
    bool detect(int mode, const std::string& data, const std::string& name, std::string& mime,
                std::string& charset) override;
};

} // namespace lumbrake

namespace PdfParser {

// Walks the document between the span's offsets of the open ByteSource into the builder;
// throws PdfParserException (and std::out_of_range for object numbers beyond the table).
bool walk_document(Span document, lumbrake::FFFbuilder& builder);

} // namespace PdfParser
