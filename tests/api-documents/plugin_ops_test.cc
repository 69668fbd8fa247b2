// Plug-in, document-filter and root renderer-pipe operations, with real plug-in libraries in
// the plug-in folder.
#include "apiops/api-plugin.h"
#include "apiops3_env.h"

#include <algorithm>
#include <fstream>

namespace lumbrake {
namespace {

using apiops3::allow;
using apiops3::daemon_env;
using apiops3::log_capture;

template <class F> api_result call(const api_context& ctx, F f) {
    api a(ctx);
    api_result res;
    f(a, res);
    return res;
}

std::vector<std::string> names(const std::vector<PluginDLLInfo>& dlls) {
    std::vector<std::string> out;
    for (const auto& d : dlls)
        out.push_back(d.Name);
    std::sort(out.begin(), out.end());
    return out;
}

class PluginOpsTest : public ::testing::Test {
protected:
    // "archive" registers as an archive FFF plug-in, "global" and "multiform" as FFF kinds
    // the API lists as unknown; "failing" refuses to register and is never listed.
    daemon_env env{{TN_PLUGIN_ARCHIVE, TN_PLUGIN_GLOBAL, TN_PLUGIN_MULTIFORM, TN_PLUGIN_FAILING}};
    api_context admin = env.context();

    std::int32_t add_plugin(const std::string& name, const std::string& dll,
                            std::vector<AccessSpec> acl = {}) {
        Plugin p;
        p.Name = name;
        p.DLLName = dll;
        p.DLLParameters = "params of " + name;
        p.ACL = std::move(acl);
        std::int32_t id = 0;
        EXPECT_TRUE(call(admin, [&](api& a, api_result& r) { a.add_plugin(r, p, id); }).ok);
        return id;
    }
    std::int32_t add_filter(const std::string& name, std::int32_t plugin,
                            std::vector<AccessSpec> acl = {}) {
        DocFilter f;
        f.Name = name;
        f.PluginID = plugin;
        f.Config = "config of " + name;
        f.ACL = std::move(acl);
        std::int32_t id = 0;
        EXPECT_TRUE(call(admin, [&](api& a, api_result& r) { a.add_doc_filter(r, f, id); }).ok);
        return id;
    }
};

TEST_F(PluginOpsTest, EnumPluginDllsWithAndWithoutTypeFilter) {
    log_capture log;
    std::vector<PluginDLLInfo> dlls;
    ASSERT_TRUE(call(admin, [&](api& a, api_result& r) { a.enum_plugin_dlls(r, {}, dlls); }).ok);
    EXPECT_EQ(names(dlls), (std::vector<std::string>{"archive", "global", "multiform"}));
    EXPECT_TRUE(log.has("Plugindlls loaded"));
    EXPECT_TRUE(log.has("Finished adding plugindlls"));

    // Anyone may list the libraries.
    api_context anon = env.context("Anonymous", false);
    ASSERT_TRUE(call(anon, [&](api& a, api_result& r) {
                    a.enum_plugin_dlls(r, {ARCHIVEFFF_PLUGINTYPE}, dlls);
                }).ok);
    ASSERT_EQ(dlls.size(), 1u);
    EXPECT_EQ(dlls[0].Name, "archive");
    EXPECT_EQ(dlls[0].Type, ARCHIVEFFF_PLUGINTYPE);
    EXPECT_EQ(dlls[0].Description, "A test plug-in");
    EXPECT_TRUE(log.has("Skipped plugindll global"));
    EXPECT_TRUE(log.has("Added plugindll archive"));

    call(anon, [&](api& a, api_result& r) { a.enum_plugin_dlls(r, {UNKNOWN_PLUGINTYPE}, dlls); });
    EXPECT_EQ(names(dlls), (std::vector<std::string>{"global", "multiform"}));
}

TEST_F(PluginOpsTest, NoDeployDirListsNothing) {
    const std::string file = (env.root() / "nodeploy.cfg").string();
    std::ofstream(file) << "OTHER=1\n";
    config empty(file.c_str());
    EXPECT_TRUE(plugin_dll_descriptions(empty, nullptr, "Plugins loaded").empty());
}

TEST_F(PluginOpsTest, GetSetAndRemovePlugin) {
    const std::int32_t id = add_plugin("A", "archive");
    const std::int32_t lost = add_plugin("Lost", "not-installed");
    EXPECT_EQ(id, 1);
    EXPECT_EQ(lost, 2);

    Plugin got;
    std::uint32_t magic = 0;
    ASSERT_TRUE(call(admin, [&](api& a, api_result& r) { a.get_plugin(r, id, got, magic); }).ok);
    EXPECT_EQ(got.Type, ARCHIVEFFF_PLUGINTYPE);
    EXPECT_EQ(got.DLLParameters, "params of A");
    EXPECT_NE(magic, 0u);

    // A plug-in whose library is not installed reads with type unknown.
    Plugin lost_rec;
    lost_rec.Type = ARCHIVEFFF_PLUGINTYPE;
    std::uint32_t lost_magic = 0;
    ASSERT_TRUE(call(admin, [&](api& a, api_result& r) {
                    a.get_plugin(r, lost, lost_rec, lost_magic);
                }).ok);
    EXPECT_EQ(lost_rec.Type, UNKNOWN_PLUGINTYPE);
    EXPECT_EQ(lost_rec.Name, "Lost");

    // Set with the magic read succeeds; again with the same (now stale) magic is refused.
    Plugin changed = got;
    changed.Description = "changed";
    EXPECT_TRUE(
        call(admin, [&](api& a, api_result& r) { a.set_plugin(r, id, changed, magic); }).ok);
    changed.Description = "lost update";
    api_result stale =
        call(admin, [&](api& a, api_result& r) { a.set_plugin(r, id, changed, magic); });
    EXPECT_EQ(stale.code, API_BAD_MAGIC);
    EXPECT_EQ(stale.fault, "BadMagic");
    call(admin, [&](api& a, api_result& r) { a.get_plugin(r, id, got, magic); });
    EXPECT_EQ(got.Description, "changed");

    // Missing ids answer an access violation, for every operation.
    EXPECT_EQ(call(admin, [&](api& a, api_result& r) { a.get_plugin(r, 99, got, magic); }).code,
              API_ACCESS_VIOLATION);
    EXPECT_EQ(call(admin, [&](api& a, api_result& r) { a.set_plugin(r, 99, got, magic); }).code,
              API_ACCESS_VIOLATION);
    EXPECT_EQ(call(admin, [&](api& a, api_result& r) { a.remove_plugin(r, 99); }).code,
              API_ACCESS_VIOLATION);
    // Set never creates a record.
    EXPECT_TRUE(env.column("select id from cfgstorage where key='Plugin' and id=99").empty());

    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) { a.remove_plugin(r, id); }).ok);
    EXPECT_EQ(call(admin, [&](api& a, api_result& r) { a.get_plugin(r, id, got, magic); }).code,
              API_ACCESS_VIOLATION);
    // Ids are never reused.
    EXPECT_EQ(add_plugin("B", "archive"), 3);
}

