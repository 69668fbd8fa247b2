#include "api/acl.h"
#include "api/login.h"
#include "log_capture.h"
#include "util/md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <fstream>

using namespace lumbrake;

namespace {

const std::vector<std::string> none;
const std::vector<std::string> staff{"staff"};

// Points the registry environment at a configuration file with the given body.
class config_file {
public:
    explicit config_file(const std::string& body) {
        // Per process: the test programs of two build folders may run at the same time.
        std::string dir = testing::TempDir() + "records2-" + std::to_string(getpid()) + "-";
        conf_ = dir + "trawlnest.conf";
        env_ = dir + "environment";
        const std::string& conf = conf_;
        const std::string& env = env_;
        std::ofstream(conf) << body;
        std::ofstream(env) << "LUMBRAKE_CONFIG_FILE=" << conf << "\n";
        setenv("LUMBRAKE_ENV_STORE", env.c_str(), 1);
    }
    ~config_file() {
        unsetenv("LUMBRAKE_ENV_STORE");
        std::remove(conf_.c_str());
        std::remove(env_.c_str());
    }

private:
    std::string conf_, env_;
};

LoginConfiguration read_login(const std::string& text) {
    LoginConfiguration l;
    EXPECT_TRUE(login_from_xml(text.data(), text.size(), l)) << text;
    return l;
}

} // namespace

TEST(CheckAcl, DecisionTable) {
    const std::vector<AccessSpec> staff_but_bob{{"staff", READACCESS, false},
                                                {"bob", READACCESS, true}};
    const std::vector<AccessSpec> deny_all_first{{"All Users", READACCESS, true},
                                                 {"alice", READACCESS, false}};
    const std::vector<AccessSpec> all_write{{"All Users", WRITEACCESS, false}};
    const std::vector<AccessSpec> repeated_groups{{"g", READACCESS, false}};
    const std::vector<AccessSpec> case_differs{{"Alice", READACCESS, false},
                                               {"all users", READACCESS, false}};
    const std::vector<AccessSpec> empty;
    struct row {
        const char* user;
        const std::vector<std::string>& groups;
        const std::vector<AccessSpec>& acl;
        int access;
        bool granted;
    };
    const std::vector<std::string> g_twice{"g", "g"};
    const row rows[] = {
        {"bob", staff, staff_but_bob, READACCESS, false}, // deny after the allow still wins
        {"alice", staff, staff_but_bob, READACCESS, true},
        {"alice", staff, staff_but_bob, WRITEACCESS, false},
        {"carol", none, staff_but_bob, READACCESS, false},
        {"alice", none, deny_all_first, READACCESS, false},
        {"alice", none, all_write, WRITEACCESS, true},
        {"Anonymous", none, all_write, WRITEACCESS, true},
        {"Anonymous", none, all_write, READACCESS, false},
        {"x", g_twice, repeated_groups, READACCESS, true},
        {"alice", none, case_differs, READACCESS, false},
        {"alice", staff, empty, READACCESS, false},
        {"alice", staff, staff_but_bob, 2, false}, // no such access kind
    };
    for (const row& r : rows)
        EXPECT_EQ(check_acl(r.user, r.groups, r.acl, r.access), r.granted)
            << r.user << " access " << r.access;
}

