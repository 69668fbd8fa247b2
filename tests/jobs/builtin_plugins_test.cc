#include "trawlnestd/builtin-plugins.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <sstream>

#include "trawlnestd/cfgstorage.h"

namespace {

using namespace lumbrake;

class BuiltinPlugins : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sqlite3_open(":memory:", &db_), SQLITE_OK);
        stores_ = std::make_unique<config_stores>(db_);
    }
    void TearDown() override {
        stores_.reset();
        sqlite3_close(db_);
    }
    std::vector<int> ids_of_plugins() {
        std::vector<int> ids;
        cfgstorage<Plugin>::list(db_, ids);
        return ids;
    }
    std::vector<int> ids_of_filters() {
        std::vector<int> ids;
        cfgstorage<DocFilter>::list(db_, ids);
        return ids;
    }

    sqlite3* db_ = nullptr;
    std::unique_ptr<config_stores> stores_;
};

TEST_F(BuiltinPlugins, FreshDatabaseGetsFivePluginsAndTwoFilters) {
    std::string error = "stale";
    ASSERT_TRUE(register_builtin_plugins(db_, error));
    EXPECT_EQ(error, "");

    const std::vector<AccessSpec> everyone{{"All Users", READACCESS, false}};
    struct expected {
        const char* name;
        const char* description;
        const char* dll;
    };
    const expected plugins[] = {
        {"SLR", "Stochastic Language Recognizer", "langplugin"},
        {"URL", "URL Splitter", "urlplugin"},
        {"Static", "Static metadata", "staticplugin"},
        {"RegEx", "Adds metadata based on regular expression matches", "regexplugin"},
        {"MetaExchange", "Gets metadata from an external program", "metaexchangeplugin"},
    };
    std::vector<int> pids = ids_of_plugins();
    ASSERT_EQ(pids.size(), 5u);
    std::map<std::string, int> plugin_id;
    for (std::size_t i = 0; i < pids.size(); ++i) {
        Plugin p;
        std::uint32_t magic = 0;
        ASSERT_TRUE(cfgstorage<Plugin>::get(db_, pids[i], p, magic));
        EXPECT_EQ(p.Type, UNKNOWN_PLUGINTYPE);
        EXPECT_EQ(p.Name, plugins[i].name);
        EXPECT_EQ(p.Description, plugins[i].description);
        EXPECT_EQ(p.DLLName, plugins[i].dll);
        EXPECT_EQ(p.ACL, everyone);
        EXPECT_EQ(p.DLLParameters, p.Name == "SLR" ? language_training_text() : "") << p.Name;
        plugin_id[p.Name] = pids[i];
    }

    std::vector<int> fids = ids_of_filters();
    ASSERT_EQ(fids.size(), 2u);
    const char* filter_names[] = {"SLR", "URL"};
    const char* filter_descriptions[] = {"Stochastic Language Recognizer", "URL Splitter"};
    for (std::size_t i = 0; i < 2; ++i) {
        DocFilter f;
        std::uint32_t magic = 0;
        ASSERT_TRUE(cfgstorage<DocFilter>::get(db_, fids[i], f, magic));
        EXPECT_EQ(f.Name, filter_names[i]);
        EXPECT_EQ(f.Description, filter_descriptions[i]);
        EXPECT_EQ(f.PluginID, plugin_id[f.Name]);
        EXPECT_EQ(f.Config, "");
        EXPECT_EQ(f.ACL, everyone);
    }
}

TEST_F(BuiltinPlugins, NothingAddedWhenEitherKindExists) {
    DocFilter mine;
    mine.Name = "mine";
    std::uint32_t magic = 0;
    ASSERT_NE(cfgstorage<DocFilter>::add(db_, mine, magic), 0);
    std::string error;
    ASSERT_TRUE(register_builtin_plugins(db_, error));
    EXPECT_TRUE(ids_of_plugins().empty());
    EXPECT_EQ(ids_of_filters().size(), 1u);

    // And a second registration over the built-ins adds nothing either.
    ASSERT_TRUE(cfgstorage<DocFilter>::remove(db_, ids_of_filters()[0]));
    ASSERT_TRUE(register_builtin_plugins(db_, error));
    ASSERT_TRUE(register_builtin_plugins(db_, error));
    EXPECT_EQ(ids_of_plugins().size(), 5u);
    EXPECT_EQ(ids_of_filters().size(), 2u);
}

