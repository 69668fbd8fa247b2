#include "api/plugintypes.h"
#include "plugin-system/plugins_loader.h"

#include "plugin_test_support.h"

#include <cstdlib>
#include <cstring>
#include <fstream>

using namespace lumbrake;
using plugin_test::log_capture;
using plugin_test::make_deployment;
using plugin_test::plugin_dir;

namespace {

std::vector<PluginDLLInfo> list_plugins(plugins_loader_base& loader) {
    loader.load_plugins();
    std::vector<PluginDLLInfo> out;
    loader.activate_plugins(out);
    return out;
}

} // namespace

TEST(PluginHost, ListsValidPluginsWithTheirApiTypes) {
    std::string cfg_file = make_deployment("listing", {{"archive", "a-archive.so"},
                                                       {"global", "b-global.so"},
                                                       {"multiform", "c-multiform.so"},
                                                       {"typeone", "d-typeone.so"},
                                                       {"failing", "e-failing.so"},
                                                       {"nodestroy", "f-nodestroy.so"},
                                                       {"garbagetype", "g-garbage.so"},
                                                       {"nosymbol", "h-nosymbol.so"}});
    std::ofstream(plugin_dir("listing") + "/i-text.so") << "not a shared object\n";
    const std::string dir = plugin_dir("listing");
    config cfg(cfg_file.c_str());
    log_capture log;
    std::vector<PluginDLLInfo> listed;
    {
        fff_plugins_loader loader(false, cfg);
        listed = list_plugins(loader);
        EXPECT_TRUE(loader.ready());
        EXPECT_EQ(loader.plugin_directory(), dir);
    }

    ASSERT_EQ(listed.size(), 3u);
    EXPECT_EQ(listed[0].Name, "archive");
    EXPECT_EQ(listed[0].Type, ARCHIVEFFF_PLUGINTYPE);
    EXPECT_EQ(listed[0].Description, "A test plug-in");
    EXPECT_EQ(listed[1].Name, "global");
    EXPECT_EQ(listed[1].Type, UNKNOWN_PLUGINTYPE);
    EXPECT_EQ(listed[2].Name, "multiform");
    EXPECT_EQ(listed[2].Type, UNKNOWN_PLUGINTYPE);

    EXPECT_TRUE(log.has("Loading plugins from " + dir));
    EXPECT_TRUE(log.has("Error 5 while loading plugin dll " + dir + "/e-failing.so"));
    EXPECT_TRUE(log.has("Invalid plugin type 1 for plugin dll '" + dir + "/d-typeone.so"));
    EXPECT_TRUE(log.has("Invalid plugin type -123456 for plugin dll '" + dir + "/g-garbage.so"));
    EXPECT_EQ(log.count("Invalid regdata.config_destroy for plugin dll 'nodestroy'"), 1);
    EXPECT_EQ(log.count("Invalid regdata."), 1);
    EXPECT_TRUE(log.has("Plugin nodestroy: unregister called"));
    EXPECT_TRUE(log.has("Error loading plugin: DLL " + dir +
                        "/h-nosymbol.so doesn't export lumbrake_plugin_registration"));
    EXPECT_TRUE(log.has("Error loading plugin dll " + dir + "/h-nosymbol.so"));
    // The dynamic loader's own text for a file that is no shared object.
    EXPECT_TRUE(log.has("Error loading plugin: " + dir + "/i-text.so")) << log.text();
    // Every plug-in that registered without error is let go of again.
    for (const char* name : {"archive", "global", "multiform", "typeone", "garbage", "nodestroy"})
        EXPECT_TRUE(log.has(std::string("Plugin ") + name + ": unregister called")) << name;
    EXPECT_TRUE(log.has("Plugins destroyed"));
}

TEST(PluginHost, BaseLoaderAcceptsEveryType) {
    std::string cfg_file = make_deployment("basetypes", {{"typeone", "typeone.so"}});
    config cfg(cfg_file.c_str());
    log_capture log;
    pipelined_plugins_loader_base loader(false, cfg);
    std::vector<PluginDLLInfo> listed = list_plugins(loader);
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].Name, "typeone");
    EXPECT_EQ(listed[0].Type, UNKNOWN_PLUGINTYPE);
    EXPECT_TRUE(log.errors().empty()) << log.text();
}

