#include "fff_binary_entry.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fff/FFF.h"

namespace {

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fff_binary_fuzz: %s\n", what);
    std::abort();
}

void check_stream(const std::uint8_t* data, std::size_t size) {
    FFF::tXMLTree::reader r(data, size, FFF::get_kind_table());
    int status = -1;
    std::unique_ptr<FFF::tXMLTree> tree(FFF::FromBinary(r, status));
    if (status < 0 || status > 2) fail("status out of range");
    if (r.position() > size) fail("reader moved past the end");
    if (!tree) return;
    // Whatever was read, even in part, writes a complete stream that reads back the same.
    std::string first;
    FFF::ToBinary(*tree, first);
    FFF::tXMLTree::reader again(first, FFF::get_kind_table());
    std::unique_ptr<FFF::tXMLTree> copy(FFF::FromBinary(again, status));
    if (!copy || status != 2 || again.position() != first.size())
        fail("written stream does not read back complete");
    std::string second;
    FFF::ToBinary(*copy, second);
    if (second != first) fail("stream changed on a second round trip");
}

void check_metas(const std::uint8_t* data, std::size_t size) {
    std::vector<FFF::meta> list;
    FFF::metas_from_binary(list, std::string_view(reinterpret_cast<const char*>(data), size));
    std::string packed;
    FFF::metas_to_binary(packed, list);
    std::vector<FFF::meta> back;
    if (!FFF::metas_from_binary(back, packed)) fail("packed metas do not unpack completely");
    std::string repacked;
    FFF::metas_to_binary(repacked, back);
    if (repacked != packed) fail("metas changed on a second round trip");
}

} // namespace

int fff_binary_fuzz_one(const std::uint8_t* data, std::size_t size) {
    check_stream(data, size);
    check_metas(data, size);
    return 0;
}
