// Replies in request order while their work finishes out of order: the writer's session answers
// most requests at once but an added document or a removal only when its shard has written it,
// and a FLUSH when the shards committed, and the session reads on meanwhile.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "idxstorage/idx-protocol.h"

namespace siftvault {

// The replies of one stream, written to its channel in request order. Writes to the channel
// happen under the queue's lock, from the session's thread or from whichever shard thread
// completes the oldest reply outstanding, so the channel must take writes from another thread
// while the session reads (vault_channel; a memory channel does too).
class reply_queue {
public:
    using ticket = std::uint64_t;

    explicit reply_queue(lumbrake::idx_channel& out) : out_(out) {}
    ~reply_queue() { finish(); }
    reply_queue(const reply_queue&) = delete;
    reply_queue& operator=(const reply_queue&) = delete;

    // A reply that is ready: written now, or after the outstanding ones before it.
    void put(const std::string& bytes);
    // A reply whose value comes later, in this place of the order.
    ticket defer();
    // The value of a deferred reply (any thread).
    void complete(ticket which, std::int32_t value);
    // Waits until every deferred reply is complete and written.
    void finish();
    // A write to the channel failed: the replies after it went nowhere.
    bool failed() const;

private:
    struct entry {
        bool done = false;
        std::string bytes;
    };
    void write_ready(); // under mutex_

    lumbrake::idx_channel& out_;
    mutable std::mutex mutex_;
    std::condition_variable drained_;
    std::deque<entry> queue_; // the oldest outstanding reply first, then what follows it
    ticket first_ = 0;        // the ticket of queue_.front()
    ticket next_ = 0;
    bool failed_ = false;
};

// The writer's socket: reads buffered; writes collected and sent whenever the reader is about
// to wait for bytes, and at once while it waits (a shard finished a reply the daemon may be
// waiting for), so replies to requests that arrived together still leave together.
class vault_channel : public lumbrake::idx_channel {
public:
    explicit vault_channel(int sock) : sock_(sock) {}
    bool write_bytes(const void* data, std::size_t count) override;
    bool read_bytes(void* data, std::size_t count) override;
    // Sends what is collected; false when the send fails.
    bool flush();

private:
    bool send_collected(); // under out_mutex_

    int sock_;
    std::mutex out_mutex_;
    std::string out_;
    bool waiting_ = false;
    bool out_failed_ = false;
    socket_ipc::receive_buffer in_;
    bool in_failed_ = false;
};

} // namespace siftvault