TEST_F(PluginOpsTest, EnumPluginsFiltersByTypeAndHidesParameters) {
    add_plugin("A", "archive");
    add_plugin("G", "global");
    add_plugin("Lost", "not-installed");

    log_capture log;
    std::vector<PluginInfo> infos;
    ASSERT_TRUE(
        call(admin, [&](api& a, api_result& r) { a.enum_plugins(r, {}, false, infos); }).ok);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].PluginID, 1);
    EXPECT_EQ(infos[0].Type, ARCHIVEFFF_PLUGINTYPE);
    EXPECT_EQ(infos[0].PluginConfiguration.Name, "A");
    EXPECT_EQ(infos[0].PluginConfiguration.DLLParameters, "");
    EXPECT_FALSE(infos[0].ReadOnly);
    EXPECT_EQ(infos[1].PluginID, 2);
    EXPECT_EQ(infos[1].Type, UNKNOWN_PLUGINTYPE);
    EXPECT_TRUE(log.has("Skipped plugin Lost (cannot find plugin DLL not-installed)"));

    // Magic is the stored one: a Set with it succeeds.
    std::uint32_t magic = infos[0].Magic;
    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) {
                    a.set_plugin(r, 1, infos[0].PluginConfiguration, magic);
                }).ok);

    ASSERT_TRUE(call(admin, [&](api& a, api_result& r) {
                    a.enum_plugins(r, {ARCHIVEFFF_PLUGINTYPE}, true, infos);
                }).ok);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].PluginConfiguration.Name, "A");
    // The full record this time; but the Set above stored the emptied parameters.
    EXPECT_EQ(infos[0].PluginConfiguration.DLLParameters, "");
    // The other type's plug-in is logged at ERROR as a missing library.
    const std::string text = log.text();
    const auto line = text.find("Skipped plugin G (cannot find plugin DLL global)");
    ASSERT_NE(line, std::string::npos);
    EXPECT_NE(text.rfind("ERROR", line), std::string::npos);

    ASSERT_TRUE(call(admin, [&](api& a, api_result& r) { a.enum_plugins(r, {}, true, infos); }).ok);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[1].PluginConfiguration.DLLParameters, "params of G");
}

