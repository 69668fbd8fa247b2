// The index server's request decoding and handling: arbitrary bytes as the daemon's stream,
// served by a session over an in-memory store with the real query engine.
#include <cstddef>
#include <cstdint>

#include "index-server/vault-session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    siftvault::vault_settings settings;
    settings.max_field_length = 1000;
    siftvault::vault_db db("", settings);
    std::unique_ptr<siftvault::query_engine> engine = siftvault::make_query_engine();
    lumbrake::idx_limits limits;
    limits.max_items = 256; // keeps one input's work small; the bounds' logic is the same
    limits.max_boosts = 64;
    limits.max_string = 1 << 16;
    limits.max_name = 256;
    lumbrake::idx_memory_channel channel(data, size);
    siftvault::session s(db, *engine, limits);
    s.serve(channel);
    return 0;
}
