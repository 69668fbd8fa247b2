// Who gets in, and what it costs: a user without rights sending an envelope of many
// attributes, requests while the configuration file cannot be read, logins while another
// connection holds the storage transaction, the permissions of DATADIR and the log of failed
// logins, and a port that cannot be had at start.
#include "security_support.h"

#include "client/soap-client-proxy.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using sec::quote;
using sec::run;



std::string url_with(const tn_test::live_daemon& d, const std::string& user,
                     const std::string& password, const std::string& path) {
    return "http://" + user + ":" + password + "@127.0.0.1:" + std::to_string(d.port()) + path;
}

// 200,000 attributes on one element (about 2.9 MB) from a user with no rights: refused in well
// under a second, and the service goes on answering.
TEST(auth, ManyAttributesCostLittle) {
    const auto root = sec::scratch("attrs");
    tn_test::live_daemon d(root / "daemon");
    d.start();
    lumbrake::SoapClientProxy admin(d.soap_endpoint());
    admin.AddUser("nobody", "pw", false, {});

    const char* program = R"PY(
import socket, sys, time, base64
port = int(sys.argv[1])
attrs = " ".join("a%d=\"1\"" % i for i in range(200000))
body = ('<?xml version="1.0"?><SOAP-ENV:Envelope xmlns:SOAP-ENV='
        '"http://schemas.xmlsoap.org/soap/envelope/"><SOAP-ENV:Body>'
        '<m:GetStatus xmlns:m="http://trawlnest.lumbrake.net/search/" ' + attrs +
        '/></SOAP-ENV:Body></SOAP-ENV:Envelope>').encode()
head = ("POST /soap HTTP/1.1\r\nHost: x\r\nContent-Type: text/xml\r\nSOAPAction: \"x\"\r\n"
        "Authorization: Basic " + base64.b64encode(b"nobody:pw").decode() +
        "\r\nContent-Length: %d\r\n\r\n" % len(body)).encode()
started = time.time()
data = exchange(port, head + body)
print(len(body), data.split(b"\r\n", 1)[0].decode(), "%.1f" % (time.time() - started))
)PY";
    auto r = sec::python(root, "attrs", program, std::to_string(d.port()));
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("<timeout>"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("HTTP/1.1 500"), std::string::npos) << r.out; // a SOAP fault
    // The last field is the time from sending to the answer (generating the body is not
    // counted); the old quadratic reading took about a minute here.
    EXPECT_LT(std::atof(r.out.substr(r.out.rfind(' ') + 1).c_str()), 10.0) << r.out;
    lumbrake::api_status_code status{};
    std::vector<lumbrake::ExtendedStatus> rows;
    EXPECT_NO_THROW(admin.GetStatus(status, rows));
}

// Without a readable configuration file nobody can be told from the administrator: every
// authenticated path answers 503 and logs it, and nothing is changed.
TEST(auth, UnreadableConfigurationFailsClosed) {
    const auto root = sec::scratch("cfg");
    tn_test::live_daemon d(root / "daemon");
    d.start();
    const auto body = root / "adduser.xml";
    tn_test::live_daemon::write(body, sec::add_user_envelope("intruder", true));
    const auto moved = root / "moved.cfg";
    std::filesystem::rename(d.config_file(), moved);
    const std::string soap = "curl -s -o /dev/null -w '%{http_code}' --max-time 20 "
                             "-H 'Content-Type: text/xml' -H 'SOAPAction: \"x\"' --data-binary @" +
                             quote(body.string()) + " ";
    EXPECT_EQ(run(soap + quote(d.base_url() + "/soap")).out, "503");
    EXPECT_EQ(run(soap + quote(url_with(d, "admin", "secret", "/soap"))).out, "503");
    EXPECT_EQ(run("curl -s -o /dev/null -w '%{http_code}' --max-time 20 " +
                  quote(d.base_url() + "/platform/status"))
                  .out,
              "503");
    std::filesystem::rename(moved, d.config_file());
    EXPECT_NE(d.log_text().find("configuration file cannot be read"), std::string::npos);
    lumbrake::SoapClientProxy admin(d.soap_endpoint());
    std::vector<std::string> users, builtin, groups, builtin_groups;
    admin.EnumUsersAndGroups(users, builtin, groups, builtin_groups);
    EXPECT_EQ(std::find(users.begin(), users.end(), "intruder"), users.end());
}

