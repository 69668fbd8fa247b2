// Source and authentication operations.
#include "api/archive-info.h"
#include "apiops/api-source.h"
#include "apiops_fixture.h"

using namespace apiops_test;

namespace {

SourceConfiguration source(std::vector<std::string> seeds, std::vector<AccessSpec> acl = {}) {
    SourceConfiguration cfg;
    cfg.Name = "intranet";
    cfg.Seeds = std::move(seeds);
    cfg.ACL = std::move(acl);
    return cfg;
}

class sources : public api_db {
protected:
    SourceInfo add(const api_context& c, const SourceConfiguration& cfg, api_result& res) {
        SourceInfo info;
        res = call(c, [&](api& a, api_result& r) { a.add_source(r, cfg, info); });
        return info;
    }
    api_result get(const api_context& c, int id, SourceConfiguration& cfg, std::uint32_t& magic) {
        return call(c,
                    [&](api& a, api_result& r) { a.get_source_configuration(r, id, cfg, magic); });
    }
    std::string stored_sources() const {
        return sql("select id from cfgstorage where key='SourceConfiguration' order by id");
    }
};

} // namespace

TEST_F(sources, AddNormalisesSeedsAndAnswersTheStoredRecord) {
    api_result res;
    const SourceInfo info =
        add(admin(), source({"//WWW.Example.com:80/a/../b#top", "http://www.example.com/c"}), res);
    ASSERT_TRUE(res.ok) << res.message;
    EXPECT_EQ(info.Source, 1);
    EXPECT_EQ(info.Configuration.Seeds,
              (std::vector<std::string>{"http://www.example.com/b", "http://www.example.com/c"}));
    EXPECT_FALSE(info.ReadOnly);

    // The stamp is the CRC-32 of the text the sqlite3 shell reads back.
    const std::string text = sql("select cfg from cfgstorage where key='SourceConfiguration'");
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(info.Magic, cfg_magic(text.substr(0, text.size() - 1)));
    EXPECT_NE(text.find("http://www.example.com/b"), std::string::npos);

    SourceConfiguration cfg;
    std::uint32_t magic = 0;
    ASSERT_TRUE(get(admin(), 1, cfg, magic).ok);
    EXPECT_EQ(cfg, info.Configuration);
    EXPECT_EQ(magic, info.Magic);
}

TEST_F(sources, AddNeedsCrawlingRootWriteAndReadOnEveryNamedDocFilter) {
    const api_context ann = user("ann", {"staff"});
    api_result res;
    add(ann, source({"a.example"}), res); // no root ACL stored
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);

    put_root_acl(ROOTACL_CRAWLING, {allow("staff", WRITEACCESS)});
    DocFilter readable;
    readable.ACL = {allow("All Users", READACCESS)};
    DocFilter secret;
    secret.ACL = {allow("bob", READACCESS)};
    const int f1 = put(readable), f2 = put(secret);

    SourceConfiguration cfg = source({"a.example"});
    cfg.RendererDocFilterIDs = {f1, f2};
    add(ann, cfg, res);
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);
    cfg.RendererDocFilterIDs = {f1, 99}; // a missing filter has an empty list
    add(ann, cfg, res);
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);
    EXPECT_EQ(stored_sources(), "");

    add(admin(), cfg, res); // administrators pass, missing filter or not
    EXPECT_TRUE(res.ok);
    cfg.RendererDocFilterIDs = {f1};
    const SourceInfo info = add(ann, cfg, res);
    EXPECT_TRUE(res.ok);
    EXPECT_EQ(info.Source, 2);
    EXPECT_TRUE(info.ReadOnly); // no write entry on the record's own list
}