TEST(RootAcl, GoldenFormAndUnknownValues) {
    RootACL acl{{"All Users", READACCESS, false}, {"guests", WRITEACCESS, true}};
    std::string xml;
    ASSERT_TRUE(acl_to_xml(acl, xml));
    EXPECT_EQ(xml, data_file("rootacl.xml"));
    RootACL back{{"stale", READACCESS, false}};
    ASSERT_TRUE(acl_from_xml(xml.data(), xml.size(), back));
    EXPECT_EQ(back, acl);

    log_capture log;
    const std::string text = "<root><entry name='a' access='Write' deny='false'/>"
                             "<entry name='b' access='read' deny='no'/>"
                             "<acl name='c' access='read' deny='false'/>"
                             "<entry name='d' access='write' deny='true'/></root>";
    ASSERT_TRUE(acl_from_xml(text.data(), text.size(), back));
    EXPECT_EQ(back, (RootACL{{"d", WRITEACCESS, true}}));
    std::string lines = log.text();
    EXPECT_NE(lines.find("Unknown access type Write\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("Unknown ACL deny value no\n"), std::string::npos) << lines;

    RootACL empty;
    ASSERT_TRUE(acl_to_xml(empty, xml));
    EXPECT_EQ(xml, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<acl>\n</acl>\n");
}

TEST(Login, GoldenFormRoundTripAndHashesKept) {
    config_file cfg("HTTP_USER=admin\n");
    LoginConfiguration l = read_login(data_file("login.xml"));
    std::vector<std::string> names;
    l.user_names(names);
    EXPECT_EQ(names, (std::vector<std::string>{"alice", "bob & co"}));
    l.group_names(names);
    EXPECT_EQ(names, (std::vector<std::string>{"editors", "staff"}));

    LoginUser alice;
    ASSERT_TRUE(l.get_user("alice", alice));
    EXPECT_EQ(alice.name, "alice");
    EXPECT_EQ(alice.password_hash, md5_hex("a")); // read as stored, not hashed again
    EXPECT_FALSE(alice.admin);
    EXPECT_EQ(alice.groups, (std::vector<std::string>{"staff", "gone"}));
    LoginUser bob;
    ASSERT_TRUE(l.get_user("bob & co", bob));
    EXPECT_TRUE(bob.admin);
    EXPECT_TRUE(bob.groups.empty());

    std::string xml;
    ASSERT_TRUE(login_to_xml(l, xml));
    EXPECT_EQ(xml, data_file("login.xml"));
    EXPECT_EQ(l.builtin_names, (std::set<std::string>{"All Users", "Anonymous", "admin"}));
}

TEST(Login, ReaderTakesTheTextAsItStands) {
    config_file cfg("");
    LoginConfiguration l = read_login("<login>"
                                      "<user name='u' pass='first' admin='TRUE'/>"
                                      "<user name='u' pass='second' admin='true'>"
                                      "<member group='nowhere'/></user>"
                                      "<user name='Anonymous' pass=''/>"
                                      "<group name='u'/>"
                                      "</login>");
    LoginUser u;
    ASSERT_TRUE(l.get_user("u", u));
    EXPECT_EQ(u.password_hash, "second"); // the later element replaces the earlier
    EXPECT_TRUE(u.admin);
    EXPECT_EQ(u.groups, (std::vector<std::string>{"nowhere"}));
    EXPECT_TRUE(l.get_user("Anonymous", u)); // no name rules on reading
    EXPECT_EQ(l.groups.count("u"), 1u);

    LoginConfiguration bad;
    bad.groups.insert("stale");
    EXPECT_FALSE(login_from_xml("<login><group name='g'/>", 24, bad));
    EXPECT_EQ(bad.groups, (std::set<std::string>{"g"}));
}

TEST(Login, AddUserAndGroupRefuseTakenNames) {
    config_file cfg("HTTP_USER=root\n");
    LoginConfiguration l = read_login(data_file("login.xml"));
    const std::string taken[] = {"All Users", "Anonymous", "root", "alice", "staff", "editors"};
    for (const std::string& name : taken) {
        LoginConfiguration before = l;
        EXPECT_FALSE(l.add_user(name, "pw", false, {})) << name;
        EXPECT_FALSE(l.add_group(name)) << name;
        EXPECT_EQ(l.users, before.users) << name;
        EXPECT_EQ(l.groups, before.groups) << name;
    }
    EXPECT_TRUE(l.add_user("", "pw", false, {})); // only the HTTP_USER name is reserved

    ASSERT_TRUE(l.add_user("carol", "s3cret", true, {"editors", "nogroup"}));
    LoginUser carol;
    ASSERT_TRUE(l.get_user("carol", carol));
    EXPECT_EQ(carol.password_hash, md5_hex("s3cret"));
    EXPECT_EQ(carol.password_hash, "33e1b232a4e6fa0028a6670753749a17");
    EXPECT_TRUE(carol.admin);
    EXPECT_EQ(carol.groups, (std::vector<std::string>{"editors", "nogroup"}));
    EXPECT_FALSE(l.add_group("carol"));
    EXPECT_TRUE(l.add_group("reviewers"));

    // The written hash reads back unchanged.
    std::string xml;
    ASSERT_TRUE(login_to_xml(l, xml));
    EXPECT_NE(xml.find("<user name=\"carol\" pass=\"33e1b232a4e6fa0028a6670753749a17\" "
                       "hash=\"md5\" admin=\"true\">"),
              std::string::npos);
    LoginConfiguration back = read_login(xml);
    ASSERT_TRUE(back.get_user("carol", carol));
    EXPECT_EQ(carol.password_hash, md5_hex("s3cret"));
}

TEST(Login, WithoutHttpUserTheEmptyNameIsReserved) {
    config_file cfg("OTHER=1\n");
    LoginConfiguration l = read_login("<login/>");
    EXPECT_FALSE(l.add_user("", "pw", false, {}));
    EXPECT_FALSE(l.add_group(""));
    EXPECT_TRUE(l.add_user("dave", "", false, {}));
    LoginUser dave;
    ASSERT_TRUE(l.get_user("dave", dave));
    EXPECT_EQ(dave.password_hash, "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(Login, ChangeAndRemove) {
    config_file cfg("HTTP_USER=admin\n");
    LoginConfiguration l = read_login(data_file("login.xml"));

    LoginUser u;
    u.name = "alice";
    u.password_hash = "not-a-hash"; // copied as given
    u.admin = true;
    u.groups = {"editors"};
    ASSERT_TRUE(l.set_user(u));
    LoginUser got;
    ASSERT_TRUE(l.get_user("alice", got));
    EXPECT_EQ(got, u);
    got.set_password("a");
    EXPECT_EQ(got.password_hash, "0cc175b9c0f1b6a831c399e269772661");

    u.name = "nobody";
    EXPECT_FALSE(l.set_user(u));
    EXPECT_FALSE(l.get_user("nobody", got));
    EXPECT_EQ(got.name, "alice"); // untouched on failure
    EXPECT_EQ(l.users.count("nobody"), 0u);

    // Removing a group leaves the member lists alone; check_acl still counts the name.
    ASSERT_TRUE(l.remove_group("editors"));
    EXPECT_FALSE(l.remove_group("editors"));
    ASSERT_TRUE(l.get_user("alice", got));
    EXPECT_EQ(got.groups, (std::vector<std::string>{"editors"}));
    EXPECT_TRUE(check_acl(got.name, got.groups, {{"editors", READACCESS, false}}, READACCESS));

    EXPECT_TRUE(l.remove_user("alice"));
    EXPECT_FALSE(l.remove_user("alice"));
    EXPECT_TRUE(l.add_user("alice", "new", false, {})); // the name is free again
}
