// Fuzz target of the HTML path: any bytes under any charset must parse with status 0 and
// leave the builder's slice stack balanced.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/codecs.h"
#include "util/config.h"
#include "fff/FFFbuilder.h"
#include "htmlparser/html2fff.h"
#include "htmlparser/htmlscanner.h"
#include "htmlparser/strip.h"
#include "htmlparser/tagcleaner.h"
#include "htmlparser/textscanner.h"
#include "parsers/parser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lumbrake::config cfg("/dev/null");
    static const char* const charsets[] = {"utf-8", "iso-8859-1", "windows-1252", "x-unknown"};
    if (size == 0) return 0;
    const char* cs = charsets[data[0] % 4];
    const std::string page(reinterpret_cast<const char*>(data) + 1, size - 1);

    {
        lumbrake::FFFbuilder builder(1000);
        lumbrake::HTMLtoFFF to_fff(builder, "http://fuzz.example/a/b.html");
        lumbrake::HTMLTextScanner ts(&to_fff);
        lumbrake::HTMLTagCleaner cleaner(&ts);
        lumbrake::StripStyle ss(&cleaner);
        lumbrake::StripJS js(&ss);
        lumbrake::set_input_charset(cs);
        lumbrake::HTMLScanner(page.data(), page.size(), &js).run();
        if (builder.dict_stack.size() != 1 || builder.dict_stack[0] != 5) std::abort();
    }

    lumbrake::parser p(cfg);
    lumbrake::parse_result r;
    p.parse_document(nullptr, 1000, "http://fuzz.example/a/b.html", page, "text/html", cs, "", r);
    if (r.status != 0 || !r.document) std::abort();
    return 0;
}
