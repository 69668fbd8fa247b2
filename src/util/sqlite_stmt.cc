#include "util/sqlite_stmt.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace lumbrake {

namespace {

// More distinct texts than this on one connection are prepared per use: a caller that builds
// its SQL text cannot make a connection hold statements without bound.
constexpr std::size_t max_kept = 256;

struct text_hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const {
        return std::hash<std::string_view>{}(text);
    }
};

using connection_statements =
    std::unordered_map<std::string, std::unique_ptr<sqlite_stmt_detail::kept_slot>, text_hash,
                       std::equal_to<>>;

// Every connection that keeps statements. A connection is used by one thread at a time, but
// connections open and close on other threads, so the map has a lock; a slot, once made,
// stays where it is until its connection is dropped, and its busy flag needs no lock.
struct registry {
    std::mutex mutex;
    std::unordered_map<sqlite3*, connection_statements> connections;
};

registry& kept() {
    static registry* r = new registry; // never destroyed: threads may outlive static teardown
    return *r;
}

} // namespace

void keep_statements(sqlite3* db) {
    registry& r = kept();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.connections.try_emplace(db);
}

void drop_kept_statements(sqlite3* db) {
    registry& r = kept();
    connection_statements statements;
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto it = r.connections.find(db);
        if (it == r.connections.end()) return;
        statements = std::move(it->second);
        r.connections.erase(it);
    }
    for (auto& [text, slot] : statements) {
        // A statement still in use is left to its user; the close then reports it as open.
        if (slot->busy.load(std::memory_order_acquire)) {
            slot.release();
            continue;
        }
        sqlite3_finalize(slot->st);
    }
}

std::size_t kept_statement_count(sqlite3* db) {
    registry& r = kept();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.connections.find(db);
    return it == r.connections.end() ? 0 : it->second.size();
}

sqlite_stmt_detail::kept_slot* sqlite_stmt_detail::borrow(sqlite3* db, std::string_view sql,
                                                          const char* file, int line) {
    registry& r = kept();
    {
        std::lock_guard<std::mutex> lock(r.mutex);
        auto c = r.connections.find(db);
        if (c == r.connections.end()) return nullptr;
        auto s = c->second.find(sql);
        if (s != c->second.end()) {
            bool expected = false;
            // In use further up the stack (a nested use of the same text): one of its own.
            if (!s->second->busy.compare_exchange_strong(expected, true, std::memory_order_acquire))
                return nullptr;
            return s->second.get();
        }
        if (c->second.size() >= max_kept) return nullptr;
    }
    // Prepared outside the lock: the other connections' users need not wait for it.
    sqlite3_stmt* st = nullptr;
    int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()),
                                SQLITE_PREPARE_PERSISTENT, &st, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_finalize(st);
        if (!file) return nullptr;
        sqlite_fatal(db, file, static_cast<unsigned long>(line));
    }
    auto slot = std::make_unique<kept_slot>();
    slot->st = st;
    slot->busy.store(true, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(r.mutex);
    auto c = r.connections.find(db);
    if (c != r.connections.end()) {
        auto [it, added] = c->second.try_emplace(std::string(sql), std::move(slot));
        if (added) return it->second.get();
    }
    // The connection was dropped meanwhile, or the text kept by another user of it: the
    // statement is not kept after all.
    sqlite3_finalize(st);
    return nullptr;
}

} // namespace lumbrake
