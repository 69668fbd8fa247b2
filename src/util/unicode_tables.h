// The generated Unicode tables (unicode_tables.cc, made by scripts/gen/gen_unicode_tables.py).
#pragma once

#include <cstddef>
#include <cstdint>

#include "util/codecs.h"

namespace lumbrake::unicode_data {

extern const std::uint8_t class_table[0x10000];
extern const case_fold_entry fold_table[];
extern const std::size_t fold_table_size;

} // namespace lumbrake::unicode_data
