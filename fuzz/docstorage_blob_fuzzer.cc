// Stored blobs of the document store under libFuzzer: the first four bytes are the length
// column (little-endian), the rest the blob. The inflater must never read or write out of
// bounds, never grow past the length column, and agree with zlib's one-shot uncompress.
#include "util/zblob.h"

#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    std::uint32_t length =
        data[0] | data[1] << 8 | data[2] << 16 | static_cast<std::uint32_t>(data[3]) << 24;
    const std::uint8_t* blob = data + 4;
    std::size_t blob_size = size - 4;

    std::string value = "stale";
    bool ok = lumbrake::inflate_blob(blob, blob_size, length, value);
    if (value.size() > length) std::abort();
    if (!ok && !value.empty()) std::abort();

    // The reference: exactly the stored length as capacity, one call.
    if (blob_size > 0 && length > 0 && length <= (1u << 20)) {
        std::string reference(length, '\0');
        uLongf n = length;
        int r = uncompress(reinterpret_cast<Bytef*>(reference.data()), &n, blob, blob_size);
        if ((r == Z_OK) != ok) std::abort();
        if (ok && reference.compare(0, n, value) != 0) std::abort();
        if (ok && n != value.size()) std::abort();
    }

    // Whatever was read back is stored and read again unchanged.
    if (ok && !value.empty()) {
        std::string again = lumbrake::compress_blob(value);
        std::string round;
        if (!lumbrake::inflate_blob(again.data(), again.size(), value.size(), round) ||
            round != value)
            std::abort();
    }
    return 0;
}
