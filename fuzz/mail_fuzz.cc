// Fuzz target of the mail parser and the parsers it reaches through its nested dispatch: any
// bytes parse with status 0 and leave the builder's slice stack as they found it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "util/config.h"
#include "fff/FFFbuilder.h"
#include "parsers/mailparser.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static lumbrake::config cfg("/dev/null");
    const std::string text(reinterpret_cast<const char*>(data), size);

    lumbrake::FFFbuilder builder(1000);
    lumbrake::parse_result r;
    lumbrake::MAILParser(cfg).parse(builder, nullptr, 1000, "", text, "message/rfc822", "", r);
    if (r.status != lumbrake::PARSE_OK) std::abort();
    if (builder.dict_stack.size() != 1 || builder.dict_stack[0] != 5) std::abort();

    // The helpers on their own, over the same bytes.
    lumbrake::split_multipart(text, text.substr(0, size % 7));
    lumbrake::decode_quoted_printable(text);
    lumbrake::decode_base64_body(text);
    return 0;
}
