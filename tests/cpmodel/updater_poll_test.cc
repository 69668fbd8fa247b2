// One poll of the updater thread against a scripted proxy.
#include "cpmodel/updater-poll.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace lumbrake;

namespace {

struct fake_proxy {
    std::string minimum = "2.0.2.1010";
    api_status_code status = RUNNING;
    int fail_at = -1; // which call throws
    bool throw_other = false;
    int calls = 0;
    void step() {
        if (calls++ == fail_at) {
            if (throw_other) throw std::runtime_error("boom");
            throw EasySoap::SOAPException("SOAP Fault: AccessViolation");
        }
    }
    void GetMinClientVersion(std::string& v) { step(), v = minimum; }
    void GetStatus(api_status_code& s, std::vector<ExtendedStatus>&) { step(), s = status; }
    void EnumSourceConfigurations(std::vector<SourceInfo>& v) { step(), v.resize(2); }
    void EnumArchiveConfigurations(std::vector<ArchiveInfo>& v) { step(), v.resize(1); }
    void EnumCollectionConfigurations(std::vector<CollectionInfo>&) { step(); }
    void EnumWatchConfigurations(std::vector<WatchInfo>& v) { step(), v.resize(1); }
    void EnumDocFilters(const std::vector<PluginType>& t, bool full,
                        std::vector<DocFilterInfo>& v) {
        step();
        EXPECT_EQ(t, std::vector<PluginType>{ARCHIVEFFF_PLUGINTYPE});
        EXPECT_FALSE(full);
        v.resize(3);
    }
    void EnumUsersAndGroups(std::vector<std::string>& u, std::vector<std::string>& bu,
                            std::vector<std::string>& g, std::vector<std::string>& bg) {
        step();
        u = {"bob", "Alice"};
        bu = {"Anonymous"};
        g = {"admins"};
        bg = {"bob"};
    }
    void GetCapabilities(bool& h, bool& a, bool& b, bool& c) { step(), h = a = b = c = true; }
};

} // namespace

TEST(updater_poll, ClientVersions) {
    for (const char* ok : {"2.0.2.1010", "1.9", "2.0.2", "2.0.2.1010.7", "", "2..2"})
        EXPECT_TRUE(is_client_version_supported(ok)) << ok;
    for (const char* no : {"2.0.2.1011", "2.1", "3"})
        EXPECT_FALSE(is_client_version_supported(no)) << no;
}

TEST(updater_poll, CompletePollSortsNamesAndAddsTheBuiltinCollection) {
    fake_proxy p;
    std::atomic<int> progress{0};
    poll_result r = run_poll(p, progress, poll_texts{});
    EXPECT_EQ(r.outcome, poll_outcome::complete);
    EXPECT_EQ(progress, 99);
    EXPECT_EQ(r.results.principals,
              (std::vector<std::string>{"Alice", "Anonymous", "admins", "bob", "bob"}));
    ASSERT_EQ(r.results.collections.size(), 1u);
    EXPECT_EQ(r.results.collections[0].Collection, -1);
    EXPECT_EQ(r.results.collections[0].Configuration.Name, "<All archives>");
    EXPECT_TRUE(r.results.collections[0].ReadOnly);
    updater_results shared;
    EXPECT_FALSE(publish_poll(shared, std::move(r)));
    EXPECT_EQ(shared.sources.size(), 2u);
    EXPECT_TRUE(shared.crawling_write);
}

TEST(updater_poll, WarningsFailuresAndUpgrades) {
    std::atomic<int> progress{0};
    fake_proxy stopped;
    stopped.status = LOWDISKSPACE;
    poll_result r = run_poll(stopped, progress, poll_texts{});
    EXPECT_TRUE(r.warning);
    EXPECT_NE(r.results.message.find("MINFREEDISK"), std::string::npos);

    updater_results shared;
    EXPECT_FALSE(publish_poll(shared, std::move(r)));
    ASSERT_EQ(shared.doc_filters.size(), 3u);

    // A fault in the middle empties every list but the document filters.
    for (bool other : {false, true}) {
        fake_proxy failing;
        failing.fail_at = 4;
        failing.throw_other = other;
        poll_texts texts;
        texts.error_text = [](const std::string& w) { return "E:" + w; };
        poll_result f = run_poll(failing, progress, texts);
        EXPECT_EQ(f.outcome, poll_outcome::failed);
        updater_results copy = shared;
        EXPECT_TRUE(publish_poll(copy, std::move(f)));
        EXPECT_TRUE(copy.sources.empty());
        EXPECT_TRUE(copy.collections.empty());
        EXPECT_EQ(copy.doc_filters.size(), 3u);
        EXPECT_FALSE(copy.crawling_write);
        EXPECT_EQ(copy.message, other ? "E:boom" : "E:SOAP Fault: AccessViolation");
    }

    fake_proxy old;
    old.minimum = "2.1";
    poll_result u = run_poll(old, progress, poll_texts{});
    EXPECT_EQ(u.outcome, poll_outcome::upgrade_needed);
    EXPECT_EQ(old.calls, 1);
    EXPECT_TRUE(publish_poll(shared, std::move(u)));
    EXPECT_EQ(shared.sources.size(), 2u); // lists kept
    EXPECT_NE(shared.message.find("upgrade"), std::string::npos);
}
