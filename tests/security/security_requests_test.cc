// Requests a hostile page or client can make of the real daemon: a cross-site SOAP call from a
// browser form, a request target that is no absolute path, a chunked SOAP body, a large body
// the portal does not read, and slow clients that would hold every request thread.
#include "security_support.h"

#include "client/soap-client-proxy.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using sec::quote;
using sec::run;

class requests : public ::testing::Test {
protected:
    void start(const std::string& extra = "") {
        // A short folder name: the daemon's notification socket path must fit a socket address.
        static int n = 0;
        root_ = sec::scratch(("r" + std::to_string(++n)).c_str());
        portal_ = root_ / "portal";
        std::filesystem::create_directories(portal_ / "private");
        tn_test::live_daemon::write(portal_ / "index.html", "<html>public</html>");
        tn_test::live_daemon::write(portal_ / "private" / "secret.html", "<html>SECRET</html>");
        daemon_ = std::make_unique<tn_test::live_daemon>(root_ / "daemon");
        daemon_->set_extra_config("PORTAL_DOCS=" + portal_.string() + "\n" + extra);
        daemon_->start();
    }
    bool user_exists(const std::string& name) {
        lumbrake::SoapClientProxy proxy(daemon_->soap_endpoint());
        std::vector<std::string> users, builtin, groups, builtin_groups;
        proxy.EnumUsersAndGroups(users, builtin, groups, builtin_groups);
        return std::find(users.begin(), users.end(), name) != users.end();
    }
    std::string admin_url(const std::string& path) const {
        return "http://" + daemon_->user() + ":" + daemon_->password() + "@127.0.0.1:" +
               std::to_string(daemon_->port()) + path;
    }

    std::filesystem::path root_, portal_;
    std::unique_ptr<tn_test::live_daemon> daemon_;
};

// What a form on a foreign page can send (text/plain, a urlencoded form, no SOAPAction) is
// refused before the body is read, with the administrator's credentials too; a chunked body
// is refused for its missing length. The real clients' form still works.
TEST_F(requests, SoapWithoutActionOrXmlIsRefused) {
    start();
    const auto body = root_ / "adduser.xml";
    struct row {
        const char* path;
        const char* user;
        std::string headers;
        int status;
    } rows[] = {
        {"/soap", "evil1", "-H 'Content-Type: text/plain'", 400},
        {"/soap", "evil2", "-H 'Content-Type: text/plain' -H 'SOAPAction: \"x\"'", 415},
        {"/soap", "evil3", "-H 'Content-Type: application/x-www-form-urlencoded' -H 'SOAPAction: x'",
         415},
        {"/soap", "evil4", "-H 'Content-Type: text/xml'", 400},
        {"/soap", "evil5",
         "-H 'Content-Type: text/xml' -H 'SOAPAction: \"x\"' -H 'Transfer-Encoding: chunked'", 411},
        {"/research", "evil6", "-H 'Content-Type: text/plain'", 400},
        {"/soap", "good1", "-H 'Content-Type: text/xml; charset=utf-8' -H 'SOAPAction: \"x\"'", 200},
    };
    for (const row& r : rows) {
        SCOPED_TRACE(std::string(r.path) + " " + r.user);
        tn_test::live_daemon::write(body, sec::add_user_envelope(r.user, true));
        auto answer = run("curl -s -o /dev/null -w '%{http_code}' --max-time 20 " + r.headers +
                          " --data-binary @" + quote(body.string()) + " " +
                          quote(admin_url(r.path)));
        EXPECT_EQ(answer.status, 0);
        EXPECT_EQ(std::atoi(answer.out.c_str()), r.status);
    }
    for (const char* name : {"evil1", "evil2", "evil3", "evil4", "evil5"})
        EXPECT_FALSE(user_exists(name)) << name;
    EXPECT_TRUE(user_exists("good1"));
}

