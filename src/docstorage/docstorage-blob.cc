#include "docstorage/docstorage-blob.h"

#include "util/log.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace lumbrake {

std::string compress_blob(const std::string& value) {
    std::string blob;
    if (value.empty()) return blob;
    uLongf size = compressBound(value.size());
    blob.resize(size);
    int r = compress(reinterpret_cast<Bytef*>(blob.data()), &size,
                     reinterpret_cast<const Bytef*>(value.data()), value.size());
    TN_ASSERT(r == Z_OK);
    blob.resize(size);
    return blob;
}

bool inflate_blob(const void* blob, std::size_t blob_size, std::int64_t plain_length,
                  std::string& value) {
    value.clear();
    if (blob_size == 0) return true;
    if (plain_length <= 0 || plain_length > std::numeric_limits<std::uint32_t>::max()) return false;
    const std::size_t limit = static_cast<std::size_t>(plain_length);

    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return false;
    const auto* in = static_cast<const Bytef*>(blob);
    std::size_t in_left = blob_size;
    std::size_t produced = 0;
    std::size_t capacity = std::min<std::size_t>(limit, 64 * 1024);
    value.resize(capacity);
    bool ok = false;
    for (;;) {
        if (zs.avail_in == 0 && in_left > 0) {
            zs.next_in = const_cast<Bytef*>(in);
            zs.avail_in = static_cast<uInt>(std::min<std::size_t>(in_left, 1u << 30));
            in += zs.avail_in;
            in_left -= zs.avail_in;
        }
        if (produced == capacity && capacity < limit)
            value.resize(capacity = std::min(limit, capacity * 2));
        // A full output gets a one-byte probe: the stream may still end (its trailer), but any
        // byte written there means the value is longer than its length column.
        Bytef probe;
        bool probing = produced == capacity;
        zs.next_out = probing ? &probe : reinterpret_cast<Bytef*>(value.data()) + produced;
        zs.avail_out =
            probing ? 1 : static_cast<uInt>(std::min<std::size_t>(capacity - produced, 1u << 30));
        uInt before = zs.avail_out;
        int r = inflate(&zs, Z_NO_FLUSH);
        std::size_t wrote = before - zs.avail_out;
        if (probing && wrote > 0) break;
        if (!probing) produced += wrote;
        if (r == Z_STREAM_END) {
            ok = true;
            break;
        }
        if (r != Z_OK) break; // damaged data, or no progress possible (cut short)
        if (zs.avail_in == 0 && in_left == 0 && wrote == 0) break;
    }
    inflateEnd(&zs);
    if (ok)
        value.resize(produced);
    else
        std::string().swap(value);
    return ok;
}

} // namespace lumbrake
