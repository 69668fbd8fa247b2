#include "idxstorage/idx-protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/types.h>

namespace lumbrake {

long send_all(int sock, const void* buffer, std::size_t count) {
    if (count == 0) return 0;
    const char* p = static_cast<const char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t r = ::send(sock, p + done, count - done, MSG_NOSIGNAL);
        if (r == 0) return -1;
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += static_cast<std::size_t>(r);
    }
    return static_cast<long>(count);
}

long recv_all(int sock, void* buffer, std::size_t count) {
    if (count == 0) return 0;
    char* p = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < count) {
        ssize_t r = ::recv(sock, p + done, count - done, 0);
        if (r == 0) return -1;
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        done += static_cast<std::size_t>(r);
    }
    return static_cast<long>(count);
}

bool idx_channel::write_int(std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(u), static_cast<unsigned char>(u >> 8),
        static_cast<unsigned char>(u >> 16), static_cast<unsigned char>(u >> 24)};
    return write_bytes(bytes, 4);
}

bool idx_channel::write_string(const std::string& value) {
    if (value.size() > 0x7fffffffu) return false;
    if (!write_int(static_cast<std::int32_t>(value.size()))) return false;
    return value.empty() || write_bytes(value.data(), value.size());
}

bool idx_channel::read_int(std::int32_t& value) {
    unsigned char bytes[4];
    if (!read_bytes(bytes, 4)) return false;
    const std::uint32_t u = std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 |
                            std::uint32_t(bytes[2]) << 16 | std::uint32_t(bytes[3]) << 24;
    value = static_cast<std::int32_t>(u);
    return true;
}

bool idx_channel::read_string(std::string& value, std::size_t max_length) {
    std::int32_t count = 0;
    if (!read_int(count)) return false;
    value.clear();
    if (count < 1) return true;
    if (static_cast<std::size_t>(count) > max_length) return false;
    // Grown piece by piece, so a count that the stream does not back costs no memory up front.
    char piece[1024];
    std::size_t left = static_cast<std::size_t>(count);
    while (left > 0) {
        const std::size_t n = std::min(left, sizeof piece);
        if (!read_bytes(piece, n)) return false;
        value.append(piece, n);
        left -= n;
    }
    return true;
}

bool idx_socket_channel::write_bytes(const void* data, std::size_t count) {
    return send_all(sock_, data, count) >= 0;
}

bool idx_socket_channel::read_bytes(void* data, std::size_t count) {
    return recv_all(sock_, data, count) >= 0;
}

bool idx_buffered_channel::write_bytes(const void* data, std::size_t count) {
    if (failed_) return false;
    out_.append(static_cast<const char*>(data), count);
    return true;
}

bool idx_buffered_channel::flush() {
    if (failed_) return false;
    if (out_.empty()) return true;
    const bool ok = send_all(sock_, out_.data(), out_.size()) >= 0;
    out_.clear();
    // A large document's buffer is not kept for the life of the connection.
    if (out_.capacity() > 1024 * 1024) out_.shrink_to_fit();
    if (!ok) failed_ = true;
    return ok;
}

