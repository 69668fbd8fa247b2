// The real worker program behind the daemon's proxy: documents from files and from a real
// HTTP server on 127.0.0.1, stored content reprocessed, plug-in records kept across requests,
// a worker killed in the middle of a request, and requests no daemon would send.
#include "millhand/millhand.h"

#include "millhand_test_support.h"
#include "api/api-typeutils.h"
#include "api/auth.h"
#include "fff/FFF.h"
#include "fff/fff2xml.h"
#include "../support/http_client.h"
#include "../support/ports.h"
#include "../support/processes.h"
#include "../support/socket_errors.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <zlib.h>

extern char** environ;

namespace lumbrake {
namespace {

using tn_test::children_of;
using tn_test::port_answers;
using tn_test::process_state;
constexpr auto& free_port = tn_test::reserve_port;

using namespace millhand_test;
using millhand_wire::STATUS_INDEX;
using millhand_wire::STATUS_NONE;
using millhand_wire::STATUS_NOTFOUND;

const std::string millhand_program = TN_MILLHAND_PROGRAM;
const fs::path site = fs::path(TN_TEST_DATA) / "site";

std::string file_url(const std::string& rest) {
    return "file://" + site.string() + rest;
}

using tn_test::thrown_text;

std::uint32_t crc_of(const std::string& bytes) {
    return static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

// The FFF of a reply in its XML form; empty when it does not read back whole.
std::string fff_xml(const std::string& fff) {
    FFF::tXMLTree::reader r(fff, FFF::get_kind_table());
    int status = 0;
    std::unique_ptr<FFF::tXMLTree> root(FFF::FromBinary(r, status));
    auto* doc = dynamic_cast<FFF::DocumentData*>(root.get());
    if (status != 2 || !doc) return "";
    std::string xml;
    fff_to_xml(xml, "d", "u", 0, doc);
    return xml;
}

// One PROCESS exchange: the reply, and its FFF in XML form.
struct processed : millhand::process_reply {
    std::string xml;
};

struct request_records {
    millhand::docfilter_id_list ids;
    millhand::plugin_map plugins;
    millhand::docfilter_map docfilters;
};

processed run_process(millhand& proxy, const std::string& url, std::uint32_t base_score = 1000000,
                      const request_records& records = {}, const std::string& begin = "",
                      const std::string& end = "") {
    processed p;
    millhand::process_request request;
    request.base_score = base_score;
    request.docid = "doc";
    request.url = url;
    request.docfilter_ids = records.ids;
    request.plugins = records.plugins;
    request.docfilters = records.docfilters;
    request.text_exclusion_begin = begin;
    request.text_exclusion_end = end;
    static_cast<millhand::process_reply&>(p) = proxy.process(request);
    p.xml = fff_xml(p.fff);
    return p;
}

bool has_link(const millhand::link_list& links, const std::string& url) {
    for (const FFF::linkscore_t& l : links)
        if (l.url == url) return true;
    return false;
}

class RealWorker : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        deploy_ = new deploy_dir("e2e", millhand_program, {{TN_FIXTURE_PLUGIN, "libtestmeta.so"}});
    }
    static void TearDownTestSuite() {
        delete deploy_;
        deploy_ = nullptr;
    }

    std::unique_ptr<millhand> started() {
        auto proxy = std::make_unique<millhand>(deploy_->cfg());
        std::string error;
        EXPECT_TRUE(proxy->start(error)) << error;
        return proxy;
    }

