#include "api/status-info.h"
#include "apiops2_env.h"
#include "util/uri.h"

namespace apiops2 {
namespace {

using namespace lumbrake;

class status : public apiops2_test {
protected:
    std::int32_t get_status(std::vector<ExtendedStatus>* rows_out = nullptr) {
        std::int32_t code = -1;
        std::vector<ExtendedStatus> rows;
        api_result r = call(admin(), [&](auto& a, auto& r) { a.get_status(r, code, rows); });
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(rows.size(), 4u);
        if (rows_out) *rows_out = rows;
        return code;
    }
    // Seconds of a time of day on some day, UTC.
    static std::int64_t at(int hour, int minute) {
        return 1699920000 /* 2023-11-14 00:00 UTC */ + hour * 3600 + minute * 60;
    }
};

TEST_F(status, CrawlWindow) {
    struct row {
        const char* config;
        int hour, minute;
        std::int32_t expected;
    };
    const row rows[] = {
        // A window that wraps past midnight.
        {"CRAWLSTART=22\nCRAWLSTOP=6\n", 23, 0, RUNNING},
        {"CRAWLSTART=22\nCRAWLSTOP=6\n", 3, 0, RUNNING},
        {"CRAWLSTART=22\nCRAWLSTOP=6\n", 6, 59, RUNNING},
        {"CRAWLSTART=22\nCRAWLSTOP=6\n", 12, 0, CRAWLSTOPPED},
        {"CRAWLSTART=22\nCRAWLSTOP=6\n", 21, 59, CRAWLSTOPPED},
        // A day-time window, both ends inclusive.
        {"CRAWLSTART=8\nCRAWLSTOP=18\n", 8, 0, RUNNING},
        {"CRAWLSTART=8\nCRAWLSTOP=18\n", 18, 59, RUNNING},
        {"CRAWLSTART=8\nCRAWLSTOP=18\n", 19, 0, CRAWLSTOPPED},
        {"CRAWLSTART=8\nCRAWLSTOP=18\n", 7, 59, CRAWLSTOPPED},
        // Equal ends wrap: the whole day.
        {"CRAWLSTART=5\nCRAWLSTOP=5\n", 12, 0, RUNNING},
        // Nothing set: the whole day.
        {"", 0, 0, RUNNING},
        {"", 23, 59, RUNNING},
        // Only one end set.
        {"CRAWLSTART=10\n", 9, 0, CRAWLSTOPPED},
        {"CRAWLSTOP=10\n", 11, 0, CRAWLSTOPPED},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.config) + " at " + std::to_string(r.hour) + ":" +
                     std::to_string(r.minute));
        write_config(r.config);
        now_ = at(r.hour, r.minute);
        EXPECT_EQ(get_status(), r.expected);
    }
}

TEST_F(status, LowDiskSpaceWinsOverTheWindow) {
    const std::uint64_t mb = 1048576;
    struct row {
        const char* config;
        std::uint64_t free;
        std::int32_t expected;
    };
    const row rows[] = {
        {"MINFREEDISK=100\nCRAWLSTART=1\nCRAWLSTOP=2\n", 99 * mb, LOWDISKSPACE},
        {"MINFREEDISK=100\nCRAWLSTART=1\nCRAWLSTOP=2\n", 100 * mb, CRAWLSTOPPED},
        {"MINFREEDISK=100\n", 100 * mb, RUNNING},
        {"MINFREEDISK=0\n", 0, RUNNING},
        // Without MINFREEDISK: 500 MB.
        {"", 500 * mb - 1, LOWDISKSPACE},
        {"", 500 * mb, RUNNING},
        // A count whose product does not fit 64 bits must not wrap round to a small minimum.
        {"MINFREEDISK=17592186044417\n", 1ULL << 40, LOWDISKSPACE},
    };
    now_ = at(12, 0);
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.config) + " free " + std::to_string(r.free));
        write_config(r.config);
        free_ = r.free;
        EXPECT_EQ(get_status(), r.expected);
        EXPECT_EQ(last_free_path_, (root_ / "data").string());
    }
}

