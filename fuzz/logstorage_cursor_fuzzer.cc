// Crawl-log cursors and logged texts come from SOAP clients: any cookie, count and time must
// give a bounded page and a well-formed cursor, and any query text must come back unchanged.
#include "logstorage/logstorage.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

using namespace lumbrake;

namespace {

struct fixture {
    sqlite3* db = nullptr;
    logstorage* ls = nullptr;
    fixture() {
        if (sqlite3_open(":memory:", &db) != SQLITE_OK) std::abort();
        ls = new logstorage(db);
        ls->start_crawl(db, 1, 1000);
        for (int i = 0; i < 31; ++i)
            ls->log_document(db, "g", 1, "http://h/" + std::to_string(i), 1000 + i, i % 14);
        ls->end_crawl(db, 1, 1030);
        ls->start_crawl(db, 2, 2000);
        for (int i = 0; i < 5; ++i)
            ls->log_document(db, "r", 2, "http://r/", 2000 + i, 0);
    }
};

std::int32_t take32(const std::uint8_t*& p, std::size_t& n) {
    std::uint32_t v = 0;
    std::size_t k = n < 4 ? n : 4;
    std::memcpy(&v, p, k);
    p += k;
    n -= k;
    return static_cast<std::int32_t>(v);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fixture f;
    if (size < 1) return 0;
    const std::uint8_t* p = data;
    std::size_t n = size;
    const int selector = *p++;
    --n;
    std::int32_t nmax = take32(p, n);
    std::int32_t time = take32(p, n);
    if (selector & 1) time = (selector & 2) ? 2000 : 1000;
    nmax %= 64; // the page bound is checked below; big pages only slow the run
    const std::int32_t archive = 1 + (selector >> 2) % 3;
    const std::string text(reinterpret_cast<const char*>(p), n);

    CrawlLog cursor{time, text};
    std::vector<CrawlLogData> page;
    f.ls->document_log(f.db, archive, nmax, cursor, page);
    if (page.size() > static_cast<std::size_t>(nmax < 0 ? 0 : nmax)) std::abort();
    if (cursor.Time != time) std::abort();
    const long long before = std::strtoll(text.c_str(), nullptr, 10);
    if (before < 0) {
        if (cursor.Cookie != text || !page.empty()) std::abort();
    } else {
        char* end = nullptr;
        const long long after = std::strtoll(cursor.Cookie.c_str(), &end, 10);
        if (*end != '\0' || after < -1 || std::to_string(after) != cursor.Cookie) std::abort();
    }

    f.ls->log_query(f.db, 9, text, 5);
    std::vector<QueryLogData> queries;
    f.ls->query_log(f.db, 9, 5, 5, queries);
    if (queries.size() != 1 || queries[0].Query != text) std::abort();
    f.ls->remove_archive(f.db, 9);
    return 0;
}