TEST(PluginHost, EmptyFolderListsNothingAndLogsNoError) {
    std::string cfg_file = make_deployment("empty", {});
    config cfg(cfg_file.c_str());
    log_capture log;
    {
        fff_plugins_loader loader(false, cfg);
        EXPECT_TRUE(list_plugins(loader).empty());
    }
    EXPECT_TRUE(log.errors().empty()) << log.text();
}

TEST(PluginHost, MissingDeployDirLoadsNothing) {
    // A configuration file without DEPLOYDIR.
    std::string cfg_file = make_deployment("nodeploy", {});
    std::ofstream(cfg_file) << "LOGCFG=LOG:INFO\n";
    config cfg(cfg_file.c_str());
    log_capture log;
    fff_plugins_loader loader(false, cfg);
    EXPECT_TRUE(list_plugins(loader).empty());
    EXPECT_FALSE(loader.ready());
    EXPECT_TRUE(log.has("DEPLOYDIR not defined in config file"));
    EXPECT_FALSE(log.has("Loading plugins from"));
    std::string path;
    EXPECT_FALSE(loader.find_plugin_dll("archive", path));
    EXPECT_FALSE(loader.register_plugin(1, "archive", ""));
}

TEST(PluginHost, LogServicesNameThePlugin) {
    config cfg(make_deployment("logservices", {}).c_str());
    log_capture log;
    fff_plugins_loader loader(false, cfg);
    loader.load_plugins();
    lumbrake_plugins_api* api = loader.api();
    ASSERT_NE(api, nullptr);
    lumbrake_plugin_regdata reg{};
    reg.name = "mine";
    api->log_error(api, &reg, "broken");
    api->log_info(api, &reg, "note");
    api->log_debug(api, nullptr, nullptr);
    EXPECT_TRUE(log.has("ERROR [src/plugin-system/services.cc"));
    EXPECT_TRUE(log.has("] Plugin mine: broken"));
    EXPECT_TRUE(log.has("INFO  [src/plugin-system/services.cc"));
    EXPECT_TRUE(log.has("] Plugin mine: note"));
    // The element stream is offered only while plug-ins run on a document.
    EXPECT_EQ(api->count, nullptr);
    EXPECT_EQ(static_cast<void*>(api->host), static_cast<void*>(&loader));
}

TEST(PluginServices, TextServices) {
    config cfg(make_deployment("textservices", {}).c_str());
    log_capture log;
    fff_plugins_loader loader(false, cfg);
    loader.load_plugins();
    lumbrake_plugins_api* api = loader.api();

    struct compare_case {
        const char* a;
        const char* b;
        int returns;
        int result; // 9: untouched
    } compares[] = {
        {"ABC", "abc", 1, 0},        {"a", "B", 1, -1},    {"b", "A", 1, 1},
        {"Straße", "STRASSE", 1, 0}, {"é", "z", 1, 1}, // unsigned bytes: é sorts after z
        {"ab", "abc", 1, -1},        {"x\xff", "x", 0, 9}, {"x", "\xc3", 0, 9},
    };
    for (const compare_case& c : compares) {
        int result = 9;
        EXPECT_EQ(api->compare_nocase(api, &result, c.a, c.b), c.returns) << c.a << " " << c.b;
        EXPECT_EQ(result, c.result) << c.a << " " << c.b;
    }

    char* folded = nullptr;
    ASSERT_EQ(api->case_fold(api, "Straße ÄB", &folded), 1);
    EXPECT_STREQ(folded, "strasse äb");
    api->free(api, folded);
    folded = reinterpret_cast<char*>(1);
    EXPECT_EQ(api->case_fold(api, "bad \xff", &folded), 0);
    EXPECT_EQ(folded, nullptr);
    EXPECT_GE(log.count("Bad utf8 string from plugin"), 3);

    struct chars_case {
        const char* text;
        int result;
    } chars[] = {
        {"abc123", 1}, {"", 1},    {"a b", 0},   {"a-b", 0},         {"a.b", 0},
        {"a\tb", 0},   {"a+b", 0}, {"a\x01", 0}, {"caf\xc3\xa9", 1}, {"\x80\xff\xa0", 1},
    };
    for (const chars_case& c : chars)
        EXPECT_EQ(api->test_chars(api, c.text), c.result) << c.text;

    char* url = nullptr;
    ASSERT_EQ(api->normalize_url(api, "HTTP://HOST:80/a/./b/../%7euser?x=%41#top", &url), 1);
    EXPECT_STREQ(url, "http://host/a/%7Euser?x=A");
    api->free(api, url);
    ASSERT_EQ(api->resolve_url(api, "http://Host/a/b/c.html", "../d/./e.html#f", &url), 1);
    EXPECT_STREQ(url, "http://host/a/d/e.html");
    api->free(api, url);
    ASSERT_EQ(api->resolve_url(api, "http://host/a/", "ftp://Other/x", &url), 1);
    EXPECT_STREQ(url, "ftp://other/x");
    api->free(api, url);

    char* dup = api->strdup(api, "copy");
    EXPECT_STREQ(dup, "copy");
    api->free(api, dup);
}

