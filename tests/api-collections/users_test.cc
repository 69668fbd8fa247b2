#include "apiops/api-users.h"
#include "apiops2_env.h"

namespace apiops2 {
namespace {

using namespace lumbrake;

class users : public apiops2_test {
protected:
    struct listing {
        std::vector<std::string> users, builtin_users, groups, builtin_groups;
    };
    listing enumerate(const api_context& c, api_result* out = nullptr) {
        listing l;
        api_result r = call(c, [&](auto& a, auto& r) {
            a.enum_users_and_groups(r, l.users, l.builtin_users, l.groups, l.builtin_groups);
        });
        if (out)
            *out = r;
        else
            EXPECT_TRUE(r.ok);
        return l;
    }
    std::string login_text() {
        return sql("select cfg from cfgstorage where key='LoginConfiguration'");
    }
};

TEST_F(users, RootAclGetSetAndMagic) {
    auto root = admin();
    std::vector<AccessSpec> acl = {allow("x", WRITEACCESS)};
    std::uint32_t magic = 12345;
    // Nothing stored yet: an empty list.
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.get_root_acl(r, ROOTACL_CRAWLING, acl, magic); }).ok);
    EXPECT_TRUE(acl.empty());

    const std::vector<AccessSpec> first = {allow("staff", WRITEACCESS), deny("guest", READACCESS)};
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.set_root_acl(r, ROOTACL_CRAWLING, first, magic);
                }).ok);
    std::uint32_t current = 0;
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.get_root_acl(r, ROOTACL_CRAWLING, acl, current);
                }).ok);
    EXPECT_EQ(acl, first);
    // The other list is separate.
    std::vector<AccessSpec> browsing;
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.get_root_acl(r, ROOTACL_BROWSING, browsing, magic);
                }).ok);
    EXPECT_TRUE(browsing.empty());

    const std::vector<AccessSpec> second = {allow("All Users", WRITEACCESS)};
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.set_root_acl(r, ROOTACL_CRAWLING, second, current);
                }).ok);
    // The same, now stale, value: refused, stored list unchanged.
    EXPECT_EQ(
        call(root, [&](auto& a, auto& r) { a.set_root_acl(r, ROOTACL_CRAWLING, first, current); }),
        api_errors().at(API_BAD_MAGIC));
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.get_root_acl(r, ROOTACL_CRAWLING, acl, magic); }).ok);
    EXPECT_EQ(acl, second);

    // Non-administrators, even those the list names, may neither read nor write it.
    auto member = ctx("bob", {"staff"});
    EXPECT_EQ(
        call(member, [&](auto& a, auto& r) { a.get_root_acl(r, ROOTACL_CRAWLING, acl, magic); })
            .code,
        2);
    EXPECT_EQ(
        call(member, [&](auto& a, auto& r) { a.set_root_acl(r, ROOTACL_CRAWLING, {}, magic); })
            .code,
        2);
    // Only the two root lists exist.
    EXPECT_EQ(call(root, [&](auto& a, auto& r) { a.set_root_acl(r, 7, first, magic); }).code, 2);
    EXPECT_EQ(sql("select count(*) from cfgstorage where key='RootACL'"), "1\n");
}

TEST_F(users, GetUserDataForSelfAndAdministrators) {
    write_config("HTTP_USER=master\n");
    auto root = admin();
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.add_user(r, "Bob", "pw", false, {"staff", "ops"});
                }).ok);
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.add_user(r, "carol", "pw", true, {}); }).ok);

    bool is_admin = true;
    std::vector<std::string> groups = {"stale"};
    auto bob = ctx("Bob");
    ASSERT_TRUE(
        call(bob, [&](auto& a, auto& r) { a.get_user_data(r, "Bob", is_admin, groups); }).ok);
    EXPECT_FALSE(is_admin);
    EXPECT_EQ(groups, (std::vector<std::string>{"staff", "ops"}));
    // Another user, or his own name in another case: refused.
    EXPECT_EQ(
        call(bob, [&](auto& a, auto& r) { a.get_user_data(r, "carol", is_admin, groups); }).code,
        2);
    EXPECT_EQ(
        call(bob, [&](auto& a, auto& r) { a.get_user_data(r, "bob", is_admin, groups); }).code, 2);

    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.get_user_data(r, "carol", is_admin, groups); }).ok);
    EXPECT_TRUE(is_admin);
    EXPECT_TRUE(groups.empty());
    // An unknown name: false and empty, success.
    groups = {"stale"};
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.get_user_data(r, "nobody", is_admin, groups); }).ok);
    EXPECT_FALSE(is_admin);
    EXPECT_TRUE(groups.empty());

    // The configured administrator is answered as such whatever the stored record holds.
    LoginConfiguration login;
    std::uint32_t magic = 0;
    storage_transaction txn(db_);
    load_login_configuration(db_, login, magic);
    login.users["master"] = LoginUser{"master", "", false, {"staff"}};
    ASSERT_TRUE(cfgstorage<LoginConfiguration>::set(db_, LOGIN_CONFIGURATION_ID, login, magic));
    txn.commit();
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.get_user_data(r, "master", is_admin, groups); }).ok);
    EXPECT_TRUE(is_admin);
    EXPECT_TRUE(groups.empty());
}