    static inline deploy_dir* deploy_ = nullptr;
};

// python3 -m http.server serving a folder on 127.0.0.1 (or a script of ours given the port and
// the folder), stopped at the end of its scope.
class http_server {
public:
    explicit http_server(const fs::path& root, const std::string& script = "")
        : port_(free_port()) {
        std::vector<std::string> args = {
            "python3",   "-m",          "http.server", "--bind",
            "127.0.0.1", "--directory", root.string(), std::to_string(port_)};
        if (!script.empty()) args = {"python3", script, std::to_string(port_), root.string()};
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawnp(&pid_, "python3", &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
        posix_spawn_file_actions_destroy(&actions);
        for (int i = 0; i < 200 && pid_ > 0 && !ready_; ++i) {
            ready_ = port_answers(port_);
            if (!ready_) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    ~http_server() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
    }
    bool ready() const { return ready_; }
    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    int port_;
    pid_t pid_ = 0;
    bool ready_ = false;
};

request_records meta_records(std::uint32_t plugin_magic, std::uint32_t filter_magic,
                             const std::string& config) {
    request_records r;
    r.plugins[1].magic = plugin_magic;
    r.plugins[1].record.Name = "meta";
    r.plugins[1].record.DLLName = "docmill-test-meta";
    r.plugins[1].record.DLLParameters = std::to_string(plugin_magic);
    r.docfilters[5].magic = filter_magic;
    r.docfilters[5].record.PluginID = 1;
    r.docfilters[5].record.Config = config;
    return r;
}

std::string origin_meta(const std::string& value) {
    return "key=\"origin\">" + value + "</meta>";
}

TEST_F(RealWorker, FileDocuments) {
    auto proxy = started();
    const std::string page = read_file(site / "page.html");

    processed p = run_process(*proxy, file_url("/page.html"), 750000);
    EXPECT_EQ(p.status.status, STATUS_NONE);
    EXPECT_EQ(p.status.message, "");
    EXPECT_EQ(p.status.mime, "text/html");
    struct stat st {};
    ASSERT_EQ(::stat((site / "page.html").c_str(), &st), 0);
    EXPECT_EQ(p.status.datetime, static_cast<std::uint32_t>(st.st_mtime));
    EXPECT_EQ(p.content, page);
    EXPECT_EQ(p.headers, "");
    // The FFF in its binary form, read back whole, with the CRC of those bytes.
    ASSERT_NE(p.xml, "") << "FFF does not read back";
    EXPECT_NE(p.xml.find("sliceid=\"title\">Canteen menu</low>"), std::string::npos) << p.xml;
    EXPECT_NE(p.xml.find("Supplier prices"), std::string::npos);
    EXPECT_EQ(p.status.fffcrc, crc_of(p.fff));
    EXPECT_NE(p.status.corecrc, 0u);
    EXPECT_EQ(p.score, 750000u);
    EXPECT_TRUE(has_link(p.outlinks, file_url("/allergens.html")));
    EXPECT_TRUE(has_link(p.outlinks, "http://example.org/kitchen/"));

    // The text exclusion markers are honoured; the core text changes with them.
    processed hidden =
        run_process(*proxy, file_url("/page.html"), 750000, {}, "<!--hide-->", "<!--/hide-->");
    EXPECT_EQ(hidden.status.status, STATUS_NONE);
    EXPECT_EQ(hidden.xml.find("Supplier prices"), std::string::npos) << hidden.xml;
    EXPECT_NE(hidden.status.fffcrc, p.status.fffcrc);

    // A score beyond the whole is the whole.
    EXPECT_EQ(run_process(*proxy, file_url("/notes.txt"), 0xffffffffu).score, 1000000u);

    // A folder is a listing: outlinks and no FFF.
    processed dir = run_process(*proxy, file_url("/dir/"), 500000);
    EXPECT_EQ(dir.status.status, STATUS_INDEX);
    EXPECT_EQ(dir.fff, "");
    EXPECT_EQ(dir.status.fffcrc, 0u);
    EXPECT_EQ(dir.score, 500000u);
    ASSERT_FALSE(dir.outlinks.empty());
    EXPECT_NE(dir.outlinks[0].url.find("inner.html"), std::string::npos) << dir.outlinks[0].url;

    processed missing = run_process(*proxy, file_url("/missing.html"));
    EXPECT_EQ(missing.status.status, STATUS_NOTFOUND);
    EXPECT_EQ(missing.fff, "");
    EXPECT_TRUE(missing.outlinks.empty());
}

TEST_F(RealWorker, PageFromARealHttpServerAndItsReprocessing) {
    auto proxy = started();
    processed p;
    std::string url;
    {
        http_server server(site);
        ASSERT_TRUE(server.ready()) << "python3 -m http.server did not start";
        url = server.url("/page.html");
        p = run_process(*proxy, url, 1000000);
        EXPECT_EQ(p.status.status, STATUS_NONE) << p.status.message;
        EXPECT_EQ(p.status.mime, "text/html");
        EXPECT_EQ(p.content, read_file(site / "page.html"));
        EXPECT_EQ(p.headers.rfind("HTTP/1.0 200", 0), 0u) << p.headers;
        EXPECT_NE(p.headers.find("Content-type: text/html"), std::string::npos) << p.headers;
        EXPECT_NE(p.xml.find("Canteen menu"), std::string::npos);
        EXPECT_TRUE(has_link(p.outlinks, server.url("/allergens.html")));
        // The same text as from the file: the same core.
        EXPECT_EQ(p.status.corecrc, run_process(*proxy, file_url("/page.html")).status.corecrc);

        processed missing = run_process(*proxy, server.url("/nothing-here.html"));
        EXPECT_EQ(missing.status.status, STATUS_NOTFOUND);
        EXPECT_EQ(missing.fff, "");
    }

    // Stored content goes back through the worker without a fetch (the server is gone).
    const std::string sidemeta =
        "<metas><meta type=\"documentwide\" sliceid=\"author\" key=\"author\">Ann</meta></metas>";
    struct {
        std::uint32_t base_score;
        std::string mime, sidemeta;
    } cases[] = {{1000000, "text/html", ""},
                 {300000, "text/html", ""},
                 {1000000, "text/html", sidemeta},
                 {1000000, "text/plain", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mime + " " + std::to_string(c.base_score) + " " + c.sidemeta);
        millhand::reprocess_request request;
        request.base_score = c.base_score;
        request.guid = "doc";
        request.url = url;
        request.headers = p.headers;
        request.content = p.content;
        request.mime = c.mime;
        request.sidemeta_text = c.sidemeta;
        const auto [status, fff, score] = proxy->reprocess(request);
        EXPECT_EQ(status.status, STATUS_NONE) << status.message;
        EXPECT_EQ(status.mime, c.mime);
        EXPECT_EQ(status.sidemeta_text, c.sidemeta);
        EXPECT_EQ(status.fffcrc, crc_of(fff));
        EXPECT_EQ(score, c.base_score); // the reply's score comes back
        const std::string xml = fff_xml(fff);
        EXPECT_NE(xml.find("Canteen"), std::string::npos) << xml;
        if (c.mime == "text/html" && c.sidemeta.empty()) {
            EXPECT_EQ(status.corecrc, p.status.corecrc);
            if (c.base_score == 1000000) {
                EXPECT_EQ(fff, p.fff);
            }
        } else if (!c.sidemeta.empty()) {
            EXPECT_NE(xml.find("key=\"author\">ann</meta>"), std::string::npos) << xml;
        } else if (c.mime == "text/plain") {
            EXPECT_NE(xml.find("&lt;title&gt;"), std::string::npos) << xml; // markup is text
        }
    }

    // The character set comes from the stored headers; files have none.
    for (const auto& [headers, charset] : std::vector<std::pair<std::string, std::string>>{
             {"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=UTF-8\r\n\r\n", "utf-8"},
             {"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n", "iso-8859-1"}}) {
        millhand::reprocess_request request;
        request.base_score = 1000000;
        request.guid = "doc";
        request.url = url;
        request.headers = headers;
        request.content = p.content;
        request.mime = "text/html";
        EXPECT_EQ(proxy->reprocess(request).status.charset, charset);
    }
}

std::string cookie_source_xml() {
    SourceConfiguration source;
    source.Name = "intranet";
    source.Type = AUTH_COOKIE;
    source.CookieParams.Action = COOKIE_GET;
    source.CookieParams.Params = {{"user", "", COOKIE_USERNAME}, {"pass", "", COOKIE_PASSWORD}};
    std::string xml;
    EXPECT_TRUE(source_to_xml(source, xml));
    return xml;
}

std::string auth_record_xml(const std::string& user, const std::string& password) {
    AuthConfiguration auth;
    auth.Username = user;
    auth.Password = password;
    std::string xml;
    EXPECT_TRUE(auth_to_xml(auth, xml));
    return xml;
}

TEST_F(RealWorker, CookieLogInAndSideMetadataOverHttp) {
    http_server server(site, std::string(TN_TEST_DATA) + "/login_server.py");
    ASSERT_TRUE(server.ready()) << "the log-in server did not start";
    auto proxy = started();
    const std::string source = cookie_source_xml();
    millhand::process_reply r;
    // A fetch within the source, as alice with the password given.
    auto fetch_as_alice = [&](const std::string& path, const std::string& password) {
        millhand::process_request request;
        request.base_score = 1000000;
        request.url = server.url(path);
        request.source_xml = source;
        request.auth_xml = auth_record_xml("alice", password);
        return request;
    };

    // The cookie-collecting fetch: the daemon takes the Set-Cookie lines from the headers.
    millhand::process_request login = fetch_as_alice("/login", "secret");
    login.collect_cookies = 1;
    r = proxy->process(login);
    EXPECT_NE(r.headers.find("Set-Cookie: session=abc123"), std::string::npos) << r.headers;
    millhand::process_request wrong_login = fetch_as_alice("/login", "wrong");
    wrong_login.collect_cookies = 1;
    r = proxy->process(wrong_login);
    EXPECT_EQ(r.headers.find("session="), std::string::npos) << r.headers;

    // The gathered cookie goes with the document fetches of the source.
    millhand::process_request with_cookie = fetch_as_alice("/echo", "secret");
    with_cookie.docid = "d";
    with_cookie.cookies = "session=abc123";
    r = proxy->process(with_cookie);
    EXPECT_EQ(r.status.status, STATUS_NONE) << r.status.message;
    EXPECT_NE(r.content.find("cookie session=abc123"), std::string::npos) << r.content;

    // The side-metadata file beside the document, when the source declares one.
    for (std::uint8_t sidemeta : {0, 1}) {
        millhand::process_request page_request;
        page_request.base_score = 1000000;
        page_request.docid = "d";
        page_request.url = server.url("/page.html");
        page_request.sidemeta = sidemeta;
        r = proxy->process(page_request);
        EXPECT_EQ(r.status.status, STATUS_NONE);
        const bool found = r.status.sidemeta_text.find(">Cook</meta>") != std::string::npos;
        EXPECT_EQ(found, sidemeta == 1) << r.status.sidemeta_text;
        EXPECT_EQ(fff_xml(r.fff).find("key=\"author\">cook</meta>") != std::string::npos,
                  sidemeta == 1)
            << fff_xml(r.fff);
    }
}

TEST_F(RealWorker, PluginRecordsAreKeptAndReplaced) {
    auto proxy = started();
    const std::string page = file_url("/page.html");

    // First sight: the plug-in and its docfilter come with the request.
    request_records first = meta_records(1, 1, "origin=root");
    first.ids = {5};
    processed p = run_process(*proxy, page, 1000000, first);
    EXPECT_EQ(p.status.status, STATUS_NONE);
    EXPECT_NE(p.xml.find(origin_meta("root")), std::string::npos) << p.xml;
    EXPECT_NE(p.xml.find("Canteen menu"), std::string::npos);

    // Nothing changed: the daemon sends no records, the worker still has them.
    request_records none;
    none.ids = {5};
    EXPECT_NE(run_process(*proxy, page, 1000000, none).xml.find(origin_meta("root")),
              std::string::npos);
    // A pipeline without the docfilter, and one with an id never sent.
    EXPECT_EQ(run_process(*proxy, page).xml.find("origin"), std::string::npos);
    none.ids = {99, 5};
    EXPECT_NE(run_process(*proxy, page, 1000000, none).xml.find(origin_meta("root")),
              std::string::npos);
    none.ids = {5};

    // A changed docfilter replaces the old one.
    request_records changed;
    changed.ids = {5};
    changed.docfilters = meta_records(1, 2, "origin=changed").docfilters;
    processed c = run_process(*proxy, page, 1000000, changed);
    EXPECT_NE(c.xml.find(origin_meta("changed")), std::string::npos) << c.xml;
    EXPECT_EQ(c.xml.find(origin_meta("root")), std::string::npos);

    // A changed plug-in alone: its docfilter keeps working with the kept configuration.
    request_records plugin_only;
    plugin_only.ids = {5};
    plugin_only.plugins = meta_records(2, 2, "").plugins;
    EXPECT_NE(run_process(*proxy, page, 1000000, plugin_only).xml.find(origin_meta("changed")),
              std::string::npos);
    EXPECT_NE(run_process(*proxy, page, 1000000, none).xml.find(origin_meta("changed")),
              std::string::npos);

    // A plug-in whose library is missing, with a docfilter of it: refused, the rest works.
    request_records broken;
    broken.ids = {5, 7};
    broken.plugins[3].magic = 1;
    broken.plugins[3].record.DLLName = "no-such-plugin";
    broken.docfilters[7].magic = 1;
    broken.docfilters[7].record.PluginID = 3;
    broken.docfilters[7].record.Config = "origin=third";
    processed b = run_process(*proxy, page, 1000000, broken);
    EXPECT_EQ(b.status.status, STATUS_NONE);
    EXPECT_NE(b.xml.find(origin_meta("changed")), std::string::npos);
    EXPECT_EQ(b.xml.find(origin_meta("third")), std::string::npos);

    // The plug-in record mended later: the docfilter sent before now runs, although the
    // daemon does not send it again.
    request_records mended;
    mended.ids = {5, 7};
    mended.plugins[3].magic = 2;
    mended.plugins[3].record.DLLName = "docmill-test-meta";
    processed m = run_process(*proxy, page, 1000000, mended);
    EXPECT_NE(m.xml.find(origin_meta("changed")), std::string::npos) << m.xml;
    EXPECT_NE(m.xml.find(origin_meta("third")), std::string::npos) << m.xml;

    // The plug-ins also run on reprocessing.
    millhand::reprocess_request again;
    again.base_score = 1000000;
    again.guid = "doc";
    again.url = page;
    again.content = p.content;
    again.mime = "text/html";
    again.docfilter_ids = {7};
    EXPECT_NE(fff_xml(proxy->reprocess(again).fff).find(origin_meta("third")), std::string::npos);

    // A new worker has nothing: the daemon sends every record again (it forgot too).
    proxy = started();
    EXPECT_EQ(run_process(*proxy, page, 1000000, none).xml.find("origin"), std::string::npos);
    EXPECT_NE(run_process(*proxy, page, 1000000, first).xml.find(origin_meta("root")),
              std::string::npos);
}

TEST_F(RealWorker, KilledInTheMiddleOfARequestAndStartedAgain) {
    // A server that takes the connection and never answers.
    int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/slow";

    auto proxy = started();
    const pid_t first_child = proxy->child();
    std::thread watchdog([&] {
        // The worker is inside the request once its fetch reaches the server.
        pollfd p{listener, POLLIN, 0};
        ::poll(&p, 1, 30000);
        proxy->kill_worker();
    });
    const std::string text = thrown_text([&] { run_process(*proxy, url); });
    watchdog.join();
    ::close(listener);
    EXPECT_EQ(text.rfind("safe_recv error (", 0), 0u) << text;

    proxy = started();
    EXPECT_NE(proxy->child(), first_child);
    processed p = run_process(*proxy, file_url("/page.html"));
    EXPECT_EQ(p.status.status, STATUS_NONE);
    EXPECT_NE(p.xml.find("Canteen menu"), std::string::npos);
}

// Word documents go through one libwv reader process of the worker; a document that crashes
// the library fails alone with the parser's error, the worker lives on, the next document gets
// a new reader; and when the worker is killed its reader ends too.
TEST_F(RealWorker, WordDocumentsShareOneReaderAndACrashFailsOnlyItself) {
    const fs::path docs = fs::path(TN_TEST_DATA) / ".." / ".." / "doc" / "data";
    const auto doc_url = [&](const std::string& name) { return "file://" + (docs / name).string(); };
    auto proxy = started();

    const processed notes = run_process(*proxy, doc_url("notes.doc"));
    ASSERT_EQ(notes.status.status, STATUS_NONE) << notes.status.message;
    EXPECT_EQ(notes.status.mime, "application/msword");
    EXPECT_NE(notes.xml.find("Footnote remark here."), std::string::npos) << notes.xml;
    const std::vector<pid_t> first = children_of(proxy->child());
    ASSERT_EQ(first.size(), 1u);

    const processed tables = run_process(*proxy, doc_url("tables.doc"));
    EXPECT_EQ(tables.status.status, STATUS_NONE);
    EXPECT_NE(tables.xml.find("epsilon"), std::string::npos) << tables.xml;
    EXPECT_EQ(children_of(proxy->child()), first);

    const processed crash = run_process(*proxy, doc_url("nasty/libwv-segv-2.doc"));
    EXPECT_EQ(crash.status.status, millhand_wire::STATUS_UNPARSABLE);
    EXPECT_EQ(crash.status.message, "MSWord document could not be parsed");
    EXPECT_EQ(crash.fff, "");
    EXPECT_TRUE(children_of(proxy->child()).empty());

    const processed again = run_process(*proxy, doc_url("notes.doc"));
    EXPECT_EQ(again.status.status, STATUS_NONE);
    EXPECT_EQ(again.xml, notes.xml);
    const std::vector<pid_t> second = children_of(proxy->child());
    ASSERT_EQ(second.size(), 1u);
    EXPECT_NE(second, first);

    proxy->kill_worker();
    for (int i = 0; i < 500 && process_state(second[0]) != 'Z' && process_state(second[0]) != '?';
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const char state = process_state(second[0]);
    EXPECT_TRUE(state == 'Z' || state == '?') << "the reader outlives its worker: " << state;
}

// Exit status of the worker once it has ended.
int worker_exit(millhand& proxy) {
    int status = 0;
    if (::waitpid(proxy.child(), &status, 0) != proxy.child()) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(RealWorker, RequestsNoDaemonSends) {
    // QUIT: QUITTING, then the worker ends by itself.
    {
        auto proxy = started();
        millhand_wire::request req;
        req.id = millhand_wire::QUIT;
        millhand_wire::send_request(*proxy, req);
        millhand_wire::reply rep;
        rep.id = millhand_wire::PROCESSED;
        millhand_wire::receive_reply(*proxy, rep);
        EXPECT_EQ(rep.id, millhand_wire::QUITTING);
        EXPECT_EQ(worker_exit(*proxy), 0);
    }
    // Bytes that no message starts with or that cannot be a whole message: the worker stops
    // at once, without an answer and without a crash.
    const std::string huge_string =
        std::string("\x01\x00", 2) + std::string(4, '\0') + std::string("\xff\xff\xff\x7f", 4);
    const std::string huge_list = std::string("\x02\x00", 2) + std::string(4 + 6 * 4, '\0') +
                                  std::string("\xff\xff\xff\xff", 4) + "\x05\x00\x00\x00";
    struct {
        const char* name;
        std::string bytes;
        bool close_after;
    } cases[] = {
        {"unknown id", std::string("\x07\x00", 2), false},
        {"string beyond the limit", huge_string, false},
        {"list count with no elements", huge_list, true},
        {"cut inside the id", std::string("\x01", 1), true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto proxy = started();
        ASSERT_EQ(socket_ipc::safe_send(proxy->socket(), c.bytes.data(), c.bytes.size()),
                  c.bytes.size());
        if (c.close_after) ::shutdown(proxy->socket(), SHUT_WR);
        char byte;
        EXPECT_EQ(::recv(proxy->socket(), &byte, 1, 0), 0); // closed, nothing said
        EXPECT_EQ(worker_exit(*proxy), 1);
    }
}
} // namespace
} // namespace lumbrake
