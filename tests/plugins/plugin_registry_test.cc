#include "api/api-types.h"
#include "plugin-system/plugins_loader.h"

#include "plugin_test_support.h"

using namespace lumbrake;
using plugin_test::log_capture;
using plugin_test::make_deployment;
using plugin_test::plugin_dir;

namespace {

Plugin plugin_record(const std::string& dll_name, const std::string& parameters = "") {
    Plugin p;
    p.Name = "record of " + dll_name;
    p.DLLName = dll_name;
    p.DLLParameters = parameters;
    return p;
}

DocFilter docfilter_record(int plugin_id, const std::string& config_bytes) {
    DocFilter d;
    d.PluginID = plugin_id;
    d.Config = config_bytes;
    return d;
}

// Position of the first occurrence of piece in text; npos fails the test.
std::size_t at(const std::string& text, const std::string& piece) {
    std::size_t pos = text.find(piece);
    EXPECT_NE(pos, std::string::npos) << "missing: " << piece;
    return pos;
}

// Position of the last occurrence.
std::size_t last_at(const std::string& text, const std::string& piece) {
    std::size_t pos = text.rfind(piece);
    EXPECT_NE(pos, std::string::npos) << "missing: " << piece;
    return pos;
}

} // namespace

TEST(PluginRegistry, FirstLibraryByPathWins) {
    std::string cfg_file = make_deployment("firstwins", {{"nodestroy", "05-nodestroy.so"},
                                                         {"archive_second", "20-archive.so"},
                                                         {"archive", "10-archive.so"},
                                                         {"failing", "00-failing.so"}});
    const std::string dir = plugin_dir("firstwins");
    config cfg(cfg_file.c_str());
    log_capture log;
    fff_plugins_loader loader(true, cfg);
    loader.load_plugins();

    std::string path;
    ASSERT_TRUE(loader.find_plugin_dll("archive", path));
    EXPECT_EQ(path, dir + "/10-archive.so");
    EXPECT_TRUE(log.has("Error 5 while scanning plugin dll " + dir + "/00-failing.so"));
    EXPECT_TRUE(log.has("Invalid regdata.config_destroy for plugin dll 'nodestroy'"));
    EXPECT_TRUE(log.has("Skipping bad 'archive' as 05-nodestroy.so"));
    // The scan only asks: what registered during it was let go of at once.
    EXPECT_EQ(log.count("Plugin archive: unregister called"), 1);
    EXPECT_TRUE(loader.plugins().empty());

    EXPECT_FALSE(loader.find_plugin_dll("Archive", path)); // names compare byte for byte
    EXPECT_TRUE(log.has("'Archive' not found while scanning"));

    ASSERT_TRUE(loader.register_plugin(1, plugin_record("archive", "p=1")));
    EXPECT_TRUE(log.has("Plugin archive: parameters p=1"));
    EXPECT_TRUE(
        log.has("Registered plugin dll " + dir + "/10-archive.so with name 'archive' as 1"));
    ASSERT_EQ(loader.plugins().count(1), 1u);
    EXPECT_TRUE(loader.plugins().at(1).ok);
    EXPECT_EQ(loader.plugins().at(1).dll, dir + "/10-archive.so");
}

TEST(PluginRegistry, RegisterFailures) {
    std::string cfg_file =
        make_deployment("regfail", {{"archive", "archive.so"}, {"noentry", "noentry.so"}});
    const std::string dir = plugin_dir("regfail");
    config cfg(cfg_file.c_str());
    log_capture log;
    fff_plugins_loader loader(true, cfg);
    loader.load_plugins();

    EXPECT_FALSE(loader.register_plugin(1, plugin_record("nothere")));
    EXPECT_TRUE(log.has("Can't find plugin DLL 'nothere'"));
    EXPECT_TRUE(loader.plugins().empty());

    ASSERT_TRUE(loader.register_plugin(1, plugin_record("archive")));
    EXPECT_FALSE(loader.register_plugin(1, plugin_record("archive")));
    EXPECT_TRUE(log.has("Trying to register duplicated plugin id 1"));

    // An FFF plug-in without its entry point registers but is refused, and stays refused.
    EXPECT_FALSE(loader.register_plugin(2, plugin_record("noentry")));
    EXPECT_TRUE(log.has("Invalid functions for plugin dll '" + dir + "/noentry.so'"));
    int unregisters = log.count("Plugin noentry: unregister called");
    EXPECT_FALSE(loader.unregister_plugin(2, true));
    EXPECT_TRUE(log.has("Can't unregister plugin 2"));
    EXPECT_EQ(log.count("Plugin noentry: unregister called"), unregisters);
    EXPECT_FALSE(loader.configure_docfilter(20, docfilter_record(2, "x")));
    EXPECT_TRUE(log.has("Plugin 2 not found in docfilter 20"));

    EXPECT_FALSE(loader.unregister_plugin(77, false));
    EXPECT_TRUE(log.has("No registered plugin 77"));
    EXPECT_EQ(loader.plugins().size(), 2u);
}

