// Fuzz target of the whole PDF parse (front end, page tree, fonts, content streams): any bytes
// must end with status 0 or 2, an error text with status 2, and the process-wide state freed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/config.h"
#include "fff/FFFbuilder.h"
#include "pdfparser/pdf-lexer.h"
#include "pdfparser/pdf-parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lumbrake::config cfg("/dev/null");
    const std::string doc(reinterpret_cast<const char*>(data), size);
    lumbrake::PDFParser parser(cfg);
    lumbrake::FFFbuilder builder(1000);
    lumbrake::parse_result result;
    parser.parse(builder, nullptr, 1000, "file:///fuzz.pdf", doc, "application/pdf", "", result);
    if (result.status != 0 && result.status != 2) std::abort();
    if (result.status == 2 && result.error.empty()) std::abort();
    if (PdfParser::ByteSource::is_open()) std::abort();
    return 0;
}
