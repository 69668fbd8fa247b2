// The document store: every stored version of every crawled or pushed document, with its
// compressed headers, content and FFF, its auxiliary values, and per-archive counters.
//
// The store holds no connection and no lock: every operation runs on the caller's SQLite
// connection, inside the caller's exclusive transaction (util/sqlite_txn.h). Every SQLite
// failure is fatal ("SQLite error: [code] message").
#pragma once

#include "util/zblob.h"
#include "util/sqlite_stmt.h"

#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace lumbrake {

class fetchqueue;

// Auxiliary values of one version: duplicate keys kept, ordered by key.
using aux_values = std::multimap<std::string, std::string>;

// One stored version of a document: what store writes and load reads back.
struct stored_version {
    std::string guid;
    std::uint32_t arcid = 0;
    std::string url; // stored in its canonical form
    std::uint32_t timestamp = 0;
    std::int32_t error = 0; // the processing status
    std::string headers;
    std::string content;
    std::string fff; // the FFF binary form
    std::uint32_t fffcrc = 0;
    std::uint32_t corecrc = 0;
    bool corechanged = false;
    std::uint32_t score = 0;
    std::string mime;
    std::string charset;
    std::uint32_t servertime = 0;
};

// A version's blobs compressed ahead of store, outside the storage lock (compression is
// most of a store's work). Made for the status and cache mode the store is then called with.
struct version_blobs {
    std::string headers, content, fff;
};
version_blobs compress_version(std::int32_t error, int cache_mode, const std::string& headers,
                               const std::string& content, const std::string& fff);

class docstorage {
public:
    // Processing statuses that decide what a version keeps and what it counts.
    static constexpr std::int32_t STATUS_NONE = 0;
    static constexpr std::int32_t STATUS_UNCHANGED = 9;

    // Creates the missing tables docstorage, auxstorage and doccount with their indexes.
    explicit docstorage(sqlite3* db);

    // Stores (or replaces, by guid) one version. `cache_mode` is the archive's DocumentCache
    // (FULLCACHE 0, CONTEXTCACHE 1, NOCACHE 2 or anything else): with status NONE or UNCHANGED
    // FULLCACHE keeps headers, content, FFF and auxiliary values, CONTEXTCACHE only the FFF;
    // nothing else keeps any blob. Lengths, CRCs and the rest are always written.
    void store(sqlite3* db, const stored_version& version, const aux_values& aux, int cache_mode,
               const version_blobs* compressed = nullptr);

    // Reads one version by guid into `version` (its guid included); false (`version`
    // untouched) when it is not stored.
    bool load(sqlite3* db, const std::string& guid, stored_version& version);

    // The auxiliary values of one version (emptied first; empty when none).
    void load_aux(sqlite3* db, const std::string& guid, aux_values& aux);

    // The newest version of (arcid, url); the URL may be in any form of the same canonical text.
    bool find_latest(sqlite3* db, std::uint32_t arcid, const std::string& url, std::string& guid,
                     std::uint32_t& timestamp, std::int32_t& error, std::uint32_t& fffcrc,
                     std::uint32_t& corecrc);
    // The timestamp of the newest version of (arcid, url), 0 when none.
    std::uint32_t latest_timestamp(sqlite3* db, std::uint32_t arcid, const std::string& url);
    // latest_timestamp for many URLs of one archive through one prepared statement, for the
    // links of a page inside its storing transaction; the URLs come in canonical form.
    class latest_timestamps {
    public:
        latest_timestamps(sqlite3* db, std::uint32_t arcid);
        std::uint32_t of_canonical(const std::string& canonical);

    private:
        sqlite_statement st_;
        std::uint32_t arcid_;
    };

    // Sets the timestamp of one version; an unknown guid changes nothing.
    void touch(sqlite3* db, const std::string& guid, std::uint32_t timestamp);

    // Versions with status NONE and the sum of their content lengths, of one archive or, for
    // arcid 0, of all archives; 0 when never counted.
    std::int32_t document_count(sqlite3* db, std::uint32_t arcid);
    std::int64_t byte_count(sqlite3* db, std::uint32_t arcid);

    // Only the FFF of one version by guid, inflated (empty when none is kept, or when the
    // stored one is damaged, which is logged); false (fff untouched) when it is not stored.
    bool load_fff(sqlite3* db, const std::string& guid, std::string& fff);

    // --- maintenance ---

    // Deletes one version and its auxiliary values and updates the counters.
    void remove(sqlite3* db, const std::string& guid);
    // Deletes every version of an archive and the archive's counter row, lowering the totals.
    void remove_archive(sqlite3* db, std::uint32_t arcid);
    // Appends to `guids`, oldest first, at most `max_count` versions of the archive whose
    // timestamp is at or before `newest`.
    void oldest_documents(sqlite3* db, std::uint32_t arcid, std::int64_t newest,
                          std::int32_t max_count, std::vector<std::string>& guids);
    // When the archive has nothing queued, queues "guid:<guid>" at priority 0 for every
    // version with status NONE or UNCHANGED.
    void queue_reprocess(sqlite3* db, std::uint32_t arcid, fetchqueue& queue);
    // Empties the three tables.
    void clear(sqlite3* db);

    // One version as the index rebuild hands it to the index.
    struct indexable {
        std::string guid;
        std::uint32_t arcid = 0;
        std::string url;
        std::uint32_t timestamp = 0;
        std::string fff; // the FFF binary form, inflated
        bool corechanged = false;
        std::uint32_t score = 0;
        std::string mime;
        std::uint32_t servertime = 0;
    };
    // Calls `each` for every version with status NONE, in the database's order.
    void for_each_indexable(sqlite3* db, const std::function<void(const indexable&)>& each);

    // Resets the index and adds to it every stored version with status NONE (views 0, and 1
    // when the core changed), then flushes it. A template over the index client so that this
    // library does not depend on the index library, which reads stored documents itself.
    template <class Index> void rebuild_index(sqlite3* db, Index& index) {
        index.reset();
        for_each_indexable(db, [&index](const indexable& doc) {
            std::vector<std::int32_t> views{0};
            if (doc.corechanged) views.push_back(1);
            index.add_document(
                doc.guid, doc.arcid, doc.url, doc.mime, static_cast<std::int32_t>(doc.timestamp),
                static_cast<std::int32_t>(doc.servertime), doc.score, views, doc.fff);
        });
        index.flush();
    }
};

} // namespace lumbrake
