// The plug-ins, archive selection, source authentication and cookie parameter models.
#include "cpmodel/archive-select-model.h"
#include "../support/info_records.h"
#include "cpmodel/cookie-param-model.h"
#include "cpmodel/plugins-model.h"
#include "cpmodel/source-auth-model.h"

#include <gtest/gtest.h>

#include <functional>

namespace lumbrake {
namespace {

DocFilterInfo filter(int id, const std::string& name, const std::string& description = "") {
    DocFilterInfo f;
    f.DocFilterID = id;
    f.Type = ARCHIVEFFF_PLUGINTYPE;
    f.DocFilterConfiguration.Name = name;
    f.DocFilterConfiguration.Description = description;
    return f;
}

std::vector<std::pair<int, bool>> shown(const plugin_pipe_model& m) {
    std::vector<std::pair<int, bool>> out;
    for (const auto& r : m.rows())
        out.emplace_back(r.id, r.enabled);
    return out;
}

TEST(plugins_model, RowsFromPipeAndListing) {
    const std::vector<DocFilterInfo> filters{filter(3, "three"), filter(5, "five"),
                                             filter(7, "seven")};
    plugin_pipe_model m;
    m.load({7, 3}, filters);
    EXPECT_EQ(shown(m), (std::vector<std::pair<int, bool>>{{7, true}, {3, true}, {5, false}}));
    EXPECT_EQ(m.pipe(), (std::vector<int32_t>{7, 3}));

    m.load({}, filters);
    EXPECT_EQ(shown(m), (std::vector<std::pair<int, bool>>{{3, false}, {5, false}, {7, false}}));
    EXPECT_TRUE(m.pipe().empty());

    // A filter twice in the pipe gives two rows.
    m.load({3, 3}, filters);
    EXPECT_EQ(m.rows().size(), 4u);
    EXPECT_EQ(m.pipe(), (std::vector<int32_t>{3, 3}));
}

TEST(plugins_model, EditsChangeTheSentPipe) {
    const std::vector<DocFilterInfo> filters{filter(3, "three"), filter(5, "five"),
                                             filter(7, "seven")};
    struct Case {
        const char* what;
        std::function<void(plugin_pipe_model&)> edit;
        std::vector<int32_t> sent;
    };
    const Case cases[] = {
        {"disable the top row", [](auto& m) { m.set_enabled(0, false); }, {3}},
        {"enable the bottom row", [](auto& m) { m.set_enabled(2, true); }, {7, 3, 5}},
        {"disabled row moved between enabled ones",
         [](auto& m) { m.move_up(2); }, {7, 3}},
        {"enabled row moved above another", [](auto& m) { m.move_up(1); }, {3, 7}},
        {"moves at the ends do nothing",
         [](auto& m) { m.move_up(0); m.move_down(2); m.move_up(9); }, {7, 3}},
    };
    for (const auto& c : cases) {
        plugin_pipe_model m;
        m.load({7, 3}, filters);
        c.edit(m);
        EXPECT_EQ(m.pipe(), c.sent) << c.what;
    }
    plugin_pipe_model m;
    m.load({7, 3}, filters);
    EXPECT_FALSE(m.can_move_up(0));
    EXPECT_TRUE(m.can_move_down(0));
    EXPECT_FALSE(m.can_move_down(2));
    EXPECT_EQ(m.rows()[0].name, "seven");
}

TEST(plugins_model, PipeIdsWithoutAListedFilterAreKept) {
    const std::vector<DocFilterInfo> filters{filter(3, "three"), filter(7, "seven")};
    struct Case {
        const char* what;
        std::vector<int32_t> pipe;
        std::function<void(plugin_pipe_model&)> edit;
        std::vector<int32_t> sent;
    };
    const Case cases[] = {
        {"unchanged", {7, 99, 3}, [](auto&) {}, {7, 99, 3}},
        {"reordered around it", {7, 99, 3}, [](auto& m) { m.move_up(1); }, {3, 99, 7}},
        {"everything shown disabled", {7, 99, 3},
         [](auto& m) { m.set_enabled(0, false); m.set_enabled(1, false); }, {99}},
        {"at the end, after a shorter pipe", {7, 3, 42},
         [](auto& m) { m.set_enabled(0, false); }, {3, 42}},
        {"only hidden ids", {42, 43}, [](auto& m) { m.set_enabled(0, true); }, {42, 43, 3}},
    };
    for (const auto& c : cases) {
        plugin_pipe_model m;
        m.load(c.pipe, filters);
        c.edit(m);
        EXPECT_EQ(m.pipe(), c.sent) << c.what;
    }
}

using tn_test::archive;

SourceInfo source(int id, const std::string& name) {
    SourceInfo s;
    s.Source = id;
    s.Configuration.Name = name;
    return s;
}

TEST(archive_select_model, TreeOrderAndLabels) {
    const auto tree = archive_tree({source(1, "web"), source(2, ""), source(1, "Also")},
                                   {archive(2, "zeta", 1), archive(9, "alpha", 2),
                                    archive(4, "", 7), archive(5, "Beta", 1)},
                                   "(no name)");
    std::vector<std::string> labels;
    for (const auto& item : tree)
        labels.push_back(item.label);
    EXPECT_EQ(labels, (std::vector<std::string>{"(no name)", "alpha", "Beta", "zeta"}));
    EXPECT_TRUE(tree[0].sources.empty()); // its source is not among those given
    ASSERT_EQ(tree[1].sources.size(), 1u);
    EXPECT_EQ(tree[1].sources[0].label, "(no name)");
    ASSERT_EQ(tree[3].sources.size(), 2u); // a duplicate source id gives two children
    EXPECT_EQ(tree[3].sources[0].label, "Also");
    EXPECT_EQ(tree[3].sources[1].label, "web");
    EXPECT_TRUE(archive_tree({}, {}, "(no name)").empty());
}

TEST(archive_select_model, ChosenIds) {
    const auto tree =
        archive_tree({}, {archive(2, "zeta", 0), archive(9, "alpha", 0)}, "(no name)");
    struct Case {
        const char* what;
        std::vector<int32_t> preset;
        std::function<void(std::vector<bool>&)> edit;
        std::vector<int32_t> result;
    };
    const Case cases[] = {
        {"tree order, not preset order", {2, 9}, [](auto&) {}, {9, 2}},
        {"alpha removed", {2, 9}, [](auto& f) { f[0] = false; }, {2}},
        {"alpha added", {2}, [](auto& f) { f[0] = true; }, {9, 2}},
        {"an id of no listed archive is kept", {55, 2}, [](auto&) {}, {2, 55}},
        {"nothing chosen", {}, [](auto&) {}, {}},
    };
    for (const auto& c : cases) {
        auto flags = archive_chosen_flags(tree, c.preset);
        c.edit(flags);
        EXPECT_EQ(chosen_archive_ids(tree, flags, c.preset), c.result) << c.what;
    }
    EXPECT_EQ(chosen_archive_ids({}, {}, {3}), (std::vector<int32_t>{3}));
}

TEST(source_auth_model, CookieRows) {
    SourceConfiguration src;
    src.Type = AUTH_COOKIE;
    src.CookieParams.Params = {{"zone", "eu", COOKIE_OTHER},
                               {"user", "", COOKIE_USERNAME},
                               {"pass", "", COOKIE_PASSWORD},
                               {"lang", "en", COOKIE_OTHER},
                               {"zone", "us", COOKIE_OTHER}};
    const std::vector<ParamValue> stored{{"lang", "de"}, {"gone", "x"}, {"user", "bob"}};
    // Sorted by name; stored values win; the later default of a repeated name wins; names that
    // are not free parameters are dropped.
    EXPECT_EQ(cookie_value_rows(src, stored),
              (std::vector<ParamValue>{{"lang", "de"}, {"zone", "us"}}));
    for (AuthType t : {AUTH_NONE, AUTH_BASIC}) {
        src.Type = t;
        EXPECT_TRUE(cookie_value_rows(src, stored).empty());
    }
}

TEST(cookie_param_model, FieldsAndRecord) {
    struct Case {
        CookieParam param;
        cookie_param_fields fields;
    };
    const Case cases[] = {
        {{"u", "ignored", COOKIE_USERNAME}, {"u", "", COOKIE_USERNAME}},
        {{"p", "ignored", COOKIE_PASSWORD}, {"p", "", COOKIE_PASSWORD}},
        {{"", "v", COOKIE_OTHER}, {"", "v", COOKIE_OTHER}},
    };
    for (const auto& c : cases) {
        cookie_param_fields f{"old", "old", -1};
        cookie_param_to_fields(c.param, f);
        EXPECT_EQ(f, c.fields);
        CookieParam back{"x", "x", COOKIE_OTHER};
        cookie_param_from_fields(f, back);
        EXPECT_EQ(back.Name, c.param.Name);
        EXPECT_EQ(back.Type, c.param.Type);
        EXPECT_EQ(back.Value, c.param.Type == COOKIE_OTHER ? c.param.Value : "");
    }
    // A type outside the three leaves choice and value as they were; no selection keeps the
    // record's type and value.
    cookie_param_fields f{"a", "keep", 1};
    cookie_param_to_fields({"n", "v", static_cast<CookieParamType>(7)}, f);
    EXPECT_EQ(f, (cookie_param_fields{"n", "keep", 1}));
    CookieParam p{"n", "v", COOKIE_OTHER};
    cookie_param_from_fields({"m", "w", -1}, p);
    EXPECT_EQ(p, (CookieParam{"m", "v", COOKIE_OTHER}));
    // Switching to "Username" drops a value still in the field.
    cookie_param_from_fields({"m", "typed", COOKIE_USERNAME}, p);
    EXPECT_EQ(p, (CookieParam{"m", "", COOKIE_USERNAME}));
    EXPECT_STREQ(cookie_param_type_label(COOKIE_PASSWORD), "Password");
    EXPECT_STREQ(cookie_param_type_label(9), "");
    EXPECT_TRUE(cookie_param_value_enabled(COOKIE_OTHER));
    EXPECT_FALSE(cookie_param_value_enabled(-1));
}

} // namespace
} // namespace lumbrake
