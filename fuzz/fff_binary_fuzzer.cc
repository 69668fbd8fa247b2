#include <cstddef>
#include <cstdint>

#include "fff_binary_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fff_binary_fuzz_one(data, size);
}
