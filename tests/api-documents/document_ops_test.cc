// Pushing, reading and removing single stored documents.
#include "../support/fff_fixtures.h"
#include "api/info-records.h"
#include "apiops3_env.h"
#include "util/md5.h"
#include "fff/FFF.h"

#include <climits>

namespace lumbrake {
namespace {

using apiops3::allow;
using apiops3::daemon_env;

template <class F> api_result call(const api_context& ctx, F f) {
    api a(ctx);
    api_result res;
    f(a, res);
    return res;
}

class DocumentOpsTest : public ::testing::Test {
protected:
    daemon_env env;
    api_context admin = env.context();

    std::int32_t add_archive(bool historicize, std::vector<AccessSpec> acl = {}) {
        ArchiveConfiguration a;
        a.Name = "arc";
        a.Historicize = historicize;
        a.DocumentCache = NOCACHE;
        a.ACL = std::move(acl);
        std::uint32_t m = 0;
        return cfgstorage<ArchiveConfiguration>::add(env.db(), a, m);
    }
    std::string push(const api_context& ctx, std::int32_t arcid, const std::string& url,
                     const std::string& mime = "text/plain", const std::string& content = "hi",
                     api_result* out = nullptr) {
        std::string docid;
        api_result r = call(ctx, [&](api& a, api_result& res) {
            a.add_document(res, arcid, url, mime, content, docid);
        });
        if (out)
            *out = r;
        else
            EXPECT_TRUE(r.ok) << r.fault;
        return docid;
    }
    // mime, charset, content, timestamp, score of a stored version.
    std::vector<std::string> stored(const std::string& guid) {
        stored_version v;
        if (!env.docs().load(env.db(), guid, v)) return {};
        return {v.url,
                v.mime,
                v.charset,
                v.content,
                std::to_string(v.timestamp),
                std::to_string(v.score),
                std::to_string(v.corechanged),
                std::to_string(v.servertime),
                std::to_string(v.error)};
    }
};

TEST_F(DocumentOpsTest, AddDocumentStoresQueuesAndOpensACrawl) {
    const std::int32_t arc = add_archive(false);
    const std::string guid = push(admin, arc, "//Example.COM/a/../b.html",
                                  "Text/HTML; Charset=UTF-8", std::string("<p>\0x</p>", 9));
    // The document id is the MD5 of platform id, archive and canonical URL.
    EXPECT_EQ(guid, md5_hex("0123456789abcdef0123456789abcdef|1|http://example.com/b.html"));
    // Stored whole even though the archive caches nothing: the worker still has to parse it.
    EXPECT_EQ(stored(guid),
              (std::vector<std::string>{"http://example.com/b.html", "text/html", "utf-8",
                                        std::string("<p>\0x</p>", 9), std::to_string(env.now),
                                        "1000000", "0", std::to_string(env.now), "0"}));
    EXPECT_EQ(env.column("select url from fetchqueue"), std::vector<std::string>{"guid:" + guid});
    std::int64_t start = 0, end = 0, docs = 0, errors = 0;
    ASSERT_TRUE(env.logs().last_crawl(env.db(), arc, start, end, docs, errors));
    EXPECT_EQ(start, env.now);
    EXPECT_EQ(end, 0);

    // Same URL written with the scheme, a later second: the same document, and the running
    // crawl is not opened again.
    env.now += 5;
    EXPECT_EQ(push(admin, arc, "http://example.com/b.html", "application/pdf"), guid);
    EXPECT_EQ(stored(guid)[1], "application/pdf");
    EXPECT_EQ(stored(guid)[2], "iso-8859-1");
    EXPECT_EQ(env.column("select count(*) from crawlstats"), std::vector<std::string>{"1"});
    EXPECT_EQ(env.column("select count(*) from fetchqueue"), std::vector<std::string>{"1"});

    // After the crawl ends, the next push opens a new one.
    env.logs().end_crawl(env.db(), arc, env.now);
    env.now += 5;
    push(admin, arc, "http://example.com/c.html");
    ASSERT_TRUE(env.logs().last_crawl(env.db(), arc, start, end, docs, errors));
    EXPECT_EQ(start, env.now);
    EXPECT_EQ(end, 0);
}

TEST_F(DocumentOpsTest, HistoricizingArchiveGetsANewIdPerSecond) {
    const std::int32_t arc = add_archive(true);
    const std::string first = push(admin, arc, "//example.com/x");
    env.now += 1;
    const std::string second = push(admin, arc, "http://example.com/x");
    EXPECT_NE(first, second);
    EXPECT_EQ(second, md5_hex("0123456789abcdef0123456789abcdef|1|http://example.com/x|" +
                              std::to_string(env.now)));
    EXPECT_EQ(stored(second)[6], "1"); // corechanged
    EXPECT_EQ(stored(first).size(), 9u);
}

TEST_F(DocumentOpsTest, AccessAndMissingArchive) {
    const std::int32_t arc = add_archive(false, {allow("readers", READACCESS)});
    api_context reader = env.context("ann", false, {"readers"});
    api_result r;
    EXPECT_TRUE(push(reader, arc, "//example.com/", "text/plain", "x", &r).empty());
    EXPECT_EQ(r.code, API_ACCESS_VIOLATION);
    push(admin, 77, "//example.com/", "text/plain", "x", &r);
    EXPECT_EQ(r.code, API_ACCESS_VIOLATION);
    push(admin, -1, "//example.com/", "text/plain", "x", &r);
    EXPECT_EQ(r.code, API_ACCESS_VIOLATION);
    EXPECT_EQ(env.column("select count(*) from docstorage"), std::vector<std::string>{"0"});
    EXPECT_EQ(env.column("select count(*) from fetchqueue"), std::vector<std::string>{"0"});

    const std::string guid = push(admin, arc, "//example.com/doc");
    std::string url;
    EXPECT_TRUE(
        call(reader, [&](api& a, api_result& res) { a.get_document_url(res, guid, url); }).ok);
    EXPECT_EQ(url, "http://example.com/doc");
    // Reading does not allow removing.
    EXPECT_EQ(call(reader, [&](api& a, api_result& res) { a.remove_document(res, guid); }).code,
              API_ACCESS_VIOLATION);
    api_context stranger = env.context("bob", false);
    url = "old";
    EXPECT_EQ(
        call(stranger, [&](api& a, api_result& res) { a.get_document_url(res, guid, url); }).code,
        API_ACCESS_VIOLATION);
    EXPECT_EQ(url, "");
    std::string type, content;
    EXPECT_EQ(call(stranger,
                   [&](api& a, api_result& res) {
                       a.get_cached_page(res, guid, FORMAT_ORIGINAL, url, type, content);
                   })
                  .code,
              API_ACCESS_VIOLATION);
    EXPECT_EQ(content, "");

    // The archive is gone: its documents can no longer be read.
    ASSERT_TRUE(cfgstorage<ArchiveConfiguration>::remove(env.db(), arc));
    EXPECT_EQ(
        call(admin, [&](api& a, api_result& res) { a.get_document_url(res, guid, url); }).code,
        API_ACCESS_VIOLATION);
}

TEST_F(DocumentOpsTest, UnknownDocumentIsNoError) {
    std::string url = "x", type = "y", content = "z";
    const std::string nobody(32, '0');
    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) { a.get_document_url(r, nobody, url); }).ok);
    EXPECT_EQ(url, "");
    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) {
                    a.get_cached_page(r, nobody, FORMAT_HTML, url, type, content);
                }).ok);
    EXPECT_EQ(type + content, "");
    // No index server is running: a missing document never reaches it.
    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) { a.remove_document(r, nobody); }).ok);
}