TEST_F(PluginOpsTest, AccessOfNonAdministrators) {
    api_context user = env.context("joe", false, {"staff"});
    Plugin p;
    p.Name = "mine";
    p.DLLName = "archive";
    std::int32_t id = 7;
    // No crawling root ACL yet: only administrators may add.
    api_result refused = call(user, [&](api& a, api_result& r) { a.add_plugin(r, p, id); });
    EXPECT_EQ(refused.code, API_ACCESS_VIOLATION);
    EXPECT_EQ(id, 0);
    DocFilter f;
    EXPECT_EQ(call(user, [&](api& a, api_result& r) { a.add_doc_filter(r, f, id); }).code,
              API_ACCESS_VIOLATION);
    EXPECT_TRUE(
        env.column("select id from cfgstorage where key in ('Plugin','DocFilter')").empty());

    // A write grant on the crawling root ACL through a group lets the user add.
    {
        RootACL root{allow("staff", WRITEACCESS)};
        std::uint32_t m = 0;
        ASSERT_TRUE(cfgstorage<RootACL>::set(env.db(), ROOTACL_CRAWLING, root, m));
    }
    ASSERT_TRUE(call(user, [&](api& a, api_result& r) { a.add_plugin(r, p, id); }).ok);
    EXPECT_EQ(id, 1);

    // Readable by all, writable by nobody: listed read-only, not changeable nor removable.
    const std::int32_t shown = add_plugin("shown", "archive", {allow("All Users", READACCESS)});
    const std::int32_t hidden = add_plugin("hidden", "archive", {allow("other", READACCESS)});
    std::vector<PluginInfo> infos;
    log_capture log;
    ASSERT_TRUE(call(user, [&](api& a, api_result& r) { a.enum_plugins(r, {}, true, infos); }).ok);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].PluginID, shown);
    EXPECT_TRUE(infos[0].ReadOnly);
    EXPECT_TRUE(log.has("Skipping plugin mine due to ACL"));
    EXPECT_TRUE(log.has("Skipping plugin hidden due to ACL"));

    Plugin got;
    std::uint32_t magic = 0;
    EXPECT_TRUE(call(user, [&](api& a, api_result& r) { a.get_plugin(r, shown, got, magic); }).ok);
    EXPECT_EQ(call(user, [&](api& a, api_result& r) { a.get_plugin(r, hidden, got, magic); }).code,
              API_ACCESS_VIOLATION);
    EXPECT_EQ(call(user, [&](api& a, api_result& r) { a.set_plugin(r, shown, got, magic); }).code,
              API_ACCESS_VIOLATION);
    EXPECT_EQ(call(user, [&](api& a, api_result& r) { a.remove_plugin(r, shown); }).code,
              API_ACCESS_VIOLATION);
    // The stored record's ACL decides, not the one sent.
    got.ACL = {allow("joe", WRITEACCESS)};
    EXPECT_EQ(call(user, [&](api& a, api_result& r) { a.set_plugin(r, shown, got, magic); }).code,
              API_ACCESS_VIOLATION);
}

