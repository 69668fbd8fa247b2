// The Word reader's parent side under libFuzzer: the event-stream decoder and its replay into
// the DOC parser's handlers and the FFF builder, and the cheap compound-file and FIB checks.
// (libwv itself is not fuzzed here: it crashes on bit flips of real documents, which is why it
// only ever runs in a child process.) The first byte chooses the part.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fff/FFFbuilder.h"
#include "parsers/docparser.h"
#include "wvadapter/wv-precheck.h"
#include "wvadapter/wvadapter.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const unsigned char* rest = data + 1;
    const std::size_t n = size - 1;
    using namespace lumbrake::wvadapter;
    switch (data[0] % 3) {
    case 0: {
        auto parser = Parser::fromEvents(std::string(reinterpret_cast<const char*>(rest), n));
        if (parser) {
            lumbrake::FFFbuilder builder(1000000);
            lumbrake::DOCParser::feed(*parser, builder);
        }
        break;
    }
    case 1:
        plausible_compound_file(rest, n);
        has_legacy_word_signature(rest, n);
        break;
    default: {
        std::string why;
        plausible_fib(rest, n, n * 4, n, n >= 16 ? no_stream : n * 2, why);
        break;
    }
    }
    return 0;
}