TEST_F(DocumentOpsTest, CachedPageFormats) {
    const std::int32_t arc = add_archive(false);
    const std::string pushed = push(admin, arc, "//example.com/p", "TEXT/Plain", "body");
    std::string url, type, content;
    auto page = [&](const std::string& guid, std::int32_t format) {
        url = type = content = "stale";
        EXPECT_TRUE(call(admin, [&](api& a, api_result& r) {
                        a.get_cached_page(r, guid, format, url, type, content);
                    }).ok);
    };
    page(pushed, FORMAT_ORIGINAL);
    EXPECT_EQ(url, "http://example.com/p");
    EXPECT_EQ(type, "text/plain; charset=iso-8859-1");
    EXPECT_EQ(content, "body");
    // Not parsed yet: no FFF to render.
    for (std::int32_t format : {std::int32_t{FORMAT_PARSED}, std::int32_t{FORMAT_HTML}, 3, -1}) {
        page(pushed, format);
        EXPECT_EQ(url, "http://example.com/p");
        EXPECT_EQ(type + content, "") << format;
    }

    // A parsed version without a charset, with an FFF.
    const std::string guid(32, 'a');
    env.docs().store(env.db(),
                     {.guid = guid,
                      .arcid = static_cast<std::uint32_t>(arc),
                      .url = "http://example.com/parsed",
                      .timestamp = 1234567890,
                      .headers = "hdr",
                      .content = "raw",
                      .fff = fff_with_word("zebracorn"),
                      .fffcrc = 1,
                      .corecrc = 2,
                      .score = 1000000,
                      .mime = "application/x-raw",
                      .servertime = 1234567890},
                     {}, FULLCACHE);
    page(guid, FORMAT_ORIGINAL);
    EXPECT_EQ(type, "application/x-raw");
    EXPECT_EQ(content, "raw");
    page(guid, FORMAT_PARSED);
    EXPECT_EQ(type, "application/vnd.lumbrake-fff; charset=UTF-8");
    EXPECT_NE(content.find("zebracorn"), std::string::npos);
    EXPECT_NE(content.find(guid), std::string::npos);
    EXPECT_EQ(content.rfind("<?xml", 0), 0u);
    page(guid, FORMAT_HTML);
    EXPECT_EQ(type, "text/html; charset=UTF-8");
    EXPECT_NE(content.find("zebracorn"), std::string::npos);

    // A damaged FFF (cut short, or garbage) renders nothing and is still no error.
    const std::string full = fff_with_word("zebracorn");
    for (const std::string& bad : {full.substr(0, full.size() / 2), std::string(64, '\xff')}) {
        const std::string g(32, 'b');
        env.docs().store(env.db(),
                         {.guid = g,
                          .arcid = static_cast<std::uint32_t>(arc),
                          .url = "http://example.com/bad",
                          .timestamp = 1,
                          .fff = bad,
                          .fffcrc = 1,
                          .corecrc = 2,
                          .mime = "text/html",
                          .servertime = 1},
                         {}, FULLCACHE);
        page(g, FORMAT_PARSED);
        EXPECT_EQ(type + content, "");
        page(g, FORMAT_HTML);
        EXPECT_EQ(type + content, "");
    }
}