TEST_F(sources, SetWithTheLastMagicSucceedsAndAStaleOneChangesNothing) {
    api_result res;
    const api_context ann = user("ann");
    const int id =
        put(source({"http://a.example/"}, {allow("ann", READACCESS), allow("ann", WRITEACCESS)}));
    SourceConfiguration cfg;
    std::uint32_t old_magic = 0;
    ASSERT_TRUE(get(ann, id, cfg, old_magic).ok);

    cfg.Seeds = {"//B.example/x"};
    SourceInfo info;
    res = call(ann, [&](api& a, api_result& r) {
        a.set_source_configuration(r, id, cfg, old_magic, info);
    });
    ASSERT_TRUE(res.ok) << res.message;
    EXPECT_EQ(info.Source, id);
    EXPECT_EQ(info.Configuration.Seeds, std::vector<std::string>{"http://b.example/x"});
    EXPECT_NE(info.Magic, old_magic);
    EXPECT_FALSE(info.ReadOnly);

    SourceConfiguration again = cfg;
    again.Seeds = {"http://c.example/"};
    res = call(ann, [&](api& a, api_result& r) {
        a.set_source_configuration(r, id, again, old_magic, info);
    });
    EXPECT_EQ(res.code, API_BAD_MAGIC);
    std::uint32_t magic = 0;
    ASSERT_TRUE(get(ann, id, cfg, magic).ok);
    EXPECT_EQ(cfg.Seeds, std::vector<std::string>{"http://b.example/x"});

    // Write access is tested on the stored list, not on the one sent.
    again.ACL = {allow("ann", WRITEACCESS), allow("ann", READACCESS)};
    res = call(user("bob"), [&](api& a, api_result& r) {
        a.set_source_configuration(r, id, again, magic, info);
    });
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);
    // A missing record is the same refusal.
    res = call(admin(), [&](api& a, api_result& r) {
        a.set_source_configuration(r, 77, again, magic, info);
    });
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);
}

TEST_F(sources, GetOfANeverAssignedIdAnswersTheRefusalCode) {
    const int id = put(source({"http://a.example/"}, {allow("ann", READACCESS)}));
    SourceConfiguration cfg;
    std::uint32_t magic = 0;
    const api_result missing = get(admin(), id + 1, cfg, magic);
    const api_result refused = get(user("bob"), id, cfg, magic);
    EXPECT_EQ(missing, api_errors().at(API_ACCESS_VIOLATION));
    EXPECT_EQ(refused, missing);
    EXPECT_TRUE(get(user("ann"), id, cfg, magic).ok);
    EXPECT_EQ(cfg.Seeds, std::vector<std::string>{"http://a.example/"});
}

TEST_F(sources, RemoveIsRefusedWhileAnArchiveNamesTheSource) {
    const int id = put(source({"http://a.example/"}, {allow("ann", WRITEACCESS)}));
    ArchiveConfiguration arc;
    arc.Source = id;
    const int arcid = put(arc);

    api_result res = call(user("bob"), [&](api& a, api_result& r) { a.remove_source(r, id); });
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);
    res = call(user("ann"), [&](api& a, api_result& r) { a.remove_source(r, id); });
    EXPECT_EQ(res.code, API_IN_USE);
    EXPECT_EQ(stored_sources(), "1\n");

    erase<ArchiveConfiguration>(arcid);
    res = call(user("ann"), [&](api& a, api_result& r) { a.remove_source(r, id); });
    EXPECT_TRUE(res.ok);
    EXPECT_EQ(stored_sources(), "");
    res = call(admin(), [&](api& a, api_result& r) { a.remove_source(r, id); });
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);
}