TEST_F(users, NameClashesAreQuietSuccesses) {
    write_config("HTTP_USER=master\n");
    auto root = admin();
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.add_group(r, "staff"); }).ok);
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.add_user(r, "bob", "one", false, {"staff"}); }).ok);
    const std::string before = login_text();
    // A group, a user, the built-in names: each taken, each a success that stores nothing.
    for (const char* name : {"staff", "bob", "Anonymous", "All Users", "master"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(call(root, [&](auto& a, auto& r) { a.add_user(r, name, "two", true, {}); }).ok);
        EXPECT_TRUE(call(root, [&](auto& a, auto& r) { a.add_group(r, name); }).ok);
    }
    // Changes of what does not exist are successes too.
    EXPECT_TRUE(call(root, [&](auto& a, auto& r) { a.remove_user(r, "ghost"); }).ok);
    EXPECT_TRUE(call(root, [&](auto& a, auto& r) { a.remove_group(r, "ghosts"); }).ok);
    EXPECT_TRUE(call(root, [&](auto& a, auto& r) { a.set_user_data(r, "ghost", true, {}); }).ok);
    EXPECT_TRUE(call(root, [&](auto& a, auto& r) { a.set_user_password(r, "ghost", "x"); }).ok);
    EXPECT_EQ(login_text(), before);

    // A name that XML cannot carry is refused, not reported as stored.
    EXPECT_EQ(call(root, [&](auto& a, auto& r) { a.add_group(r, std::string("bad\x02", 4)); }).code,
              API_INVALID_ENTITY);
    EXPECT_EQ(login_text(), before);
}

TEST_F(users, ChangesAreAdministratorsOnly) {
    auto root = admin();
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.add_user(r, "bob", "one", false, {}); }).ok);
    const std::string before = login_text();
    auto bob = ctx("bob");
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.add_user(r, "eve", "x", true, {}); }).code, 2);
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.remove_user(r, "bob"); }).code, 2);
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.set_user_data(r, "bob", true, {}); }).code, 2);
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.set_user_password(r, "BOB", "x"); }).code, 2);
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.add_group(r, "g"); }).code, 2);
    EXPECT_EQ(call(bob, [&](auto& a, auto& r) { a.remove_group(r, "g"); }).code, 2);
    EXPECT_EQ(login_text(), before);
}

TEST_F(users, PasswordIsStoredAsMd5Hex) {
    auto root = admin();
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.add_user(r, "bob", "first secret", false, {"g"});
                }).ok);
    ASSERT_TRUE(
        call(ctx("bob"), [&](auto& a, auto& r) { a.set_user_password(r, "bob", "new pass"); }).ok);
    // md5sum is the independent reference for the stored digits.
    std::string digest = run_command("printf %s 'new pass' | md5sum").substr(0, 32);
    std::string old_digest = run_command("printf %s 'first secret' | md5sum").substr(0, 32);
    const std::string text = login_text();
    EXPECT_NE(text.find("pass=\"" + digest + "\""), std::string::npos) << text;
    EXPECT_EQ(text.find(old_digest), std::string::npos);
    // The rest of the user is kept.
    bool is_admin = true;
    std::vector<std::string> groups;
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.get_user_data(r, "bob", is_admin, groups); }).ok);
    EXPECT_FALSE(is_admin);
    EXPECT_EQ(groups, std::vector<std::string>{"g"});
}

TEST_F(users, SetUserDataAndRemovals) {
    auto root = admin();
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.add_user(r, "bob", "pw", false, {"a"}); }).ok);
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.add_user(r, "alice", "pw", false, {}); }).ok);
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.add_group(r, "b"); }).ok);
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.add_group(r, "a"); }).ok);
    const std::string hash_before = login_text();
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) {
                    a.set_user_data(r, "bob", true, {"b", "a"});
                }).ok);
    bool is_admin = false;
    std::vector<std::string> groups;
    ASSERT_TRUE(
        call(root, [&](auto& a, auto& r) { a.get_user_data(r, "bob", is_admin, groups); }).ok);
    EXPECT_TRUE(is_admin);
    EXPECT_EQ(groups, (std::vector<std::string>{"b", "a"}));
    // The password hash is untouched by a data change.
    const std::string pw = run_command("printf %s pw | md5sum").substr(0, 32);
    EXPECT_NE(login_text().find("name=\"bob\" pass=\"" + pw + "\""), std::string::npos)
        << login_text();

    listing l = enumerate(root);
    EXPECT_EQ(l.users, (std::vector<std::string>{"alice", "bob"}));
    EXPECT_EQ(l.groups, (std::vector<std::string>{"a", "b"}));
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.remove_user(r, "alice"); }).ok);
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.remove_group(r, "b"); }).ok);
    l = enumerate(root);
    EXPECT_EQ(l.users, std::vector<std::string>{"bob"});
    EXPECT_EQ(l.groups, std::vector<std::string>{"a"});
}

TEST_F(users, EnumUsersAndGroups) {
    // HTTP_USER unset: an empty first built-in user.
    auto root = admin();
    listing l = enumerate(root);
    EXPECT_TRUE(l.users.empty());
    EXPECT_TRUE(l.groups.empty());
    EXPECT_EQ(l.builtin_users, (std::vector<std::string>{"", "Anonymous"}));
    EXPECT_EQ(l.builtin_groups, std::vector<std::string>{"All Users"});
    // An unset HTTP_USER makes no administrator of the empty name.
    bool is_admin = true;
    std::vector<std::string> groups;
    ASSERT_TRUE(call(root, [&](auto& a, auto& r) { a.get_user_data(r, "", is_admin, groups); }).ok);
    EXPECT_FALSE(is_admin);

    // Read afresh on every call.
    write_config("HTTP_USER=master\n");
    EXPECT_EQ(enumerate(root).builtin_users, (std::vector<std::string>{"master", "Anonymous"}));

    // Non-administrators need read access on the browsing root ACL.
    api_result r;
    enumerate(ctx("bob"), &r);
    EXPECT_EQ(r.code, 2);
    set_root_acl(ROOTACL_BROWSING, {allow("All Users", READACCESS)});
    enumerate(ctx("bob"), &r);
    EXPECT_TRUE(r.ok);
}

} // namespace
} // namespace apiops2