TEST_F(status, ExtendedRows) {
    storage_transaction txn(db_);
    for (int i = 0; i < 3; ++i)
        docs_->store(db_,
                     {.guid = "guid" + std::to_string(i),
                      .arcid = static_cast<std::uint32_t>(1 + i % 2),
                      .url = "http://h/" + std::to_string(i),
                      .timestamp = 1000,
                      .content = std::string(100 * (i + 1), 'x'),
                      .mime = "text/plain",
                      .charset = "utf-8"},
                     {}, 0);
    ArchiveConfiguration arc;
    std::uint32_t magic = 0;
    cfgstorage<ArchiveConfiguration>::add(db_, arc, magic);
    cfgstorage<ArchiveConfiguration>::add(db_, arc, magic);
    txn.commit();
    free_ = 5ULL * 1048576 * 1024 + 1048575; // 5 GiB and a bit less than one more MB

    std::vector<ExtendedStatus> rows;
    get_status(&rows);
    const std::vector<ExtendedStatus> expected = {
        {"Platform: number of documents", "3"},
        {"Platform: size of documents", "600"},
        {"Platform: number of archives", "2"},
        {"Platform: free disk space (MB)", "5120"},
    };
    EXPECT_EQ(rows, expected);
}

TEST_F(status, BrowsingReadGuardsStatusAndVersions) {
    auto bob = ctx("bob", {"staff"});
    std::int32_t code = 0;
    std::vector<ExtendedStatus> rows;
    std::string version;
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.get_status(r, code, rows); }).code, 2);
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.get_version(r, version); }).code, 2);
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.get_min_client_version(r, version); }).code, 2);
    EXPECT_TRUE(rows.empty());
    // Write access alone does not give read access.
    set_root_acl(ROOTACL_BROWSING, {allow("staff", WRITEACCESS)});
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.get_version(r, version); }).code, 2);
    set_root_acl(ROOTACL_BROWSING, {allow("staff", READACCESS)});
    ASSERT_TRUE(call(bob, [&](auto& a, auto& r) { a.get_version(r, version); }).ok);
    EXPECT_EQ(version, "2.0.2.1010");
    ASSERT_TRUE(call(bob, [&](auto& a, auto& r) { a.get_min_client_version(r, version); }).ok);
    EXPECT_EQ(version, "2.0.0");
    EXPECT_TRUE(call(bob, [&](auto& a, auto& r) { a.get_status(r, code, rows); }).ok);
}

TEST_F(status, Capabilities) {
    struct row {
        api_context caller;
        bool admin, browsing, crawling;
    };
    set_root_acl(ROOTACL_BROWSING, {allow("editors", WRITEACCESS), deny("bob", WRITEACCESS)});
    set_root_acl(ROOTACL_CRAWLING,
                 {allow("crawlers", WRITEACCESS), allow("All Users", READACCESS)});
    const row rows[] = {
        {ctx("root", {}, true), true, true, true},
        {ctx("alice", {"editors"}), false, true, false},
        {ctx("bob", {"editors", "crawlers"}), false, false, true},
        {ctx("Anonymous"), false, false, false},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(r.caller.user);
        bool historicize = false, is_admin = !r.admin, browsing = !r.browsing,
             crawling = !r.crawling;
        ASSERT_TRUE(call(r.caller, [&](auto& a, auto& res) {
                        a.get_capabilities(res, historicize, is_admin, browsing, crawling);
                    }).ok);
        EXPECT_TRUE(historicize);
        EXPECT_EQ(is_admin, r.admin);
        EXPECT_EQ(browsing, r.browsing);
        EXPECT_EQ(crawling, r.crawling);
    }
}

TEST_F(status, NormalizeUrl) {
    struct row {
        const char* in;
        const char* out;
    };
    const row rows[] = {
        // Without a scheme the text is a path under "http" (the URI's reading of a text
        // without "//"), exactly as a seed is stored.
        {"www.example.com/a/b.html", "http:///www.example.com/a/b.html"},
        {"http://www.example.com:80/a/./c/../b.html#part", "http://www.example.com/a/b.html"},
        {"http://www.example.com/a/b.html", "http://www.example.com/a/b.html"},
        {"https://h:8443/x", "https://h:8443/x"},
    };
    for (const row& r : rows) {
        std::string out = "junk";
        // No access test: anyone may ask.
        ASSERT_TRUE(call(ctx("Anonymous"), [&](auto& a, auto& res) {
                        a.normalize_url(res, r.in, out);
                    }).ok);
        EXPECT_EQ(out, r.out) << r.in;
        EXPECT_EQ(out, canonicalize_url(r.in));
    }
}

} // namespace
} // namespace apiops2
