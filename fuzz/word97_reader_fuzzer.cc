// Our own Word 97 reader under libFuzzer + ASan/UBSan, on the streams of a document directly
// (no compound file around them, so that every input reaches the reader): a little-endian u32
// length of the Word stream and one of the table stream, then the Word stream, the table stream
// and, in what is left, the data stream.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "wvadapter/word97-reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    const auto len = [&](std::size_t at) {
        return std::size_t(data[at]) | std::size_t(data[at + 1]) << 8 |
               std::size_t(data[at + 2]) << 16 | std::size_t(data[at + 3]) << 24;
    };
    std::size_t rest = size - 8;
    const std::size_t word = std::min(len(0), rest);
    rest -= word;
    const std::size_t table = std::min(len(4), rest);
    rest -= table;
    lumbrake::wvadapter::word97_streams s;
    s.word = data + 8;
    s.word_size = word;
    s.table = s.word + word;
    s.table_size = table;
    if (rest > 0) {
        s.data = s.table + table;
        s.data_size = rest;
    }
    std::string out;
    lumbrake::wvadapter::read_word97_text(s, out);
    return 0;
}
