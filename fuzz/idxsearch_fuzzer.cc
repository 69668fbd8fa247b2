// Untrusted input of the search: stored FFF blobs summarised for result contexts (first byte
// even), and QUERY requests from the connection built into Xapian queries and run against a
// small in-memory store (first byte odd).
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "idxstorage/idx-protocol.h"
#include "idxstorage/idx-summary.h"
#include "index-server/server-search.h"
#include "index-server/vault-session.h"
#include "fff/FFF.h"

namespace {

siftvault::vault_db& store() {
    static siftvault::vault_db* db = [] {
        auto* d = new siftvault::vault_db("", {});
        const char* streams[] = {"alpha\x4a\x01"
                                 "beta\x4a\x01"
                                 "author:smith\x41",
                                 "beta\x4f\x01"
                                 "gamma\x4a",
                                 "alpha\x4a\x01"
                                 "gamma\x4c"};
        for (int i = 0; i < 3; ++i) {
            d->begin_document();
            d->add_text_field("guid", "g" + std::to_string(i), true, true, false);
            d->add_text_field("arcid", "1", true, true, false);
            d->add_text_field("score", "0000000" + std::to_string(i), true, true, false);
            d->add_time_field("time", i * 3600, true, true, false);
            d->add_text_field("", streams[i], false, true, true);
            d->end_document();
        }
        d->flush();
        return d;
    }();
    return *db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    if ((data[0] & 1) == 0) {
        FFF::tXMLTree::reader r(rest, FFF::get_kind_table());
        int status = 0;
        std::unique_ptr<FFF::tXMLTree> root(FFF::FromBinary(r, status));
        if (const auto* doc = dynamic_cast<const FFF::DocumentData*>(root.get())) {
            std::vector<lumbrake::QueryAtom> q = {{lumbrake::ATOM_WORD, "", "the"},
                                                  {lumbrake::ATOM_WORD, "", "a"},
                                                  {lumbrake::ATOM_AND, "", "2"}};
            std::vector<std::string> contexts;
            std::string categories;
            lumbrake::build_contexts(q, *doc, contexts, categories);
        }
        return 0;
    }
    lumbrake::idx_memory_channel in(rest.data(), rest.size());
    lumbrake::idx_limits limits;
    limits.max_items = 4096;
    limits.max_boosts = 64;
    limits.max_string = 4096;
    lumbrake::index_query query;
    if (!lumbrake::read_query(in, query, limits)) return 0;
    static std::unique_ptr<siftvault::query_engine> engine = siftvault::make_query_engine();
    try {
        if (engine->query(store(), query) == 0) {
            const std::int32_t n = engine->hit_count();
            for (std::int32_t i = 0; i < n && i < 4; ++i) {
                std::string text;
                engine->select_hit(i);
                engine->hit_text("guid", text);
                engine->hit_score();
                engine->hit_time("time");
            }
        }
    } catch (const Xapian::Error&) {
        // The session answers a store error with -1; anything else escaping is a fault.
    }
    engine->end_query();
    return 0;
}
