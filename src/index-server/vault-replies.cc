#include "index-server/vault-replies.h"

namespace siftvault {

void reply_queue::write_ready() {
    while (!queue_.empty() && queue_.front().done) {
        if (!failed_ && !queue_.front().bytes.empty() &&
            !out_.write_bytes(queue_.front().bytes.data(), queue_.front().bytes.size()))
            failed_ = true;
        queue_.pop_front();
        ++first_;
    }
    if (queue_.empty()) drained_.notify_all();
}

void reply_queue::put(const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) {
        if (!failed_ && !bytes.empty() && !out_.write_bytes(bytes.data(), bytes.size()))
            failed_ = true;
        return;
    }
    // Behind an outstanding reply: joins the ready ones at the end, or starts a new entry.
    if (queue_.back().done && queue_.size() > 1) {
        queue_.back().bytes += bytes;
    } else {
        entry e;
        e.done = true;
        e.bytes = bytes;
        queue_.push_back(std::move(e));
        ++next_;
    }
}

reply_queue::ticket reply_queue::defer() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) first_ = next_;
    queue_.push_back(entry{});
    return next_++;
}

void reply_queue::complete(ticket which, std::int32_t value) {
    lumbrake::idx_memory_channel bytes(nullptr, 0);
    bytes.write_int(value);
    std::lock_guard<std::mutex> lock(mutex_);
    const std::size_t at = static_cast<std::size_t>(which - first_);
    if (which < first_ || at >= queue_.size()) return;
    queue_[at].done = true;
    queue_[at].bytes = std::move(bytes.output());
    write_ready();
}

void reply_queue::finish() {
    std::unique_lock<std::mutex> lock(mutex_);
    drained_.wait(lock, [this] { return queue_.empty(); });
}

bool reply_queue::failed() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

bool vault_channel::send_collected() {
    if (out_failed_) return false;
    if (out_.empty()) return true;
    const bool ok = lumbrake::send_all(sock_, out_.data(), out_.size()) >= 0;
    out_.clear();
    if (out_.capacity() > 1024 * 1024) out_.shrink_to_fit();
    if (!ok) out_failed_ = true;
    return ok;
}

bool vault_channel::write_bytes(const void* data, std::size_t count) {
    std::lock_guard<std::mutex> lock(out_mutex_);
    if (out_failed_) return false;
    out_.append(static_cast<const char*>(data), count);
    return waiting_ ? send_collected() : true;
}

bool vault_channel::flush() {
    std::lock_guard<std::mutex> lock(out_mutex_);
    return send_collected();
}

bool vault_channel::read_bytes(void* data, std::size_t count) {
    if (in_failed_) return false;
    char* to = static_cast<char*>(data);
    while (count > 0) {
        if (in_.empty()) {
            {
                // The peer answers only what it has received: what is here goes first.
                std::lock_guard<std::mutex> lock(out_mutex_);
                send_collected();
                waiting_ = true;
            }
            const bool got = in_.fill(sock_) > 0;
            {
                std::lock_guard<std::mutex> lock(out_mutex_);
                waiting_ = false;
            }
            if (!got) {
                in_failed_ = true;
                return false;
            }
        }
        const std::size_t n = in_.take(to, count);
        to += n;
        count -= n;
    }
    return true;
}

} // namespace siftvault
