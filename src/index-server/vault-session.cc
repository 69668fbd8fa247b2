#include "index-server/vault-session.h"

#include "index-server/server-search.h"

#include <algorithm>
#include <utility>

namespace siftvault {

using lumbrake::idx_channel;

void query_engine::hit_window(const lumbrake::index_window_request& request, std::size_t max_hits,
                              lumbrake::index_window& window) {
    window = lumbrake::index_window{};
    window.total = hit_count();
    const std::int64_t first = std::max<std::int32_t>(request.first, 0);
    const std::int64_t last = window_last(first, request.last, window.total, max_hits);
    for (std::int64_t i = first; i <= last; ++i) {
        lumbrake::index_window_hit hit;
        hit.selected = select_hit(static_cast<std::int32_t>(i));
        for (const std::string& field : request.texts) {
            std::string text;
            hit_text(field, text);
            hit.texts.push_back(std::move(text));
        }
        for (const std::string& field : request.times)
            hit.times.push_back(hit_time(field));
        hit.score = hit_score();
        window.hits.push_back(std::move(hit));
    }
}

std::int64_t window_last(std::int64_t first, std::int32_t last, std::int32_t total,
                         std::size_t max_hits) {
    // 64-bit, so that a window ending at the largest index cannot wrap.
    return std::min<std::int64_t>(
        {last, std::int64_t{total} - 1, first + static_cast<std::int64_t>(max_hits) - 1});
}

session::session(vault_db& db, query_engine& engine, const lumbrake::idx_limits& limits)
    : db_(&db), reader_(nullptr), view_(db), engine_(engine), limits_(limits) {}

session::session(vault_reader& reader, query_engine& engine, const lumbrake::idx_limits& limits)
    : db_(nullptr), reader_(&reader), view_(reader), engine_(engine), limits_(limits) {}

namespace {
// How often a reader's query runs again when the writer moved on under it.
constexpr int reader_attempts = 3;
} // namespace

std::int32_t session::run_query(const lumbrake::index_query& query) {
    if (!reader_) return engine_.query(view_, query);
    reader_->begin_read();
    last_query_ = query;
    std::int32_t result = engine_.query(view_, query);
    // The engine answers QUERY_FAILED for any store error; one that came from a revision the
    // writer has since overwritten goes away with the latest one.
    for (int attempt = 1; result == QUERY_FAILED && attempt < reader_attempts; ++attempt) {
        reader_->refresh();
        result = engine_.query(view_, query);
    }
    return result;
}

void session::run_window(const lumbrake::index_window_request& request,
                         lumbrake::index_window& window) {
    for (int attempt = 1;; ++attempt) {
        try {
            engine_.hit_window(request, limits_.max_window, window);
            return;
        } catch (const Xapian::DatabaseModifiedError&) {
            if (!reader_ || attempt >= reader_attempts) throw;
            reader_->refresh();
            if (engine_.query(view_, last_query_) != 0) throw;
        }
    }
}

void session::end_query() {
    engine_.end_query();
    if (reader_) reader_->end_read();
}

session::~session() {
    if (replies_) replies_->finish();
}

session::outcome session::fail(std::string why) {
    note_error(why);
    return outcome::protocol_error;
}

void session::note_error(const std::string& why) {
    std::lock_guard<std::mutex> lock(error_mutex_);
    last_error_ = why;
}

std::string session::last_error() const {
    std::lock_guard<std::mutex> lock(error_mutex_);
    return last_error_;
}

reply_queue& session::replies_for(idx_channel& channel) {
    if (bound_ != &channel || !replies_) {
        if (replies_) replies_->finish();
        replies_ = std::make_unique<reply_queue>(channel);
        bound_ = &channel;
    }
    return *replies_;
}

bool session::reply_bytes(idx_channel& channel, const std::string& bytes) {
    reply_queue& q = replies_for(channel);
    q.put(bytes);
    return !q.failed();
}

bool session::reply(idx_channel& channel, std::int32_t value) {
    lumbrake::idx_memory_channel bytes(nullptr, 0);
    bytes.write_int(value);
    return reply_bytes(channel, bytes.output());
}

vault_db::done_fn session::deferred_reply(idx_channel& channel) {
    reply_queue& q = replies_for(channel);
    const reply_queue::ticket t = q.defer();
    return [this, &q, t](bool ok, const std::string& error) {
        if (!ok) note_error(error);
        q.complete(t, ok ? 0 : -1);
    };
}

session::outcome session::serve_one(idx_channel& channel) {
    std::int32_t command = 0;
    if (!channel.read_int(command)) return outcome::end;

    // Every request is read whole before the store sees it, so a store failure never leaves
    // the stream between fields.
    switch (command) {
    case lumbrake::IDX_QUIT:
        return outcome::quit;

    case lumbrake::IDX_FLUSH:
        // The shards commit after the work handed to them before; the reply waits in its place
        // until all have, and the session reads on meanwhile.
        if (db_) {
            db_->submit_flush(deferred_reply(channel));
            return replies_for(channel).failed() ? outcome::end : outcome::next;
        }
        return reply(channel, -1) ? outcome::next : outcome::end;

    case lumbrake::IDX_OPTIMIZE: {
        std::int32_t result = 0;
        try {
            if (!db_) {
                result = -1;
            } else {
                engine_.end_query(); // the store is reopened below
                db_->optimize();
            }
        } catch (const Xapian::Error& e) {
            note_error(e.get_description());
            result = -1;
        }
        if (!reply(channel, result)) return outcome::end;
        return outcome::next;
    }

    case lumbrake::IDX_BEGIN_DOC:
        if (db_) db_->begin_document();
        return reply(channel, db_ ? 0 : -1) ? outcome::next : outcome::end;

    case lumbrake::IDX_OPEN_READER: {
        std::int32_t result = -1;
        if (db_ && open_reader_) result = open_reader_();
        return reply(channel, result) ? outcome::next : outcome::end;
    }

    case lumbrake::IDX_TEXT_FIELD:
    case lumbrake::IDX_TIME_FIELD: {
        std::string name, text;
        std::int32_t time = 0, stored = 0, indexed = 0, tokenized = 0;
        if (!channel.read_string(name, limits_.max_name))
            return fail("short or oversized field name");
        const bool value_ok = command == lumbrake::IDX_TEXT_FIELD
                                  ? channel.read_string(text, limits_.max_string)
                                  : channel.read_int(time);
        if (!value_ok) return fail("short or oversized field value");
        if (!channel.read_int(stored) || !channel.read_int(indexed) || !channel.read_int(tokenized))
            return fail("short field flags");
        bool ok = false;
        try {
            if (db_)
                ok =
                    command == lumbrake::IDX_TEXT_FIELD
                        ? db_->add_text_field(name, std::move(text), stored != 0, indexed != 0, tokenized != 0)
                        : db_->add_time_field(name, time, stored != 0, indexed != 0,
                                              tokenized != 0);
        } catch (const Xapian::Error& e) {
            note_error(e.get_description());
        }
        return reply(channel, ok ? 0 : -1) ? outcome::next : outcome::end;
    }

    case lumbrake::IDX_END_DOC: {
        // Answered when its shard has written it (or failed to); the session reads on.
        if (db_ && db_->in_document()) {
            db_->submit_document(deferred_reply(channel));
            return replies_for(channel).failed() ? outcome::end : outcome::next;
        }
        return reply(channel, -1) ? outcome::next : outcome::end;
    }

    case lumbrake::IDX_DELETE: {
        std::vector<lumbrake::index_term> items;
        if (!lumbrake::read_items(channel, items, limits_)) return fail("bad DELETE items");
        // Deletion takes one term; anything else is refused rather than guessed at.
        if (db_ && items.size() == 1 && items[0].op == lumbrake::IDX_OP_TERM) {
            // Every shard removes after the documents handed to it before; answered when all did.
            db_->submit_delete(items[0].field, items[0].value, deferred_reply(channel));
            return replies_for(channel).failed() ? outcome::end : outcome::next;
        }
        return reply(channel, -1) ? outcome::next : outcome::end;
    }

    case lumbrake::IDX_QUERY: {
        lumbrake::index_query query;
        if (!lumbrake::read_query(channel, query, limits_)) return fail("bad QUERY request");
        std::int32_t result = -1;
        try {
            settle();
            result = run_query(query);
        } catch (const Xapian::Error& e) {
            note_error(e.get_description());
            engine_.end_query();
        }
        return reply(channel, result) ? outcome::next : outcome::end;
    }

    case lumbrake::IDX_HIT_COUNT:
    case lumbrake::IDX_HIT_SCORE:
    case lumbrake::IDX_SELECT_HIT:
    case lumbrake::IDX_HIT_TIME: {
        std::int32_t index = 0;
        std::string field;
        if (command == lumbrake::IDX_SELECT_HIT && !channel.read_int(index))
            return fail("short SELECT_HIT");
        if (command == lumbrake::IDX_HIT_TIME && !channel.read_string(field, limits_.max_name))
            return fail("short HIT_TIME");
        std::int32_t result = -1;
        try {
            settle(); // the hits' documents are read from the shards
            switch (command) {
            case lumbrake::IDX_HIT_COUNT:
                result = engine_.hit_count();
                break;
            case lumbrake::IDX_HIT_SCORE:
                result = engine_.hit_score();
                break;
            case lumbrake::IDX_SELECT_HIT:
                result = engine_.select_hit(index);
                break;
            default:
                result = engine_.hit_time(field);
                break;
            }
        } catch (const Xapian::Error& e) {
            note_error(e.get_description());
            result = -1;
        }
        return reply(channel, result) ? outcome::next : outcome::end;
    }

    case lumbrake::IDX_HIT_TEXT: {
        std::string field, text;
        if (!channel.read_string(field, limits_.max_name)) return fail("short HIT_TEXT");
        std::int32_t result = -1;
        try {
            settle();
            result = engine_.hit_text(field, text);
        } catch (const Xapian::Error& e) {
            note_error(e.get_description());
            text.clear();
        }
        lumbrake::idx_memory_channel bytes(nullptr, 0);
        bytes.write_int(result);
        bytes.write_string(text);
        return reply_bytes(channel, bytes.output()) ? outcome::next : outcome::end;
    }

    case lumbrake::IDX_HIT_WINDOW: {
        lumbrake::index_window_request request;
        if (!lumbrake::read_window_request(channel, request, limits_))
            return fail("bad HIT_WINDOW request");
        lumbrake::index_window window;
        try {
            settle();
            run_window(request, window);
        } catch (const Xapian::Error& e) {
            note_error(e.get_description());
            window = lumbrake::index_window{};
        }
        lumbrake::idx_memory_channel bytes(nullptr, 0);
        if (!lumbrake::write_window(bytes, window)) return outcome::end;
        return reply_bytes(channel, bytes.output()) ? outcome::next : outcome::end;
    }

    case lumbrake::IDX_END_QUERY:
        end_query();
        return outcome::next;

    default:
        // An unknown code means the stream has lost its place: nothing after it can be trusted.
        return fail("unknown command " + std::to_string(command));
    }
}

session::outcome session::serve(idx_channel& channel) {
    outcome o;
    do {
        o = serve_one(channel);
    } while (o == outcome::next);
    end_query();
    if (replies_) replies_->finish();
    if (!db_) return o;
    try {
        db_->flush();
    } catch (const Xapian::Error& e) {
        if (last_error().empty()) note_error(e.get_description());
    }
    return o;
}

} // namespace siftvault
