// The list editing of the main window's pages: the schedule's "When:" value per frequency,
// the collection's archive rows after a choice, plug-in rows, a new archive's credentials.
#include "cpmodel/page-lists.h"
#include "../support/info_records.h"

#include <gtest/gtest.h>

#include <string>

using namespace lumbrake;

TEST(page_lists, ScheduleValueCorrectedWhenTheFrequencyIsPicked) {
    struct row {
        int frequency, value, expected;
    } rows[] = {
        {0, 0, 1},  {0, -5, 1},  {0, 12, 12}, {0, 40, 40}, // hourly
        {1, 0, 1},  {1, 6, 6},                             // daily
        {2, 7, 0},  {2, -1, 0},  {2, 6, 6},   {2, 0, 0},   // weekly
        {3, 0, 1},  {3, 29, 1},  {3, 28, 28}, {3, 1, 1},   // monthly
        {-1, 0, 0}, {4, 99, 99},                           // no frequency
    };
    for (const row& r : rows)
        EXPECT_EQ(correct_schedule_every(r.frequency, r.value), r.expected)
            << r.frequency << " " << r.value;
}

TEST(page_lists, ScheduleLabelAndRangePerFrequency) {
    struct row {
        int frequency;
        std::string label;
        int min, max;
    } rows[] = {
        {0, "Every N hours", 1, 23},
        {1, "Every N days", 1, 6},
        {2, "Day of week (0=Sunday, 1=Monday, etc.)", 0, 6},
        {3, "Day of month", 1, 28},
    };
    for (const row& r : rows) {
        schedule_every_rule rule;
        ASSERT_TRUE(schedule_every_rule_of(r.frequency, rule)) << r.frequency;
        EXPECT_EQ(rule.label, r.label);
        EXPECT_EQ(rule.min, r.min);
        EXPECT_EQ(rule.max, r.max);
    }
    schedule_every_rule untouched;
    EXPECT_FALSE(schedule_every_rule_of(-1, untouched));
    EXPECT_FALSE(schedule_every_rule_of(4, untouched));
    EXPECT_EQ(untouched.max, 2147483647);
}

TEST(page_lists, FillRangeHoldsTheStoredValue) {
    // A stored value outside the frequency's range must survive the fill, or an Apply of the
    // unchanged page would send the clamped value.
    struct row {
        int frequency, stored, min, max;
    } rows[] = {
        {0, 12, 1, 23}, {0, 30, 1, 30}, {0, 0, 0, 23},
        {2, 3, 0, 6},   {3, 31, 1, 31}, {-1, 5, 0, 2147483647},
    };
    for (const row& r : rows) {
        const schedule_every_rule rule = schedule_every_fill_rule(r.frequency, r.stored);
        EXPECT_EQ(rule.min, r.min) << r.frequency << " " << r.stored;
        EXPECT_EQ(rule.max, r.max) << r.frequency << " " << r.stored;
    }
}

namespace {

using tn_test::archive;

SourceInfo source(std::int32_t id, const std::string& description) {
    SourceInfo s;
    s.Source = id;
    s.Configuration.Description = description;
    return s;
}

} // namespace

TEST(page_lists, CollectionArchiveRowsInTheChosenOrder) {
    const std::vector<ArchiveInfo> archives = {archive(1, "News", 10), archive(2, "Docs", 20),
                                               archive(3, "Orphan", 99)};
    const std::vector<SourceInfo> sources = {source(10, "daily news"), source(20, "manuals")};
    const auto rows = collection_archive_rows({2, 7, 1, 3}, archives, sources);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0].name, "Docs");
    EXPECT_EQ(rows[0].source_description, "manuals");
    EXPECT_EQ(rows[0].id, 2);
    // An id the archive list does not hold: empty columns, the id kept.
    EXPECT_EQ(rows[1].name, "");
    EXPECT_EQ(rows[1].source_description, "");
    EXPECT_EQ(rows[1].id, 7);
    EXPECT_EQ(rows[2].name, "News");
    EXPECT_EQ(rows[2].source_description, "daily news");
    // An archive whose source is unknown: its name, no description.
    EXPECT_EQ(rows[3].name, "Orphan");
    EXPECT_EQ(rows[3].source_description, "");
    EXPECT_TRUE(collection_archive_rows({}, archives, sources).empty());
}

TEST(page_lists, ArchivesChosenAsRowsLeaveTheHiddenOnes) {
    EXPECT_EQ(still_hidden_archives({3, 8, 9}, {1, 8, 2}), (std::vector<std::int32_t>{3, 9}));
    EXPECT_EQ(still_hidden_archives({3}, {}), std::vector<std::int32_t>{3});
    EXPECT_TRUE(still_hidden_archives({}, {1}).empty());
}

TEST(page_lists, PipelineRowEnabledStateAndFilter) {
    // Toggling twice gives the first id back; the state follows the box, not the old sign.
    EXPECT_EQ(pipeline_row_data(pipeline_row_data(4, false), true), 4);
    EXPECT_EQ(pipeline_row_data(-4, false), -4);
    EXPECT_EQ(pipeline_row_data(4, true), 4);
    EXPECT_EQ(pipeline_row_data(-4, true), 4);

    DocFilterInfo a, b;
    a.DocFilterID = 4;
    a.DocFilterConfiguration.Description = "first";
    b.DocFilterID = 5;
    const std::vector<DocFilterInfo> filters = {a, b};
    ASSERT_NE(pipeline_row_filter(filters, -4), nullptr);
    EXPECT_EQ(pipeline_row_filter(filters, -4)->DocFilterConfiguration.Description, "first");
    EXPECT_EQ(pipeline_row_filter(filters, 5), &filters[1]);
    EXPECT_EQ(pipeline_row_filter(filters, 6), nullptr);
}

TEST(page_lists, NewArchiveAuthGrantsTheConnectedUser) {
    const AuthConfiguration auth = new_archive_auth("Anonymous");
    EXPECT_TRUE(auth.Username.empty());
    EXPECT_TRUE(auth.Password.empty());
    EXPECT_TRUE(auth.ParamValues.empty());
    EXPECT_EQ(auth.ACL, (std::vector<AccessSpec>{{"Anonymous", READACCESS, false},
                                                 {"Anonymous", WRITEACCESS, false}}));
}