TEST(PluginRegistry, DocfiltersAreConfiguredAndReconfigured) {
    std::string cfg_file = make_deployment("docfilters", {{"archive", "archive.so"}});
    config cfg(cfg_file.c_str());
    log_capture log;
    {
        fff_plugins_loader loader(true, cfg);
        loader.load_plugins();
        ASSERT_TRUE(loader.register_plugin(1, plugin_record("archive")));

        // A docfilter that names no registered plug-in is refused and not stored.
        EXPECT_FALSE(loader.configure_docfilter(10, docfilter_record(9, "x")));
        EXPECT_TRUE(log.has("Plugin 9 not found in docfilter 10"));
        EXPECT_TRUE(loader.docfilters().empty());

        ASSERT_TRUE(loader.configure_docfilter(10, docfilter_record(1, "first")));
        EXPECT_TRUE(log.has("plugincfgs[10].id== 1"));
        EXPECT_TRUE(log.has("Configured ok docfilter 10"));
        // The cell holds the plug-in's pointer.
        ASSERT_EQ(loader.docfilters().count(10), 1u);
        EXPECT_STREQ(static_cast<const char*>(*loader.docfilters().at(10).config), "first");

        ASSERT_TRUE(loader.configure_docfilter(10, docfilter_record(1, "second")));
        std::string text = log.text();
        std::size_t deleting = at(text, "Deleting old docfilter for 10");
        std::size_t destroy = at(text, "Plugin archive: config_destroy first");
        std::size_t create = at(text, "Plugin archive: config_create second");
        EXPECT_LT(deleting, destroy);
        EXPECT_LT(destroy, create);

        // A failed configuration keeps the docfilter, so the next one deletes it first.
        EXPECT_FALSE(loader.configure_docfilter(11, docfilter_record(1, "fail now")));
        EXPECT_TRUE(log.has("Error configuring docfilter 11 from plugindll: 1"));
        EXPECT_EQ(loader.docfilters().count(11), 1u);
        ASSERT_TRUE(loader.configure_docfilter(11, docfilter_record(1, "fine")));
        EXPECT_TRUE(log.has("Plugin archive: config_destroy fail now"));

        ASSERT_TRUE(loader.configure_docfilter(12, docfilter_record(1, "third")));
        // Unregistering with its docfilters removes them first.
        ASSERT_TRUE(loader.unregister_plugin(1, true));
        EXPECT_TRUE(loader.docfilters().empty());
        EXPECT_TRUE(loader.plugins().empty());
        text = log.text();
        EXPECT_LT(at(text, "config_destroy second"), at(text, "Unregistering 'archive'"));
        EXPECT_LT(at(text, "config_destroy third"),
                  last_at(text, "Plugin archive: unregister called"));
    }
    EXPECT_TRUE(log.has("Plugins destroyed"));
}

TEST(PluginRegistry, TeardownDestroysConfigurationsThenUnregisters) {
    std::string cfg_file = make_deployment("teardown", {{"archive", "archive.so"}});
    config cfg(cfg_file.c_str());
    log_capture log;
    {
        fff_plugins_loader loader(true, cfg);
        loader.load_plugins();
        ASSERT_TRUE(loader.register_plugin(3, plugin_record("archive")));
        ASSERT_TRUE(loader.configure_docfilter(30, docfilter_record(3, "kept")));
        ASSERT_TRUE(loader.register_plugin(4, plugin_record("archive")));
        ASSERT_TRUE(loader.configure_docfilter(40, docfilter_record(4, "")));
        // Unregistered without its docfilters: the docfilter outlives its plug-in.
        ASSERT_TRUE(loader.unregister_plugin(4, false));
        EXPECT_FALSE(loader.configure_docfilter(40, docfilter_record(3, "again")));
        EXPECT_TRUE(log.has("Cannot remove old docfilter for 40, update skipped"));
    }
    std::string text = log.text();
    std::size_t destroy = at(text, "Plugin archive: config_destroy kept");
    EXPECT_TRUE(log.has("Unconfigured docfilter 30 ok 1"));
    EXPECT_TRUE(log.has("Plugin 4 not found in docfilter 40"));
    EXPECT_TRUE(log.has("Unconfigured docfilter 40 ok 0"));
    std::size_t unregistering = at(text, "Unregistering plugin 'archive' ok");
    std::size_t called = at(text, "Called unregister for plugin 'archive'");
    std::size_t destroyed = at(text, "Plugins destroyed");
    EXPECT_LT(destroy, unregistering);
    EXPECT_LT(unregistering, called);
    EXPECT_LT(called, destroyed);
    EXPECT_FALSE(log.has("config_destroy (none)"));
}
