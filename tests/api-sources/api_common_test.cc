// The result record, the error table, the access rule and the call object's transaction.
#include "apiops_fixture.h"

#include "apiops/api-source.h"

#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

using namespace apiops_test;

TEST(ApiResult, NewRecordIsSuccessAndEveryErrorRowIsReachable) {
    EXPECT_EQ(api_result{}, (api_result{true, "", 200, "", 0}));

    struct row {
        int code;
        const char* fault;
        const char* message;
        int status;
    };
    const row rows[] = {
        {1, "InternalError", "Internal Error", 500},
        {2, "AccessViolation", "Access violation", 400},
        {3, "InUse", "Resource in use", 400},
        {6, "CannotLoadPluginDLLs", "Can't load plugin DLLs", 400},
        {7, "ErrorInvalidEntity", "Invalid entity", 400},
        {8, "ErrorWritingEntity", "Error writing entity", 400},
        {9, "ErrorReadingEntity", "Error reading entity", 400},
        {10, "BadMagic", "Bad magic number", 400},
        {11, "UnsupportedMIMEType", "Unsupported document type", 400},
        {12, "FilterMismatch", "Document URL doesn't match source filters", 400},
        {15, "BadQuery", "Bad query", 400},
    };
    EXPECT_EQ(api_errors().size(), std::size(rows)); // no rows 4, 5, 13, 14
    for (const row& r : rows) {
        SCOPED_TRACE(r.code);
        api_result res;
        res.set_error(r.code);
        EXPECT_EQ(res, (api_result{false, r.fault, r.status, r.message, r.code}));
        EXPECT_EQ(api_errors().at(r.code), res);
        res.set_ok();
        EXPECT_EQ(res, api_result{});
    }
}

TEST_F(api_db, AccessRuleForUsersGroupsAndAdministrators) {
    struct access_case {
        const char* what;
        std::vector<AccessSpec> acl;
        int access;
        bool granted;
    };
    const access_case cases[] = {
        {"All Users allows reading", {allow("All Users", READACCESS)}, READACCESS, true},
        {"a group of the user allows", {allow("staff", WRITEACCESS)}, WRITEACCESS, true},
        {"allow for the user, then deny for a group",
         {allow("ann", READACCESS), deny("staff", READACCESS)},
         READACCESS,
         false},
        {"deny for a group, then allow for the user",
         {deny("staff", READACCESS), allow("ann", READACCESS)},
         READACCESS,
         false},
        {"deny of the other access kind does not refuse",
         {allow("ann", READACCESS), deny("staff", WRITEACCESS)},
         READACCESS,
         true},
        {"write does not grant read", {allow("ann", WRITEACCESS)}, READACCESS, false},
        {"read does not grant write", {allow("ann", READACCESS)}, WRITEACCESS, false},
        {"other principals only",
         {allow("bob", READACCESS), allow("sales", READACCESS)},
         READACCESS,
         false},
        {"empty list", {}, READACCESS, false},
    };
    const api_context ann = user("ann", {"staff"});
    const api_context root = admin();
    for (const access_case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            api a(ann);
            EXPECT_EQ(a.has_access(c.acl, c.access), c.granted);
            EXPECT_EQ(a.read_only(c.acl), !a.has_access(c.acl, WRITEACCESS));
        }
        api a(root);
        EXPECT_TRUE(a.has_access(c.acl, c.access));
        EXPECT_FALSE(a.read_only(c.acl));
    }
}

TEST_F(api_db, MissingRootAclLetsOnlyAdministratorsCreate) {
    const api_context ann = user("ann", {"staff"});
    {
        api a(ann);
        EXPECT_FALSE(a.has_root_access(ROOTACL_CRAWLING, WRITEACCESS));
        EXPECT_FALSE(a.has_root_access(ROOTACL_BROWSING, READACCESS));
    }
    {
        const api_context root = admin();
        api a(root);
        EXPECT_TRUE(a.has_root_access(ROOTACL_CRAWLING, WRITEACCESS));
    }
    put_root_acl(ROOTACL_CRAWLING, {allow("staff", WRITEACCESS)});
    api a(ann);
    EXPECT_TRUE(a.has_root_access(ROOTACL_CRAWLING, WRITEACCESS));
    EXPECT_FALSE(a.has_root_access(ROOTACL_CRAWLING, READACCESS));
    EXPECT_FALSE(a.has_root_access(ROOTACL_BROWSING, WRITEACCESS));
}