TEST(PluginTypes, Tokens) {
    EXPECT_STREQ(plugin_type_to_string(UNKNOWN_PLUGINTYPE), "UNKNOWN_PLUGINTYPE");
    EXPECT_STREQ(plugin_type_to_string(ARCHIVEFFF_PLUGINTYPE), "ARCHIVEFFF_PLUGINTYPE");
    EXPECT_STREQ(plugin_type_to_string(2), "");

    struct read_case {
        const char* text;
        bool matches;
        PluginType value;
    } reads[] = {
        {"UNKNOWN_PLUGINTYPE", true, UNKNOWN_PLUGINTYPE},
        {"ARCHIVEFFF_PLUGINTYPE", true, ARCHIVEFFF_PLUGINTYPE},
        {"GLOBALFFF_PLUGINTYPE", true, ARCHIVEFFF_PLUGINTYPE},
        {"MULTIFORMFFF_PLUGINTYPE", true, ARCHIVEFFF_PLUGINTYPE},
        {"archivefff_plugintype", false, UNKNOWN_PLUGINTYPE},
        {"ARCHIVEFFF_PLUGINTYPE ", false, UNKNOWN_PLUGINTYPE},
        {"", false, UNKNOWN_PLUGINTYPE},
    };
    for (const read_case& c : reads) {
        PluginType value = UNKNOWN_PLUGINTYPE;
        EXPECT_EQ(plugin_type_from_string(c.text, value), c.matches) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
    PluginType kept = ARCHIVEFFF_PLUGINTYPE;
    plugin_type_from_string("nonsense", kept);
    EXPECT_EQ(kept, ARCHIVEFFF_PLUGINTYPE);

    EXPECT_EQ(plugin_type_of_registration(3), ARCHIVEFFF_PLUGINTYPE);
    for (int t : {0, 1, 2, 4, -1})
        EXPECT_EQ(plugin_type_of_registration(t), UNKNOWN_PLUGINTYPE) << t;
    PluginDLLInfo info;
    EXPECT_EQ(info.Type, UNKNOWN_PLUGINTYPE);
    EXPECT_TRUE(info.Name.empty() && info.Description.empty());
}

TEST(PluginHost, NullStringsFromARegistrationAreReadAsEmpty) {
    std::string cfg_file =
        make_deployment("nullnames", {{"nullnames", "a-nullnames.so"}, {"archive", "b.so"}});
    config cfg(cfg_file.c_str());
    log_capture log;
    fff_plugins_loader loader(true, cfg);
    std::vector<PluginDLLInfo> listed = list_plugins(loader);
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[0].Name, "");
    EXPECT_EQ(listed[0].Description, "");
    EXPECT_TRUE(log.has("Plugin (unnamed): unregister called"));

    // The registry's scan passes over it to the plug-in sought.
    std::string path;
    ASSERT_TRUE(loader.find_plugin_dll("archive", path));
    EXPECT_EQ(path, plugin_dir("nullnames") + "/b.so");
    EXPECT_TRUE(loader.register_plugin(1, "archive", ""));
}
