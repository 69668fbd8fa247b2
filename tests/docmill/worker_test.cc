#include "util/config.h"
#include "fff/FFF.h"
#include "fff/core_extractor.h"
#include "worker/worker.h"

#include <gtest/gtest.h>

namespace lumbrake {
namespace {

const std::string page = std::string(TN_TEST_DATA) + "/site/page.html";

class WorkerTest : public ::testing::Test {
protected:
    config cfg_{"/nonexistent/trawlnest.conf"};
    worker worker_{cfg_};
    std::string headers_, content_;
    document_ptr document_;
    outlink_list outlinks_;
    process_result result_;
};

TEST_F(WorkerTest, UserAgentDefault) {
    EXPECT_EQ(worker_.user_agent(), "Mozilla/4.0 (compatible; lumbrakebot)");
}

TEST_F(WorkerTest, LocalFileGivesScoredDocumentWithCoreChecksum) {
    worker_.process_file(page, 250000, "d", "http://h/page.html", "text/html", "", {}, "", "",
                         headers_, content_, document_, outlinks_, result_);
    EXPECT_EQ(result_.type, CRAWL_NONE);
    ASSERT_TRUE(document_);
    EXPECT_EQ(document_->score, 250000u);
    EXPECT_NE(result_.corecrc, 0u);
    EXPECT_EQ(result_.corecrc, core_checksum(*document_));
    // Links resolve against the url given, not the file name.
    ASSERT_FALSE(outlinks_.empty());
    EXPECT_EQ(outlinks_[0].first, "http://h/details.html");
}

TEST_F(WorkerTest, OutputsAreResetBetweenDocuments) {
    worker_.process_file(page, 1000000, "d", "http://h/page.html", "text/html", "", {}, "", "",
                         headers_, content_, document_, outlinks_, result_);
    ASSERT_TRUE(document_);
    worker_.process_file("/nonexistent/x.html", 1000000, "d", "http://h/x.html", "text/html", "",
                         {}, "", "", headers_, content_, document_, outlinks_, result_);
    EXPECT_EQ(result_.type, CRAWL_SERVER);
    EXPECT_EQ(result_.message, "Cannot open file /nonexistent/x.html: No such file or directory");
    EXPECT_FALSE(document_);
    EXPECT_TRUE(outlinks_.empty());
    EXPECT_EQ(content_, "");
    EXPECT_EQ(result_.corecrc, 0u);
}

TEST_F(WorkerTest, FetchStatusesBecomeCrawlErrors) {
    struct {
        std::string url;
        std::int32_t type;
    } cases[] = {
        {"file://" + page, CRAWL_NONE},
        {"file://" + page.substr(0, page.rfind('/')), CRAWL_REDIRECT},
        {"file://" + page.substr(0, page.rfind('/') + 1), CRAWL_INDEX},
        {"file:///nonexistent/page.html", CRAWL_NOTFOUND},
        {"nosuchscheme://h/", CRAWL_SERVER},
    };
    for (const auto& c : cases) {
        worker_.process_url(1000000, "d", c.url, "", false, "", "", "", false, {}, "", "", headers_,
                            content_, document_, outlinks_, result_);
        EXPECT_EQ(result_.type, c.type) << c.url;
        EXPECT_EQ(static_cast<bool>(document_), c.type == CRAWL_NONE) << c.url;
    }
}

} // namespace
} // namespace lumbrake