// A target without its leading "/" is no path of ours (400), so it cannot slip past the check
// of the private part; targets that only look different from "/private/..." are still private.
TEST_F(requests, PortalTargetsAreNormalisedBeforeTheCheck) {
    start();
    const char* program = R"PY(
import socket, sys
port = int(sys.argv[1])
for target in sys.argv[2:]:
    data = exchange(port, ("GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n").encode())
    line = data.split(b"\r\n", 1)[0].decode()
    print(target, line.split(" ")[1] if " " in line else "none", "SECRET" in data.decode("latin-1"))
)PY";
    auto r = sec::python(root_, "targets", program,
                         std::to_string(daemon_->port()) +
                             " private/secret.html //private/secret.html "
                             "/./private/secret.html /x/../private/secret.html "
                             "http://127.0.0.1/private/secret.html /index.html");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("private/secret.html 400 False\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("//private/secret.html 401 False\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/./private/secret.html 401 False\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("/x/../private/secret.html 401 False\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("http://127.0.0.1/private/secret.html 401 False\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("/index.html 200 False\n"), std::string::npos) << r.out;
    // With credentials the private page is served.
    auto ok = run("curl -s --max-time 10 " + quote(admin_url("/private/secret.html")));
    EXPECT_NE(ok.out.find("SECRET"), std::string::npos);
}

// A 3 MB body that the portal page does not read: the client gets the answer, not a reset.
TEST_F(requests, UnreadPortalBodyDoesNotResetTheConnection) {
    start();
    const auto big = root_ / "big.bin";
    tn_test::live_daemon::write(big, std::string(3 * 1024 * 1024, 'x'));
    for (const char* expect : {"", "-H 'Expect:'"}) {
        SCOPED_TRACE(expect);
        auto r = run(std::string("curl -s -o /dev/null -w '%{http_code}' --max-time 30 ") +
                     expect + " --data-binary @" + quote(big.string()) + " " +
                     quote(daemon_->base_url() + "/index.html"));
        EXPECT_EQ(r.status, 0) << "curl exit " << r.status;
        EXPECT_EQ(r.out, "200");
    }
}

// Two request threads, both held by clients that send nothing, or their head or body a byte a
// second: another client is still served once the head or body deadline has cut them.
TEST_F(requests, SlowClientsCannotHoldEveryThread) {
    start("HTTP_THREADS=2\nHTTP_HEAD_TIMEOUT=2\nHTTP_BODY_TIMEOUT=3\n");
    const std::string auth = "Authorization: Basic " + [&] {
        auto r = run("printf %s " + quote(daemon_->user() + ":" + daemon_->password()) +
                     " | base64 -w0");
        return r.out;
    }();
    const char* program = R"PY(
import socket, sys, threading, time
port, mode, auth = int(sys.argv[1]), sys.argv[2], sys.argv[3]
def hold():
    s = socket.create_connection(("127.0.0.1", port))
    try:
        if mode == "head":
            for c in b"GET /index.html HTTP/1.1\r\nX-Slow: ":
                s.send(bytes([c]))
                time.sleep(1)
        elif mode == "body":
            s.send(("POST /soap HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\n"
                    "SOAPAction: \"x\"\r\n" + auth + "\r\nContent-Length: 1000\r\n\r\n").encode())
            for i in range(1000):
                s.send(b"x")
                time.sleep(1)
        else:
            time.sleep(60)
    except OSError:
        pass
for i in range(2):
    threading.Thread(target=hold, daemon=True).start()
time.sleep(0.5)
print("holding", flush=True)
time.sleep(9)
)PY";
    for (const char* mode : {"idle", "head", "body"}) {
        SCOPED_TRACE(mode);
        const std::string script = (root_ / "slow.py").string();
        tn_test::live_daemon::write(script, program);
        // The two holders run in the background while curl asks for a page.
        FILE* holders = ::popen(("python3 " + quote(script) + " " +
                                 std::to_string(daemon_->port()) + " " + mode + " " + quote(auth))
                                    .c_str(),
                                "r");
        ASSERT_NE(holders, nullptr);
        char line[64] = {};
        ASSERT_NE(std::fgets(line, sizeof line, holders), nullptr);
        auto r = run("curl -s -o /dev/null -w '%{http_code}' --max-time 12 " +
                     quote(daemon_->base_url() + "/index.html"));
        EXPECT_EQ(r.status, 0) << "curl exit " << r.status;
        EXPECT_EQ(r.out, "200");
        EXPECT_LT(r.seconds, 8.0);
        ::pclose(holders);
    }
}

} // namespace
