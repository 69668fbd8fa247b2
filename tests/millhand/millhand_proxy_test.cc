// The daemon's worker proxy against a stand-in worker written in Python from the message
// tables: every request field arrives, every reply field comes back, and wrong, cut or
// missing replies fail as the daemon expects.
#include "millhand/millhand.h"

#include "linux-platform/eventlog.h"
#include "millhand_test_support.h"
#include "../support/socket_errors.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <thread>

namespace lumbrake {
namespace {

using namespace millhand_test;

const std::string fake_worker = std::string(TN_TEST_DATA) + "/fake_millhand.py";

using tn_test::thrown_text;

// The inputs of one call, filled with a value in every field.
struct process_inputs {
    millhand::docfilter_id_list ids = {5, 6};
    millhand::plugin_map plugins;
    millhand::docfilter_map docfilters;
    process_inputs() {
        plugins[1].magic = 0xabcdef01;
        plugins[1].record.Type = ARCHIVEFFF_PLUGINTYPE;
        plugins[1].record.Name = "meta";
        plugins[1].record.Description = "adds";
        plugins[1].record.DLLName = "docmill-test-meta";
        plugins[1].record.DLLParameters = "p=1";
        docfilters[5].magic = 7;
        docfilters[5].record.Type = ARCHIVEFFF_PLUGINTYPE;
        docfilters[5].record.Name = "root";
        docfilters[5].record.Description = "d";
        docfilters[5].record.PluginID = 1;
        docfilters[5].record.Config = "origin=root";
    }
};

class FakeWorker : public ::testing::Test {
protected:
    void use_mode(const char* mode) { ::setenv("FAKE_MILLHAND_MODE", mode, 1); }
    void TearDown() override { ::unsetenv("FAKE_MILLHAND_MODE"); }