TEST_F(BuiltinPlugins, ComeBackAfterAllWereDeletedWithNewIds) {
    std::string error;
    ASSERT_TRUE(register_builtin_plugins(db_, error));
    for (int id : ids_of_plugins())
        ASSERT_TRUE(cfgstorage<Plugin>::remove(db_, id));
    for (int id : ids_of_filters())
        ASSERT_TRUE(cfgstorage<DocFilter>::remove(db_, id));
    ASSERT_TRUE(register_builtin_plugins(db_, error));
    std::vector<int> pids = ids_of_plugins();
    ASSERT_EQ(pids.size(), 5u);
    EXPECT_EQ(pids.front(), 6); // removed ids are not handed out again
    DocFilter slr;
    std::uint32_t magic = 0;
    ASSERT_TRUE(cfgstorage<DocFilter>::get(db_, ids_of_filters().front(), slr, magic));
    EXPECT_EQ(slr.PluginID, 6);
}

// A record that cannot be stored (here: its type has no id left) ends the registration with
// the record's name; what was added before stays for the caller's transaction to discard.
TEST_F(BuiltinPlugins, FirstFailedAddEndsWithItsName) {
    struct failure_case {
        const char* key;
        const char* message;
        std::size_t plugins_left;
    };
    const failure_case cases[] = {
        {"Plugin", "Cannot create plugin SLR", 0},
        {"DocFilter", "Cannot create docfilter SLR", 1},
    };
    for (const auto& c : cases) {
        sqlite3_exec(db_, "delete from cfgstorage; update cfgcounter set lastid=0", nullptr,
                     nullptr, nullptr);
        std::string sql =
            std::string("update cfgcounter set lastid=2147483647 where key='") + c.key + "'";
        ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
        std::string error;
        EXPECT_FALSE(register_builtin_plugins(db_, error));
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(ids_of_plugins().size(), c.plugins_left) << c.key;
        EXPECT_TRUE(ids_of_filters().empty());
    }
}

// The stored text is the language plug-in's input format: CR LF lines, comment header, eleven
// sections in order, each with its number and code and some kilobytes of sample text.
TEST(LanguageTrainingText, HasElevenWellFormedSections) {
    const std::string& text = language_training_text();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text[0], '#');
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n') {
            ASSERT_TRUE(i > 0 && text[i - 1] == '\r') << "bare LF at " << i;
        }
    ASSERT_EQ(text.substr(text.size() - 2), "\r\n");

    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        std::size_t end = text.find("\r\n", pos);
        lines.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    const char* codes[] = {"en", "it", "fr", "de", "es", "pt", "da", "nl", "is", "no", "sv"};
    int section = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i] != "###BEGIN###") {
            ASSERT_NE(lines[i], "###END###") << "end mark outside a section at line " << i;
            continue;
        }
        ASSERT_LT(section, 11);
        ASSERT_LT(i + 1, lines.size());
        EXPECT_EQ(lines[i + 1], std::to_string(section + 1) + " " + codes[section]);
        std::size_t bytes = 0, j = i + 2;
        for (; j < lines.size() && lines[j] != "###END###"; ++j) {
            ASSERT_NE(lines[j], "###BEGIN###");
            if (lines[j].empty() || lines[j][0] != '#') bytes += lines[j].size();
        }
        ASSERT_LT(j, lines.size()) << "section " << section + 1 << " is not closed";
        EXPECT_GE(bytes, 1500u) << codes[section];
        ++section;
        i = j;
    }
    EXPECT_EQ(section, 11);
}

} // namespace
