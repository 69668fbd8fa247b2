// Fuzz target of the RTF parser: any bytes under any starting charset parse or fail with the
// parse error, and leave the builder's slice stack as they found it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/codecs.h"
#include "util/config.h"
#include "fff/FFFbuilder.h"
#include "parsers/rtfparser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lumbrake::config cfg("/dev/null");
    static const char* const charsets[] = {"utf-8", "iso-8859-1", "cp1252", "x-unknown"};
    if (size == 0) return 0;
    lumbrake::set_input_charset(charsets[data[0] % 4]);
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);

    lumbrake::FFFbuilder builder(1000);
    lumbrake::parse_result r;
    lumbrake::RTFParser(cfg).parse(builder, nullptr, 1000, "", text, "text/rtf", "", r);
    if (r.status != lumbrake::PARSE_OK && r.status != lumbrake::PARSE_ERROR) std::abort();
    if (builder.dict_stack.size() != 1 || builder.dict_stack[0] != 5) std::abort();
    return 0;
}