TEST_F(PluginOpsTest, DocFilters) {
    const std::int32_t plugin = add_plugin("A", "archive");
    const std::int32_t gplugin = add_plugin("G", "global");
    const std::int32_t f1 = add_filter("F1", plugin);
    const std::int32_t f2 = add_filter("F2", gplugin);
    const std::int32_t orphan = add_filter("orphan", 42);

    DocFilter got;
    std::uint32_t magic = 0;
    ASSERT_TRUE(
        call(admin, [&](api& a, api_result& r) { a.get_doc_filter(r, f1, got, magic); }).ok);
    EXPECT_EQ(got.Type, ARCHIVEFFF_PLUGINTYPE);
    EXPECT_EQ(got.Config, "config of F1");
    EXPECT_EQ(
        call(admin, [&](api& a, api_result& r) { a.get_doc_filter(r, orphan, got, magic); }).code,
        API_ACCESS_VIOLATION);

    log_capture log;
    std::vector<DocFilterInfo> infos;
    ASSERT_TRUE(
        call(admin, [&](api& a, api_result& r) { a.enum_doc_filters(r, {}, false, infos); }).ok);
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].DocFilterID, f1);
    EXPECT_EQ(infos[0].Type, ARCHIVEFFF_PLUGINTYPE);
    EXPECT_EQ(infos[0].DocFilterConfiguration.Config, "");
    EXPECT_EQ(infos[1].DocFilterID, f2);
    EXPECT_EQ(infos[1].Type, UNKNOWN_PLUGINTYPE);
    EXPECT_TRUE(log.has("Skipping plugin 42 ???"));

    ASSERT_TRUE(call(admin, [&](api& a, api_result& r) {
                    a.enum_doc_filters(r, {ARCHIVEFFF_PLUGINTYPE}, true, infos);
                }).ok);
    ASSERT_EQ(infos.size(), 1u);
    EXPECT_EQ(infos[0].DocFilterConfiguration.Config, "config of F1");
    EXPECT_TRUE(log.has("Skipping pluginDLL global maybe due to type"));

    // Set with the stored magic, then stale.
    got.Name = "F1b";
    std::uint32_t m1 = infos[0].Magic;
    DocFilter f1rec = infos[0].DocFilterConfiguration;
    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) { a.set_doc_filter(r, f1, f1rec, m1); }).ok);
    EXPECT_EQ(
        call(admin, [&](api& a, api_result& r) { a.set_doc_filter(r, f1, f1rec, m1 + 1); }).code,
        API_BAD_MAGIC);

    // Removing a plug-in that a filter names succeeds; the filter then cannot be read.
    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) { a.remove_plugin(r, gplugin); }).ok);
    EXPECT_EQ(call(admin, [&](api& a, api_result& r) { a.get_doc_filter(r, f2, got, magic); }).code,
              API_ACCESS_VIOLATION);
}

TEST_F(PluginOpsTest, DocFilterReadNeedsThePluginReadableToo) {
    const std::int32_t plugin = add_plugin("A", "archive", {allow("other", READACCESS)});
    const std::int32_t f = add_filter("F", plugin, {allow("All Users", READACCESS)});
    api_context user = env.context("joe", false);
    DocFilter got;
    std::uint32_t magic = 0;
    EXPECT_EQ(call(user, [&](api& a, api_result& r) { a.get_doc_filter(r, f, got, magic); }).code,
              API_ACCESS_VIOLATION);
    std::vector<DocFilterInfo> infos;
    EXPECT_TRUE(
        call(user, [&](api& a, api_result& r) { a.enum_doc_filters(r, {}, true, infos); }).ok);
    EXPECT_TRUE(infos.empty());
}

