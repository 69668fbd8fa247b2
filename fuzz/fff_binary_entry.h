// One fuzz input for the FFF binary reader and the metas unpacker.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads the bytes as an FFF stream and as a meta byte string; aborts when a decoded result
// does not survive writing and reading again unchanged.
int fff_binary_fuzz_one(const std::uint8_t* data, std::size_t size);