TEST_F(api_db, CallObjectCommitsAfterFailuresAndExceptions) {
    // A second connection that waits for nobody: it gets the database only when the call
    // object's exclusive transaction has ended.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "trawlnest.db").c_str(), &other), SQLITE_OK);
    auto other_can_lock = [&] {
        int rc = sqlite3_exec(other, "begin exclusive transaction", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK) sqlite3_exec(other, "commit transaction", nullptr, nullptr, nullptr);
        return rc == SQLITE_OK;
    };

    {
        const api_context ann = user("ann");
        api a(ann);
        EXPECT_FALSE(other_can_lock()); // the call holds the database while it lives
        api_result res;
        SourceConfiguration cfg;
        std::uint32_t magic = 0;
        a.get_source_configuration(res, 42, cfg, magic);
        EXPECT_EQ(res.code, API_ACCESS_VIOLATION);
    }
    EXPECT_TRUE(other_can_lock());

    // A fault raised by the front end while the call object lives: the transaction is
    // committed as the object is destroyed, with what was written before.
    const api_context root = admin();
    try {
        api a(root);
        api_result res;
        std::int32_t id = 0;
        a.add_auth(res, AuthConfiguration{"u", "p", {}, {}}, id);
        ASSERT_TRUE(res.ok);
        throw std::runtime_error("fault");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(other_can_lock());
    EXPECT_EQ(sql("select id from cfgstorage where key='AuthConfiguration'"), "1\n");
    {
        const api_context ann = user("ann");
        api a(ann); // the storage lock was released too
    }
    sqlite3_close(other);
}

TEST_F(api_db, CallObjectForReadingNeitherTakesNorWaitsForTheWritersLock) {
    ASSERT_EQ(sqlite3_exec(db_, "pragma journal_mode=WAL", nullptr, nullptr, nullptr), SQLITE_OK);
    SourceConfiguration first;
    first.Name = "first";
    put(first);

    // A writer on its own connection and thread holds the storage lock with a source added but
    // not committed, until it is told to finish.
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open((dir_ / "trawlnest.db").c_str(), &other), SQLITE_OK);
    std::promise<void> holding, finish;
    std::thread writer([&] {
        storage_transaction txn(other);
        SourceConfiguration second;
        second.Name = "second";
        std::uint32_t magic = 0;
        cfgstorage<SourceConfiguration>::add(other, second, magic);
        holding.set_value();
        finish.get_future().wait();
    });
    holding.get_future().wait();

    auto names = [](api& a) {
        api_result res;
        std::vector<SourceInfo> infos;
        a.enum_source_configurations(res, infos);
        EXPECT_TRUE(res.ok);
        std::string text;
        for (const SourceInfo& i : infos)
            text += i.Configuration.Name + " ";
        return text;
    };
    // On another thread with a bounded wait: a call that took the lock would never end.
    const api_context root = admin();
    auto read = std::async(std::launch::async, [&] {
        api a(root, api_access::read);
        return names(a);
    });
    if (read.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
        finish.set_value(); // lets the waiting read end, so the test fails instead of hanging
        writer.join();
        sqlite3_close(other);
        FAIL() << "a read waited for the writer";
    }
    EXPECT_EQ(read.get(), "first "); // the uncommitted source is not seen

    // One call object reads one state: the commit in between does not show in it.
    {
        api a(root, api_access::read);
        EXPECT_EQ(names(a), "first ");
        finish.set_value();
        writer.join();
        EXPECT_EQ(names(a), "first ");
    }
    api later(root, api_access::read);
    EXPECT_EQ(names(later), "first second ");
    sqlite3_close(other);
}