TEST_F(PluginOpsTest, RemoveDocFilterInUse) {
    const std::int32_t plugin = add_plugin("A", "archive");
    const std::int32_t by_pipe = add_filter("piped", plugin);
    const std::int32_t by_source = add_filter("sourced", plugin);
    const std::int32_t unused = add_filter("unused", plugin);

    std::uint32_t magic = 0;
    ASSERT_TRUE(call(admin, [&](api& a, api_result& r) {
                    a.set_root_renderer_pipe(r, {by_pipe}, magic);
                }).ok);
    {
        SourceConfiguration s1, s2;
        s1.Name = "plain";
        s2.Name = "filtered";
        s2.RendererDocFilterIDs = {99, by_source};
        std::uint32_t m = 0;
        ASSERT_NE(cfgstorage<SourceConfiguration>::add(env.db(), s1, m), 0);
        ASSERT_NE(cfgstorage<SourceConfiguration>::add(env.db(), s2, m), 0);
    }
    for (std::int32_t id : {by_pipe, by_source}) {
        api_result r = call(admin, [&](api& a, api_result& res) { a.remove_doc_filter(res, id); });
        EXPECT_EQ(r.code, API_IN_USE) << id;
        EXPECT_EQ(r.fault, "InUse");
        EXPECT_EQ(env.column("select id from cfgstorage where key='DocFilter' and id=" +
                             std::to_string(id))
                      .size(),
                  1u);
    }
    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) { a.remove_doc_filter(r, unused); }).ok);
    EXPECT_EQ(call(admin, [&](api& a, api_result& r) { a.remove_doc_filter(r, unused); }).code,
              API_ACCESS_VIOLATION);
}

TEST_F(PluginOpsTest, RootRendererPipe) {
    std::vector<std::int32_t> ids{5};
    std::uint32_t magic = 77;
    // Fresh store: an empty pipe and success.
    ASSERT_TRUE(
        call(admin, [&](api& a, api_result& r) { a.get_root_renderer_pipe(r, ids, magic); }).ok);
    EXPECT_TRUE(ids.empty());

    api_context user = env.context("joe", false);
    EXPECT_EQ(
        call(user, [&](api& a, api_result& r) { a.get_root_renderer_pipe(r, ids, magic); }).code,
        API_ACCESS_VIOLATION);
    EXPECT_EQ(call(user, [&](api& a, api_result& r) { a.set_root_renderer_pipe(r, {1}, 0); }).code,
              API_ACCESS_VIOLATION);

    ASSERT_TRUE(call(admin, [&](api& a, api_result& r) {
                    a.set_root_renderer_pipe(r, {3, 1, 2}, magic);
                }).ok);
    std::uint32_t read_magic = 0;
    ASSERT_TRUE(call(admin, [&](api& a, api_result& r) {
                    a.get_root_renderer_pipe(r, ids, read_magic);
                }).ok);
    EXPECT_EQ(ids, (std::vector<std::int32_t>{3, 1, 2}));
    EXPECT_EQ(env.column("select id from cfgstorage where key='RendererPluginPipe'"),
              std::vector<std::string>{"0"});

    // A stale magic is reported as a write error and changes nothing.
    api_result stale = call(
        admin, [&](api& a, api_result& r) { a.set_root_renderer_pipe(r, {9}, read_magic + 1); });
    EXPECT_EQ(stale.code, API_ERROR_WRITING_ENTITY);
    EXPECT_TRUE(call(admin, [&](api& a, api_result& r) {
                    a.set_root_renderer_pipe(r, {}, read_magic);
                }).ok);
}

TEST_F(PluginOpsTest, RootPipeMissingWhileOtherPipesExist) {
    RendererPluginPipe other{{4}};
    std::uint32_t m = 0;
    ASSERT_TRUE(cfgstorage<RendererPluginPipe>::set(env.db(), 3, other, m));
    std::vector<std::int32_t> ids;
    std::uint32_t magic = 0;
    api_result r =
        call(admin, [&](api& a, api_result& res) { a.get_root_renderer_pipe(res, ids, magic); });
    EXPECT_EQ(r.code, API_ERROR_READING_ENTITY);
    EXPECT_EQ(r.message, "Error reading entity");
}

} // namespace
} // namespace lumbrake
