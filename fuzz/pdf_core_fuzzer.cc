#include <cstddef>
#include <cstdint>

#include "pdf_core_entry.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return pdf_core_fuzz_one(data, size);
}