TEST_F(sources, EnumAnswersOnlyReadableRecordsInIdOrder) {
    put(source({"http://1.example/"}, {allow("staff", READACCESS)}));
    put(source({"http://2.example/"}, {allow("bob", READACCESS)}));
    put(source({"http://3.example/"}, {allow("All Users", READACCESS), allow("ann", WRITEACCESS)}));

    std::vector<SourceInfo> infos;
    api_result res =
        call(user("carl"), [&](api& a, api_result& r) { a.enum_source_configurations(r, infos); });
    EXPECT_TRUE(res.ok);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].Source, 3);
    EXPECT_TRUE(infos[0].ReadOnly);

    infos.clear();
    call(user("ann", {"staff"}),
         [&](api& a, api_result& r) { a.enum_source_configurations(r, infos); });
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].Source, 1);
    EXPECT_TRUE(infos[0].ReadOnly);
    EXPECT_EQ(infos[1].Source, 3);
    EXPECT_FALSE(infos[1].ReadOnly);
    SourceConfiguration cfg;
    std::uint32_t magic = 0;
    get(admin(), 3, cfg, magic);
    EXPECT_EQ(infos[1].Magic, magic);

    erase<SourceConfiguration>(3);
    infos.clear();
    res = call(user("dora", {"x"}),
               [&](api& a, api_result& r) { a.enum_source_configurations(r, infos); });
    EXPECT_TRUE(res.ok);
    EXPECT_TRUE(infos.empty());
}

TEST_F(sources, AuthenticationRecords) {
    const api_context ann = user("ann");
    AuthConfiguration cfg{"crawler",
                          "s3cret",
                          {{"domain", "corp"}},
                          {allow("ann", READACCESS), allow("ann", WRITEACCESS)}};
    std::int32_t id = 0;
    api_result res = call(ann, [&](api& a, api_result& r) { a.add_auth(r, cfg, id); });
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);
    EXPECT_EQ(id, 0);
    put_root_acl(ROOTACL_CRAWLING, {allow("All Users", WRITEACCESS)});
    res = call(ann, [&](api& a, api_result& r) { a.add_auth(r, cfg, id); });
    ASSERT_TRUE(res.ok);
    EXPECT_EQ(id, 1);

    AuthConfiguration got;
    std::uint32_t magic = 0;
    res = call(ann, [&](api& a, api_result& r) { a.get_auth_configuration(r, id, got, magic); });
    ASSERT_TRUE(res.ok);
    EXPECT_EQ(got, cfg);
    res = call(user("bob"),
               [&](api& a, api_result& r) { a.get_auth_configuration(r, id, got, magic); });
    EXPECT_EQ(res.code, API_ACCESS_VIOLATION);

    // A stale stamp leaves the stored record as it was.
    AuthConfiguration changed = cfg;
    changed.Password = "new";
    res =
        call(ann, [&](api& a, api_result& r) { a.set_auth_configuration(r, id, changed, magic); });
    EXPECT_TRUE(res.ok);
    changed.Password = "newer";
    res =
        call(ann, [&](api& a, api_result& r) { a.set_auth_configuration(r, id, changed, magic); });
    EXPECT_EQ(res.code, API_BAD_MAGIC);
    res = call(ann, [&](api& a, api_result& r) { a.get_auth_configuration(r, id, got, magic); });
    EXPECT_EQ(got.Password, "new");

    ArchiveConfiguration arc;
    arc.Auth = id;
    const int arcid = put(arc);
    res = call(ann, [&](api& a, api_result& r) { a.remove_auth(r, id); });
    EXPECT_EQ(res.code, API_IN_USE);
    erase<ArchiveConfiguration>(arcid);
    res = call(ann, [&](api& a, api_result& r) { a.remove_auth(r, id); });
    EXPECT_TRUE(res.ok);
    EXPECT_EQ(sql("select count(*) from cfgstorage where key='AuthConfiguration'"), "0\n");
}

TEST_F(sources, TextThatXmlCannotCarryIsRefusedNotStored) {
    // A control character has no XML form: the record is refused as an invalid entity rather
    // than reported as a stale stamp or stored half.
    api_result res;
    SourceConfiguration cfg = source({"http://a.example/"});
    cfg.Name = std::string("bad\x01name");
    add(admin(), cfg, res);
    EXPECT_EQ(res.code, API_INVALID_ENTITY);
    EXPECT_EQ(stored_sources(), "");

    const int id = put(source({"http://a.example/"}));
    SourceInfo info;
    res = call(admin(),
               [&](api& a, api_result& r) { a.set_source_configuration(r, id, cfg, 0, info); });
    EXPECT_EQ(res.code, API_INVALID_ENTITY);
}
