// The crawl-log window's model: sort orders, status texts, time texts and the export file.
#include "cpmodel/crawl-log-rows.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

using lumbrake::CrawlLogData;
using lumbrake::list_sort_state;
using lumbrake::QueryLogData;

std::vector<int> sorted_times(std::vector<CrawlLogData> rows, const list_sort_state& s) {
    std::stable_sort(rows.begin(), rows.end(), [&](const CrawlLogData& a, const CrawlLogData& b) {
        return lumbrake::compare_crawl_log_rows(a, b, s) < 0;
    });
    std::vector<int> out;
    for (const auto& r : rows)
        out.push_back(r.Time);
    return out;
}

TEST(crawl_log_rows, SortsByEachColumnEitherWay) {
    const std::vector<CrawlLogData> rows = {
        {INT_MAX, "a", "http://b/", 9},
        {INT_MIN, "b", "http://a/", 0},
        {0, "c", "http://\xc3\xa9/", 13},
        {-5, "d", "http://B/", 1},
    };
    // Times compare without overflow at the ends of the 32-bit range.
    EXPECT_EQ(sorted_times(rows, {0, false}), (std::vector<int>{INT_MIN, -5, 0, INT_MAX}));
    EXPECT_EQ(sorted_times(rows, {0, true}), (std::vector<int>{INT_MAX, 0, -5, INT_MIN}));
    // URLs as unsigned bytes: "B" < "a" < "b" < the UTF-8 "é".
    EXPECT_EQ(sorted_times(rows, {1, false}), (std::vector<int>{-5, INT_MIN, INT_MAX, 0}));
    EXPECT_EQ(sorted_times(rows, {1, true}), (std::vector<int>{0, INT_MAX, INT_MIN, -5}));
    // Status by code: "Ok" (0) before "Redirect" (1).
    EXPECT_EQ(sorted_times(rows, {2, false}), (std::vector<int>{INT_MIN, -5, INT_MAX, 0}));
    EXPECT_EQ(sorted_times(rows, {2, true}), (std::vector<int>{0, INT_MAX, -5, INT_MIN}));

    const QueryLogData q1{INT_MIN, "zeta"}, q2{INT_MAX, "Alpha"};
    EXPECT_LT(lumbrake::compare_query_log_rows(q1, q2, {0, false}), 0);
    EXPECT_GT(lumbrake::compare_query_log_rows(q1, q2, {0, true}), 0);
    EXPECT_GT(lumbrake::compare_query_log_rows(q1, q2, {1, false}), 0);
    EXPECT_EQ(lumbrake::compare_query_log_rows(q1, q2, {2, false}), 0);
}

TEST(crawl_log_rows, ColumnClicks) {
    list_sort_state s; // time, ascending
    lumbrake::click_sort_column(s, 0);
    EXPECT_EQ(s, (list_sort_state{0, true}));
    lumbrake::click_sort_column(s, 2);
    EXPECT_EQ(s, (list_sort_state{2, false}));
    lumbrake::click_sort_column(s, 2);
    EXPECT_EQ(s, (list_sort_state{2, true}));
    lumbrake::click_sort_column(s, 1);
    EXPECT_EQ(s, (list_sort_state{1, false}));
}

TEST(crawl_log_rows, StatusTexts) {
    EXPECT_STREQ(lumbrake::crawl_error_text(0), "Ok");
    EXPECT_STREQ(lumbrake::crawl_error_text(4), "Rendering error");
    EXPECT_STREQ(lumbrake::crawl_error_text(8), "Server error");
    EXPECT_STREQ(lumbrake::crawl_error_text(11), "Authentication required");
    EXPECT_STREQ(lumbrake::crawl_error_text(13), "Remote server error");
    EXPECT_STREQ(lumbrake::crawl_error_text(14), "");
    EXPECT_STREQ(lumbrake::crawl_error_text(-1), "");
}

TEST(crawl_log_rows, TimesInUtc) {
    // The C locale's "%c".
    EXPECT_EQ(lumbrake::log_time_text(0), "Thu Jan  1 00:00:00 1970");
    EXPECT_EQ(lumbrake::log_time_text(1924991999), "Tue Dec 31 23:59:59 2030");
    EXPECT_EQ(lumbrake::log_time_text(-1), "Wed Dec 31 23:59:59 1969");
}

std::string scratch_file(const char* name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    return std::string(tmp ? tmp : "/tmp/") + name;
}

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(crawl_log_rows, ExportWritesTabSeparatedUtf8Lines) {
    const std::string path = scratch_file("export-test.txt");
    {
        std::ofstream old(path);
        old << "older and longer content that must go\n";
    }
    const std::vector<std::string> lines = {
        lumbrake::export_line({"Thu Jan  1 00:00:00 1970", "file:///srv/caf%C3%A9", "Ok"}),
        lumbrake::export_line({"t", "a\tquery\r\nover lines"}),
    };
    EXPECT_EQ(lumbrake::write_export_file(path, lines), "");
    EXPECT_EQ(read_all(path), "Thu Jan  1 00:00:00 1970\tfile:///srv/caf%C3%A9\tOk\n"
                              "t\ta query  over lines\n");
    EXPECT_EQ(lumbrake::write_export_file(path, {}), "");
    EXPECT_EQ(read_all(path), "");
}

TEST(crawl_log_rows, ExportFailuresCarryTheSystemsText) {
    EXPECT_EQ(lumbrake::write_export_file("/nonexistent-dir/x/log.txt", {"a\n"}),
              std::strerror(ENOENT));
    // A full device: the write or the close fails, never silently.
    if (::access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(lumbrake::write_export_file("/dev/full", {"a\n"}), std::strerror(ENOSPC));
    }
}

} // namespace