void size_writer_socket(int sock) {
    const int size = idx_writer_socket_buffer;
    ::setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    ::setsockopt(sock, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
}

bool idx_buffered_channel::read_bytes(void* data, std::size_t count) {
    if (failed_) return false;
    char* to = static_cast<char*>(data);
    while (count > 0) {
        if (in_.empty()) {
            // The peer answers only what it has received; what is already here needs no
            // answer, so replies to requests that arrived together leave together.
            if (!flush()) return false;
            if (in_.fill(sock_) <= 0) {
                failed_ = true;
                return false;
            }
        }
        const std::size_t n = in_.take(to, count);
        to += n;
        count -= n;
    }
    return true;
}

void idx_buffered_channel::reset(int sock) {
    sock_ = sock;
    failed_ = false;
    out_.clear();
    in_.clear();
}

bool idx_memory_channel::write_bytes(const void* data, std::size_t count) {
    output_.append(static_cast<const char*>(data), count);
    return true;
}

bool idx_memory_channel::read_bytes(void* data, std::size_t count) {
    if (count > size_ - pos_) {
        pos_ = size_;
        return false;
    }
    if (count > 0) std::memcpy(data, data_ + pos_, count);
    pos_ += count;
    return true;
}

bool write_items(idx_channel& out, const std::vector<index_term>& items) {
    if (items.size() > 0x7fffffffu) return false;
    if (!out.write_int(static_cast<std::int32_t>(items.size()))) return false;
    for (const index_term& item : items) {
        if (!out.write_int(item.op) || !out.write_string(item.value) ||
            !out.write_string(item.field))
            return false;
    }
    return true;
}

bool read_items(idx_channel& in, std::vector<index_term>& items, const idx_limits& limits) {
    items.clear();
    std::int32_t count = 0;
    if (!in.read_int(count)) return false;
    if (count < 0 || static_cast<std::size_t>(count) > limits.max_items) return false;
    for (std::int32_t i = 0; i < count; ++i) {
        index_term item;
        if (!in.read_int(item.op) || !in.read_string(item.value, limits.max_string) ||
            !in.read_string(item.field, limits.max_name))
            return false;
        items.push_back(std::move(item));
    }
    return true;
}

bool write_query(idx_channel& out, const index_query& query) {
    if (!write_items(out, query.items)) return false;
    if (query.boosts.size() > 0x7fffffffu) return false;
    if (!out.write_int(static_cast<std::int32_t>(query.boosts.size()))) return false;
    for (const index_boost& b : query.boosts)
        if (!out.write_int(b.slice) || !out.write_int(b.boost)) return false;
    return out.write_string(query.time_field) && out.write_int(query.min_time) &&
           out.write_int(query.max_time) && out.write_string(query.sort_field) &&
           out.write_int(query.reverse) && out.write_string(query.score_field) &&
           out.write_string(query.min_score);
}

bool read_query(idx_channel& in, index_query& query, const idx_limits& limits) {
    query = index_query{};
    if (!read_items(in, query.items, limits)) return false;
    std::int32_t count = 0;
    if (!in.read_int(count)) return false;
    if (count < 0 || static_cast<std::size_t>(count) > limits.max_boosts) return false;
    for (std::int32_t i = 0; i < count; ++i) {
        index_boost b;
        if (!in.read_int(b.slice) || !in.read_int(b.boost)) return false;
        query.boosts.push_back(b);
    }
    return in.read_string(query.time_field, limits.max_name) && in.read_int(query.min_time) &&
           in.read_int(query.max_time) && in.read_string(query.sort_field, limits.max_name) &&
           in.read_int(query.reverse) && in.read_string(query.score_field, limits.max_name) &&
           in.read_string(query.min_score, limits.max_name);
}

namespace {

bool write_names(idx_channel& out, const std::vector<std::string>& names) {
    if (names.size() > 0x7fffffffu) return false;
    if (!out.write_int(static_cast<std::int32_t>(names.size()))) return false;
    for (const std::string& n : names)
        if (!out.write_string(n)) return false;
    return true;
}

bool read_names(idx_channel& in, std::vector<std::string>& names, const idx_limits& limits) {
    names.clear();
    std::int32_t count = 0;
    if (!in.read_int(count)) return false;
    if (count < 0 || static_cast<std::size_t>(count) > limits.max_hit_fields) return false;
    names.resize(static_cast<std::size_t>(count));
    for (std::string& n : names)
        if (!in.read_string(n, limits.max_name)) return false;
    return true;
}

} // namespace

bool write_window_request(idx_channel& out, const index_window_request& request) {
    return out.write_int(request.first) && out.write_int(request.last) &&
           write_names(out, request.texts) && write_names(out, request.times);
}

bool read_window_request(idx_channel& in, index_window_request& request, const idx_limits& limits) {
    request = index_window_request{};
    return in.read_int(request.first) && in.read_int(request.last) &&
           read_names(in, request.texts, limits) && read_names(in, request.times, limits);
}

bool write_window(idx_channel& out, const index_window& window) {
    if (window.hits.size() > 0x7fffffffu) return false;
    if (!out.write_int(window.total) ||
        !out.write_int(static_cast<std::int32_t>(window.hits.size())))
        return false;
    for (const index_window_hit& hit : window.hits) {
        if (!out.write_int(hit.selected)) return false;
        for (const std::string& t : hit.texts)
            if (!out.write_string(t)) return false;
        for (std::int32_t t : hit.times)
            if (!out.write_int(t)) return false;
        if (!out.write_int(hit.score)) return false;
    }
    return true;
}

bool read_window(idx_channel& in, const index_window_request& request, index_window& window,
                 const idx_limits& limits) {
    window = index_window{};
    std::int32_t count = 0;
    if (!in.read_int(window.total) || !in.read_int(count)) return false;
    if (count < 0 || static_cast<std::size_t>(count) > limits.max_window) return false;
    for (std::int32_t i = 0; i < count; ++i) {
        index_window_hit hit;
        if (!in.read_int(hit.selected)) return false;
        hit.texts.resize(request.texts.size());
        for (std::string& t : hit.texts)
            if (!in.read_string(t, limits.max_string)) return false;
        hit.times.resize(request.times.size());
        for (std::int32_t& t : hit.times)
            if (!in.read_int(t)) return false;
        if (!in.read_int(hit.score)) return false;
        window.hits.push_back(std::move(hit));
    }
    return true;
}

} // namespace lumbrake