TEST_F(DocumentOpsTest, RemoveDocumentLeavesStoreAndIndex) {
    env.start_index();
    admin = env.context(); // now with the index
    const std::int32_t arc = add_archive(false);
    const std::string guid = push(admin, arc, "//example.com/gone");
    const std::string kept = push(admin, arc, "//example.com/kept");
    env.index().add_document(guid, arc, "http://example.com/gone", "text/html", 1000, 1000, 1000000,
                             {0}, fff_with_word("zebracorn"));
    env.index().add_document(kept, arc, "http://example.com/kept", "text/html", 1000, 1000, 1000000,
                             {0}, fff_with_word("zebracorn"));
    env.index().flush();
    auto hits = [&] {
        std::vector<QueryResult> results;
        return env.index().search({.archives = {arc},
                                   .first = 0,
                                   .last = 9,
                                   .min_time = 0,
                                   .max_time = INT_MAX,
                                   .info = INFO_NONE,
                                   .view = VIEW_PUBLISHED,
                                   .sort = SORT_STANDARD,
                                   .query = {QueryAtom{ATOM_WORD, "", "zebracorn"}}},
                                  results, env.db(), env.docs());
    };
    ASSERT_EQ(hits(), 2);

    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) { a.remove_document(r, guid); }).ok);
    env.index().flush();
    EXPECT_EQ(hits(), 1);
    EXPECT_TRUE(stored(guid).empty());
    EXPECT_FALSE(stored(kept).empty());
    // Removing it again: nothing left, still success.
    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) { a.remove_document(r, guid); }).ok);
}

} // namespace
} // namespace lumbrake