    // One PROCESS request with a value in every field.
    static millhand::process_reply call_process(millhand& proxy) {
        process_inputs in;
        millhand::process_request request;
        request.base_score = 500000;
        request.docid = "doc1";
        request.url = "http://h.example/p";
        request.cookies = "c=1";
        request.collect_cookies = 1;
        request.source_xml = "<source/>";
        request.auth_xml = "<auth/>";
        request.reserved = "";
        request.sidemeta = 1;
        request.docfilter_ids = in.ids;
        request.plugins = in.plugins;
        request.docfilters = in.docfilters;
        request.text_exclusion_begin = "[[";
        request.text_exclusion_end = "]]";
        return proxy.process(request);
    }
};

TEST_F(FakeWorker, ProcessAndReprocessCarryEveryField) {
    deploy_dir deploy("proxy-echo", fake_worker);
    use_mode("echo");
    millhand proxy(deploy.cfg());
    std::string error;
    ASSERT_TRUE(proxy.start(error)) << error;
    EXPECT_EQ(error, "");
    EXPECT_GT(proxy.child(), 0);

    const auto [status, fff, score, links, headers, content] = call_process(proxy);

    // The worker saw each field in its place.
    EXPECT_EQ(status.status, 13);
    EXPECT_EQ(status.message, "doc1|http://h.example/p|c=1|1|<source/>|<auth/>||1|[[|]]");
    EXPECT_EQ(status.mime, "5,6");
    EXPECT_EQ(status.charset, std::string("1|") + std::to_string(0xabcdef01) +
                                  "|1|meta|adds|docmill-test-meta|p=1");
    EXPECT_EQ(status.redirect, "5|7|1|root|d|1|origin=root");
    // And its answer reached every output.
    EXPECT_EQ(status.datetime, 1234567890u);
    EXPECT_EQ(status.sidemeta_text, "side=1");
    EXPECT_EQ(status.fffcrc, 0xdeadbeefu);
    EXPECT_EQ(status.corecrc, 0x01020304u);
    EXPECT_EQ(fff, std::string("\0fff\xff", 5));
    EXPECT_EQ(score, 500001u);
    ASSERT_EQ(links.size(), 3u);
    EXPECT_EQ(links[0].url, "http://a.example/1");
    EXPECT_EQ(links[0].score, 5u);
    EXPECT_EQ(links[1].url, "");
    EXPECT_EQ(links[2].score, 0xffffffffu);
    EXPECT_EQ(headers, "HTTP/1.1 200 OK\r\n\r\n");
    ASSERT_EQ(content.size(), 256u);
    EXPECT_EQ(static_cast<unsigned char>(content[255]), 255);

    // A second request on the same connection; reprocess returns the reply's score.
    process_inputs in;
    millhand::reprocess_request request;
    request.base_score = 1000000;
    request.guid = "g1";
    request.url = "file:///srv/a.txt";
    request.headers = "H";
    request.content = std::string("C\0C", 3);
    request.mime = "text/plain";
    request.sidemeta_text = "s=2";
    request.docfilter_ids = {9};
    request.text_exclusion_begin = "b";
    request.text_exclusion_end = "e";
    const millhand::reprocess_reply rr = proxy.reprocess(request);
    EXPECT_EQ(rr.status.status, 4);
    EXPECT_EQ(rr.status.message,
              "g1|file:///srv/a.txt|H|" + std::string("C\0C", 3) + "|text/plain|s=2|b|e");
    EXPECT_EQ(rr.status.mime, "9");
    EXPECT_EQ(rr.status.charset, "");
    EXPECT_EQ(rr.fff, "");
    EXPECT_EQ(rr.score, 1000002u);
}

TEST_F(FakeWorker, StartFailures) {
    {
        deploy_dir deploy("proxy-nobin", ""); // no bin/millhand
        millhand proxy(deploy.cfg());
        std::string error;
        EXPECT_FALSE(proxy.start(error));
        EXPECT_EQ(error.rfind("Could not spawn ", 0), 0u) << error;
    }
    {
        // A program that ends without connecting does not leave start waiting.
        deploy_dir deploy("proxy-false", "/bin/false");
        millhand proxy(deploy.cfg());
        std::string error;
        EXPECT_FALSE(proxy.start(error));
        EXPECT_EQ(error.rfind("Could not accept connection: ", 0), 0u) << error;
    }
}

TEST_F(FakeWorker, ReplyCutShortIsTheFramingError) {
    deploy_dir deploy("proxy-cut", fake_worker);
    use_mode("cut");
    millhand proxy(deploy.cfg());
    std::string error;
    ASSERT_TRUE(proxy.start(error)) << error;
    const std::string text = thrown_text([&] { call_process(proxy); });
    EXPECT_EQ(text.rfind("safe_recv error (", 0), 0u) << text;
}

TEST_F(FakeWorker, HungWorkerIsKilledAndReplaced) {
    // Silent after the request, or silent after the start of its reply (held in the receive
    // buffer while the rest is awaited): either way the watchdog's kill ends the wait.
    for (const char* mode : {"hang", "stall"}) {
        deploy_dir deploy(std::string("proxy-") + mode, fake_worker);
        use_mode(mode);
        auto proxy = std::make_unique<millhand>(deploy.cfg());
        std::string error;
        ASSERT_TRUE(proxy->start(error)) << error;

        // The watchdog's part, from another thread while the request waits.
        std::thread watchdog([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            proxy->kill_worker();
        });
        const std::string text = thrown_text([&] { call_process(*proxy); });
        watchdog.join();
        EXPECT_EQ(text.rfind("safe_recv error (", 0), 0u) << mode << ": " << text;

        // The owner replaces the proxy; the new worker answers.
        proxy.reset();
        use_mode("echo");
        proxy = std::make_unique<millhand>(deploy.cfg());
        ASSERT_TRUE(proxy->start(error)) << error;
        EXPECT_EQ(call_process(*proxy).score, 500001u) << mode;
    }
}

TEST_F(FakeWorker, QuitIsAnsweredWithQuitting) {
    // The daemon never sends it, but the protocol pairs it with QUITTING.
    deploy_dir deploy("proxy-quit", fake_worker);
    use_mode("echo");
    millhand proxy(deploy.cfg());
    std::string error;
    ASSERT_TRUE(proxy.start(error)) << error;
    millhand_wire::request req;
    req.id = millhand_wire::QUIT;
    millhand_wire::send_request(proxy, req);
    millhand_wire::reply rep;
    rep.id = millhand_wire::PROCESSED;
    millhand_wire::receive_reply(proxy, rep);
    EXPECT_EQ(rep.id, millhand_wire::QUITTING);
}

TEST_F(FakeWorker, ReplyOfTheWrongKindIsTheWorkersFailure) {
    deploy_dir deploy("proxy-wrong", fake_worker);
    // The caller gets the failure (and replaces the worker); the daemon goes on.
    for (const char* mode : {"wrong", "badid"}) {
        use_mode(mode);
        millhand proxy(deploy.cfg());
        std::string error;
        ASSERT_TRUE(proxy.start(error)) << error;
        try {
            call_process(proxy);
            ADD_FAILURE() << mode << ": accepted";
        } catch (const socket_ipc::socket_error& e) {
            const std::string text = e.what();
            EXPECT_NE(text.find("Unexpected reply"), std::string::npos) << mode << ": " << text;
        }
        proxy.kill_worker();
    }
    use_mode("wrong");
    millhand proxy(deploy.cfg());
    std::string error;
    ASSERT_TRUE(proxy.start(error)) << error;
    millhand::reprocess_request request;
    request.base_score = 1;
    request.guid = "g";
    request.url = "u";
    EXPECT_THROW(proxy.reprocess(request), socket_ipc::socket_error);
    proxy.kill_worker();
}

} // namespace
} // namespace lumbrake
