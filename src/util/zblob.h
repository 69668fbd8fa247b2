// zlib blobs: a value kept as its zlib stream beside its plain length (the storages), and the
// same stream for deflated HTTP answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumbrake {

// The zlib `compress` stream (default level) of `value`; empty for an empty value. A zlib
// failure is the fatal assertion "r == Z_OK".
std::string compress_blob(const std::string& value);

// Inflates a stored blob whose plain length column says `plain_length`: an empty blob gives an
// empty value. The output never grows past `plain_length` and is allocated as the stream
// actually produces it, so a damaged length column costs no memory of its own. Answers false,
// with `value` empty, when the blob is no complete zlib stream of at most `plain_length` bytes.
bool inflate_blob(const void* blob, std::size_t blob_size, std::int64_t plain_length,
                  std::string& value);

} // namespace lumbrake