// While another connection holds the database's exclusive lock for seconds, logins are still
// decided at once (right and wrong passwords alike).
TEST(auth, LoginDoesNotWaitForTheStorageTransaction) {
    const auto root = sec::scratch("lock");
    tn_test::live_daemon d(root / "daemon");
    d.start();
    lumbrake::SoapClientProxy admin(d.soap_endpoint());
    admin.AddUser("reader", "readerpw", false, {});
    const std::string wsdl = "curl -s -o /dev/null -w '%{http_code}' --max-time 4 ";
    ASSERT_EQ(run(wsdl + quote(url_with(d, "reader", "readerpw", "/wsdl"))).out, "404");

    const char* program = R"PY(
import sqlite3, sys, time
db = sqlite3.connect(sys.argv[1], isolation_level=None, timeout=30)
db.execute("begin exclusive")
print("locked", flush=True)
time.sleep(6)
db.execute("commit")
)PY";
    const std::string script = (root / "lock.py").string();
    tn_test::live_daemon::write(script, program);
    FILE* holder = ::popen(
        ("python3 " + quote(script) + " " + quote((d.data() / "trawlnest.db").string())).c_str(),
        "r");
    ASSERT_NE(holder, nullptr);
    char line[32] = {};
    ASSERT_NE(std::fgets(line, sizeof line, holder), nullptr);
    // Authenticated: the WSDL file is not installed here, so 404 (not 401) shows the login held.
    auto ok = run(wsdl + quote(url_with(d, "reader", "readerpw", "/wsdl")));
    auto admin_ok = run(wsdl + quote(url_with(d, "admin", "secret", "/wsdl")));
    auto wrong = run(wsdl + quote(url_with(d, "reader", "nope", "/wsdl")));
    ::pclose(holder);
    EXPECT_EQ(ok.out, "404");
    EXPECT_LT(ok.seconds, 2.0);
    EXPECT_EQ(admin_ok.out, "404");
    EXPECT_EQ(wrong.out, "401");
    EXPECT_LT(wrong.seconds, 2.0);
    // A password changed later is the one that counts.
    admin.SetUserPassword("reader", "newpw");
    EXPECT_EQ(run(wsdl + quote(url_with(d, "reader", "readerpw", "/wsdl"))).out, "401");
    EXPECT_EQ(run(wsdl + quote(url_with(d, "reader", "newpw", "/wsdl"))).out, "404");
}

// DATADIR and what the daemon writes into it are its own; a failed login is logged with the
// name and the address, never the password.
TEST(auth, DataDirIsPrivateAndFailedLoginsAreLogged) {
    const auto root = sec::scratch("perm");
    tn_test::live_daemon d(root / "daemon");
    d.start();
    struct stat st {};
    ASSERT_EQ(::stat(d.data().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    for (const char* name : {"trawlnest.db", "trawlnest.log"}) {
        ASSERT_EQ(::stat((d.data() / name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_mode & 077, 0u) << name;
    }
    auto r = run("curl -s -o /dev/null -w '%{http_code}' --max-time 10 " +
                 quote(url_with(d, "mallory", "Hunter2pw", "/wsdl")));
    EXPECT_EQ(r.out, "401");
    const std::string log = d.log_text();
    EXPECT_NE(log.find("Failed login for user 'mallory' from 127.0.0.1"), std::string::npos);
    EXPECT_EQ(log.find("Hunter2pw"), std::string::npos);
}

// A port held by another program: the start fails before readiness, with the reason on
// standard error and exit status 1, after the configured attempts.
TEST(auth, PortInUseFailsTheStart) {
    const auto root = sec::scratch("port");
    tn_test::live_daemon d(root / "daemon");
    d.set_extra_config("HTTP_BIND_ATTEMPTS=2\nHTTP_BIND_DELAY=1\n");
    d.start();
    EXPECT_EQ(d.stop(), 0);
    const char* program = R"PY(
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen(1)
print("bound", flush=True)
time.sleep(7)
)PY";
    const std::string script = (root / "hold.py").string();
    tn_test::live_daemon::write(script, program);
    FILE* holder = ::popen(("python3 " + quote(script) + " " + std::to_string(d.port())).c_str(), "r");
    ASSERT_NE(holder, nullptr);
    char line[32] = {};
    ASSERT_NE(std::fgets(line, sizeof line, holder), nullptr);
    std::string error;
    const auto started = std::chrono::steady_clock::now();
    try {
        d.start(std::chrono::seconds(20));
    } catch (const std::exception& e) {
        error = e.what();
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ::pclose(holder);
    EXPECT_NE(error.find("ended during start"), std::string::npos) << error;
    EXPECT_NE(error.find("Cannot listen on HTTP_PORT"), std::string::npos) << error;
    EXPECT_LT(seconds, 15.0);
}

} // namespace
