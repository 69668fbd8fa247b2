#include "util/zblob.h"

#include "util/log.h"

#include <zlib.h>

#include <algorithm>
#include <limits>

namespace lumbrake {

namespace {

// One deflate state per thread, reset between blobs: setting one up and freeing it for every
// blob cost more than the compression of a typical page (its large buffers come and go through
// the heap, and with many threads the returned memory costs TLB shoot-downs).
struct deflater {
    z_stream zs{};
    bool ready = false;
    deflater() { ready = deflateInit(&zs, Z_DEFAULT_COMPRESSION) == Z_OK; }
    ~deflater() {
        if (ready) deflateEnd(&zs);
    }
    deflater(const deflater&) = delete;
    deflater& operator=(const deflater&) = delete;
};

} // namespace

std::string compress_blob(const std::string& value) {
    std::string blob;
    if (value.empty()) return blob;
    // Byte for byte what zlib's compress() writes: the same level, window and memory settings.
    thread_local deflater d;
    TN_ASSERT(d.ready);
    TN_ASSERT(deflateReset(&d.zs) == Z_OK);
    blob.resize(deflateBound(&d.zs, value.size()));
    d.zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(value.data()));
    d.zs.next_out = reinterpret_cast<Bytef*>(blob.data());
    std::size_t in_left = value.size(), out_left = blob.size();
    int r = Z_OK;
    // Blobs fit zlib's 32-bit counts many times over, but feed them in pieces all the same.
    while (r == Z_OK) {
        const uInt in_now = static_cast<uInt>(std::min<std::size_t>(in_left, 1u << 30));
        const uInt out_now = static_cast<uInt>(std::min<std::size_t>(out_left, 1u << 30));
        d.zs.avail_in = in_now;
        d.zs.avail_out = out_now;
        r = deflate(&d.zs, in_now == in_left ? Z_FINISH : Z_NO_FLUSH);
        in_left -= in_now - d.zs.avail_in;
        out_left -= out_now - d.zs.avail_out;
    }
    TN_ASSERT(r == Z_STREAM_END);
    blob.resize(blob.size() - out_left);
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
