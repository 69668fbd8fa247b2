// One fuzz input for the PDF core: file structure, every indirect object, every stream through
// its filter chain, and each filter over the raw bytes.
#pragma once

#include <cstddef>
#include <cstdint>

struct pdf_core_fuzz_stats {
    bool opened = false;     // the file structure was read
    std::size_t objects = 0; // bodies found
    std::size_t streams = 0; // streams decoded
};

// Never throws; anything but the PDF code's own errors escaping is a fault (the caller sees it
// as a crash).
int pdf_core_fuzz_one(const std::uint8_t* data, std::size_t size,
                      pdf_core_fuzz_stats* stats = nullptr);
