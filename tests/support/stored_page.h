// A crawled HTML page as the crawl leaves it, for tests of searches: its only version in the
// document store and the same document in the index.
#pragma once

#include "docstorage/docstorage.h"
#include "idxstorage/idxstorage.h"

#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace tn_test {

// Stored and indexed with time `t` (fetch and server time), score 1000, UTF-8 text/html.
inline void store_and_index_page(sqlite3* db, lumbrake::docstorage& docs,
                                 lumbrake::idxstorage& index, const std::string& guid,
                                 std::uint32_t arcid, const std::string& url, std::uint32_t t,
                                 const std::string& fff) {
    docs.store(db,
               {.guid = guid,
                .arcid = arcid,
                .url = url,
                .timestamp = t,
                .fff = fff,
                .score = 1000,
                .mime = "text/html",
                .charset = "utf-8",
                .servertime = t},
               {}, 0);
    index.add_document(guid, arcid, url, "text/html", t, t, 1000, {0, 1}, fff);
}

} // namespace tn_test
