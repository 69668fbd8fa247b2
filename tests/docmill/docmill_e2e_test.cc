// Runs the built docmill program on fixture folders and checks its report and exit status.
#include "../support/command.h"
#include "../support/files.h"
#include "../support/ports.h"
#include "../support/script_server.h"
#include "api/api-typeutils.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <regex>
#include <set>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace lumbrake {
namespace {

namespace fs = std::filesystem;

const std::string docmill_path = std::string(TN_BINARY_DIR) + "/src/worker/docmill";
const fs::path data_dir = TN_TEST_DATA;
const std::string site = (data_dir / "site").string();

using tn_test::read_file;

using tn_test::write_file;

struct run_output {
    std::string out;
    std::string err;
    int status = -1;
};

// The process environment of every run: a configuration with LOGCFG, a DEPLOYDIR whose
// plugins folder holds the fixture plug-in, and an exported configuration directory.
class DocmillRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        char dir_template[] = "/tmp/tn-docmill-XXXXXX";
        ASSERT_NE(::mkdtemp(dir_template), nullptr);
        root_ = dir_template;
        fs::create_directories(root_ / "deploy" / "plugins");
        fs::copy_file(TN_FIXTURE_PLUGIN, root_ / "deploy" / "plugins" / "libtestmeta.so");
        write_file(root_ / "docmill.conf",
                   "LOGCFG=WORKER:WARNING\nDEPLOYDIR=" + (root_ / "deploy").string() + "\n");
        write_file(root_ / "environment",
                   "LUMBRAKE_CONFIG_FILE=" + (root_ / "docmill.conf").string() + "\n");
        make_export();
    }
    static void TearDownTestSuite() { fs::remove_all(root_); }

    static void make_export() {
        const fs::path e = root_ / "export";
        fs::create_directories(e);
        std::string xml;
        Plugin plugin;
        plugin.Name = "meta";
        plugin.DLLName = "docmill-test-meta";
        ASSERT_TRUE(plugin_to_xml(plugin, xml));
        write_file(e / "Plugin-1.xml", xml);
        write_file(e / "Plugin-0.xml", xml); // id 0 names no plug-in
        write_file(e / "Plugin-x.xml", xml); // no id
        DocFilter filter;
        filter.PluginID = 1;
        filter.Config = "origin=root";
        ASSERT_TRUE(docfilter_to_xml(filter, xml));
        write_file(e / "DocFilter-5.xml", xml);
        filter.Config = "origin=source";
        ASSERT_TRUE(docfilter_to_xml(filter, xml));
        write_file(e / "DocFilter-6.xml", xml);
        RendererPluginPipe pipe;
        pipe.DocFilterIDs = {5};
        ASSERT_TRUE(renderer_pipe_to_xml(pipe, xml));
        write_file(e / "RendererPluginPipe-0000000000.xml", xml);
        SourceConfiguration source;
        source.Name = "fixture source";
        source.RendererDocFilterIDs = {6};
        ASSERT_TRUE(source_to_xml(source, xml));
        write_file(e / "SourceConfiguration-0000000001.xml", xml);
        write_file(e / "SourceConfiguration-0000000002.xml", "<source name=\"broken\"");
    }

    // extra_env: NAME=value pairs added to the environment of the run.
    static run_output run(const std::vector<std::string>& args,
                          const std::vector<std::string>& extra_env = {}) {
        const fs::path out = root_ / "stdout", err = root_ / "stderr";
        // A run that hangs is killed; the test then fails on the status.
        std::vector<std::string> full = {"/usr/bin/timeout", "-s", "KILL", "120", docmill_path};
        full.insert(full.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : full)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        std::vector<std::string> env_strings;
        for (char** e = environ; *e; ++e)
            if (std::string_view(*e).substr(0, 19) != "LUMBRAKE_ENV_STORE=")
                env_strings.push_back(*e);
        env_strings.push_back("LUMBRAKE_ENV_STORE=" + (root_ / "environment").string());
        env_strings.insert(env_strings.end(), extra_env.begin(), extra_env.end());
        std::vector<char*> envp;
        for (std::string& e : env_strings)
            envp.push_back(e.data());
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        pid_t pid = 0;
        run_output r;
        int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(rc);
            return r;
        }
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        r.out = read_file(out);
        r.err = read_file(err);
        return r;
    }

    // The report with the run's clock and the fixture's location made constant.
    static std::string masked(std::string text) {
        text = std::regex_replace(text, std::regex("timestamp=\"[0-9]+\""), "timestamp=\"T\"");
        std::string::size_type at;
        while ((at = text.find(site)) != std::string::npos)
            text.replace(at, site.size(), "@F@");
        return text;
    }

    // Compares with data/<name>; TN_UPDATE_GOLDEN=1 rewrites the file instead.
    static void expect_golden(const std::string& text, const std::string& name) {
        const fs::path golden = data_dir / name;
        if (std::getenv("TN_UPDATE_GOLDEN")) {
            write_file(golden, text);
            return;
        }
        EXPECT_EQ(text, read_file(golden)) << "golden file " << golden;
    }

    static std::string file_url(const std::string& rest) { return "file://" + site + rest; }

    static inline fs::path root_;
};

TEST_F(DocmillRun, ReportOfAnHtmlPage) {
    run_output r = run({"1000000", "d1", file_url("/page.html")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    expect_golden(masked(r.out), "page.report");

    // The report's pieces in their order.
    const std::string& o = r.out;
    EXPECT_EQ(o.rfind("MIME: text/html\nCharset: ", 0), 0u) << o;
    EXPECT_NE(o.find("\nHeaders:\n\nOutlinks: \n  "), std::string::npos);
    EXPECT_NE(o.find("\n\nFFF:\n<?xml version=\"1.0\"?>\n<document id=\"d1\" url=\"" +
                     file_url("/page.html") + "\" timestamp=\""),
              std::string::npos);
    EXPECT_NE(o.find("</document>\n\n\nContent:\n" + read_file(site + "/page.html") + "\n"),
              std::string::npos);

    // The root's score is the base score of the command line.
    run_output half = run({"500000", "d1", file_url("/page.html")});
    EXPECT_NE(half.out.find("\" score= \"0.5\" >\n"), std::string::npos);

    run_output words = run({"--output-words", "1000000", "d1", file_url("/page.html")});
    EXPECT_EQ(words.status, 0);
    EXPECT_EQ(masked(words.out), masked(r.out));
}

TEST_F(DocmillRun, DirectoryUrls) {
    run_output r = run({"1000000", "d", file_url("/dir")});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Is a redirect to " + file_url("/dir/") + "\n");

    r = run({"500000", "d", file_url("/dir/")});
    EXPECT_EQ(r.status, 0);
    const std::string base = file_url("/dir/") + "/";
    EXPECT_EQ(r.out, "MIME: \nCharset: \nHeaders:\n\nOutlinks: \n"
                     "  500001 " +
                         base +
                         "a%20b.html\n"
                         "  500001 " +
                         base +
                         "plain.txt\n"
                         "  500001 " +
                         base +
                         "sub/\n"
                         "\nNo FFF\n\nContent:\n\n");
}

TEST_F(DocmillRun, FailuresAndTheirStatuses) {
    struct {
        std::vector<std::string> args;
        std::string out;
        int status;
    } cases[] = {
        {{"1", "d", file_url("/missing.html")}, "Document not found\n", 1},
        {{"1", "d", "file://otherhost/etc/hostname"}, "Document not found\n", 1},
        {{site + "/missing.html", "1", "d", "http://h/m.html", "text/html", ""},
         "Remote server error: Cannot open file " + site +
             "/missing.html: No such file or directory\n",
         2},
        {{"1", "d", "foo://host/x"}, "Remote server error: \n", 2},
        // A device is not a document, and reading it must not run forever.
        {{"1", "d", "file:///dev/zero"}, "Document not found\n", 1},
        // Readable by name, but every read fails.
        {{"1", "d", "file:///proc/self/mem"}, "Document not found\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.back());
        run_output r = run(c.args);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, c.status);
    }
}

TEST_F(DocmillRun, FifoIsNotFoundWithoutHanging) {
    const fs::path fifo = root_ / "pipe.html";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    run_output r = run({"1", "d", "file://" + fifo.string()});
    EXPECT_EQ(r.out, "Document not found\n");
    EXPECT_EQ(r.status, 1);
    fs::remove(fifo);
}

TEST_F(DocmillRun, UsageOnBadCommandLines) {
    const std::string usage = read_file(data_dir / "usage.txt");
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"1", "d"},
        {"1", "d", "u", "x"},
        {"f", "1", "d", "u", "m"},
        {"--source=1", "1", "d", file_url("/page.html")},
    };
    for (const auto& args : bad) {
        run_output r = run(args);
        EXPECT_EQ(r.err, usage) << ::testing::PrintToString(args);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.status, 0);
    }
}

TEST_F(DocmillRun, FffFile) {
    const fs::path xml = root_ / "out.xml";
    run_output r = run({"--fff-file=" + xml.string(), "1000000", "d1", file_url("/page.html")});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\n\nWriting fff to " + xml.string() + "\n\nContent:\n"),
              std::string::npos);
    EXPECT_EQ(r.out.find("<?xml"), std::string::npos);
    const std::string written = read_file(xml);
    EXPECT_EQ(written.rfind("<?xml version=\"1.0\"?>\n<document id=\"d1\"", 0), 0u);
    EXPECT_EQ(written.substr(written.size() - 13), "</document>\n\n");

    // The same XML as the report shows on standard output.
    run_output plain = run({"1000000", "d1", file_url("/page.html")});
    EXPECT_NE(masked(plain.out).find(masked(written)), std::string::npos);

    // A file that cannot be opened is an error, not a silent loss.
    r = run({"--fff-file=" + (root_ / "no-such-dir" / "out.xml").string(), "1000000", "d1",
             file_url("/page.html")});
    EXPECT_NE(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Cannot open FFF file "), std::string::npos) << r.err;

    // A file that opens but takes no bytes.
    r = run({"--fff-file=/dev/full", "1000000", "d1", file_url("/page.html")});
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.err, "Error writing FFF file /dev/full\n");
}

TEST_F(DocmillRun, ConfigurationDirectoryRunsThePipeline) {
    const std::string e = (root_ / "export").string();
    run_output r = run({"--configdir=" + e, "--source=1", "1000000", "d1", file_url("/page.html")});
    EXPECT_EQ(r.status, 0) << r.err;
    // The root pipeline's docfilter and the source's both ran.
    const auto root_meta = r.out.find("key=\"origin\">root</meta>");
    const auto source_meta = r.out.find("key=\"origin\">source</meta>");
    EXPECT_NE(root_meta, std::string::npos) << r.out;
    EXPECT_NE(source_meta, std::string::npos) << r.out;
    EXPECT_EQ(r.err, "Looking for plugins and docfilters in " + e +
                         "\n"
                         "Ignoring " +
                         e +
                         "/Plugin-0.xml\n"
                         "Registering plugin 1\n"
                         "Ignoring " +
                         e +
                         "/Plugin-x.xml\n"
                         "Configuring docfilter 5\n"
                         "Configuring docfilter 6\n");

    // A missing source file: the root pipeline alone.
    r = run({"--configdir=" + e, "--source=7", "1000000", "d1", file_url("/page.html")});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("key=\"origin\">root</meta>"), std::string::npos);
    EXPECT_EQ(r.out.find("key=\"origin\">source</meta>"), std::string::npos);
    EXPECT_NE(r.err.find("Can't read " + e + "/SourceConfiguration-0000000007.xml: "),
              std::string::npos)
        << r.err;
}

TEST_F(DocmillRun, ConfigurationDirectoryWithoutUsableSourceFails) {
    const std::string e = (root_ / "export").string();
    struct {
        std::vector<std::string> options;
        std::string message;
    } cases[] = {
        {{"--configdir=" + e}, "No source specified\n"},
        {{"--configdir=" + e, "--source=2"}, "Error reading source 2\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"1000000", "d1", file_url("/page.html")});
        run_output r = run(args);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.status, 2);
        EXPECT_TRUE(r.err.ends_with(c.message)) << r.err;
    }
}

TEST_F(DocmillRun, TextExclusionDropsTheMarkedRegion) {
    run_output r = run({"1000000", "d1", file_url("/page.html")});
    EXPECT_NE(r.out.find("publish"), r.out.rfind("publish")) << "in the FFF and the content";
    run_output x = run({"--text-exclusion-begin=<!--skip-->", "--text-exclusion-end=<!--/skip-->",
                        "1000000", "d1", file_url("/page.html")});
    EXPECT_EQ(x.status, 0);
    const std::string fff = x.out.substr(0, x.out.find("\nContent:\n"));
    EXPECT_EQ(fff.find("publish"), std::string::npos) << fff;
    EXPECT_NE(fff.find("quarter"), std::string::npos);
    // A marker that does not compile leaves the text whole.
    run_output bad = run({"--text-exclusion-begin=(", "--text-exclusion-end=)", "1000000", "d1",
                          file_url("/page.html")});
    EXPECT_EQ(bad.status, 0);
    EXPECT_NE(bad.out.substr(0, bad.out.find("\nContent:\n")).find("publish"), std::string::npos);
}

TEST_F(DocmillRun, LargeFileIsCutAndStillParsed) {
    const fs::path big = root_ / "big.html";
    {
        std::ofstream out(big, std::ios::binary);
        out << "<html><head><title>Big page</title></head><body><p>opening words</p>";
        std::string blanks(1 << 20, '\n');
        for (int i = 0; i < 20; ++i)
            out << blanks;
        out << "<p>closing words</p></body></html>";
    }
    run_output r = run({"1000000", "big", "file://" + big.string()});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string fff = r.out.substr(0, r.out.find("\nContent:\n"));
    EXPECT_NE(fff.find("opening"), std::string::npos);
    EXPECT_EQ(fff.find("closing"), std::string::npos);
    EXPECT_EQ(r.out.size() - (r.out.find("\nContent:\n") + 10), 16777216u + 1);
    fs::remove(big);
}

TEST_F(DocmillRun, ClosedOutputDoesNotKill) {
    // More output than a pipe holds, to a reader that has gone: the writes fail, the run ends.
    const fs::path page = root_ / "long.html";
    write_file(page, "<html><body><p>" + std::string(1 << 20, 'x') + "</p></body></html>");
    const std::string command = "LUMBRAKE_ENV_STORE='" + (root_ / "environment").string() + "' '" +
                                docmill_path + "' 1000000 d 'file://" + page.string() +
                                "' | true; echo \\${PIPESTATUS[0]}";
    FILE* p = ::popen(("bash -c \"" + command + "\"").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buffer[64] = {};
    ASSERT_NE(std::fgets(buffer, sizeof buffer, p), nullptr);
    ::pclose(p);
    EXPECT_STREQ(buffer, "0\n");
    fs::remove(page);
}

TEST_F(DocmillRun, BadInput) {
    const fs::path binary = root_ / "blob";
    std::string bytes;
    for (int i = 0; i < 4096; ++i)
        bytes += static_cast<char>((i * 7919) & 0xff);
    write_file(binary, bytes);
    run_output r = run({"1", "d", "file://" + binary.string()});
    EXPECT_EQ(r.out, "Parse error: unknown content type ''\n");
    EXPECT_EQ(r.status, 2);

    if (::geteuid() != 0) {
        ::chmod(binary.c_str(), 0);
        r = run({"1", "d", "file://" + binary.string()});
        EXPECT_EQ(r.out, "Document not found\n");
        EXPECT_EQ(r.status, 1);
    }
    fs::remove(binary);
}

// Real documents of the machine's documentation trees.
std::vector<std::string> find_lines(const std::string& command) {
    std::vector<std::string> lines;
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return lines;
    char buffer[4096];
    while (std::fgets(buffer, sizeof buffer, p)) {
        std::string s(buffer);
        if (!s.empty() && s.back() == '\n') s.pop_back();
        lines.push_back(s);
    }
    ::pclose(p);
    return lines;
}

TEST_F(DocmillRun, RealHtmlDocumentation) {
    std::vector<std::string> pages = find_lines(
        "find /usr/share/doc -maxdepth 3 -name '*.html' -type f 2>/dev/null | sort | head -8");
    if (pages.empty()) GTEST_SKIP() << "no HTML documentation on this machine";
    for (const std::string& page : pages) {
        SCOPED_TRACE(page);
        run_output r = run({"1000000", "doc", "file://" + page});
        EXPECT_EQ(r.status, 0) << r.out.substr(0, 200);
        EXPECT_EQ(r.out.rfind("MIME: text/html\n", 0), 0u);
        EXPECT_NE(r.out.find("\nFFF:\n<?xml version=\"1.0\"?>\n"), std::string::npos);
        // The content is the file itself.
        EXPECT_TRUE(r.out.ends_with("\nContent:\n" + read_file(page) + "\n"));
    }
}

TEST_F(DocmillRun, ListingEqualsFind) {
    const std::string dir = "/usr/share/doc";
    std::vector<std::string> names =
        find_lines("find " + dir + " -mindepth 1 -maxdepth 1 -printf '%f\\n' 2>/dev/null");
    if (names.empty()) GTEST_SKIP() << "no documentation tree";
    run_output r = run({"0", "d", "file://" + dir + "/"});
    ASSERT_EQ(r.status, 0);
    std::set<std::string> listed;
    std::istringstream lines(r.out.substr(r.out.find("Outlinks: \n") + 11));
    const std::string prefix = "  1 file://" + dir + "//";
    for (std::string line; std::getline(lines, line) && !line.empty();) {
        ASSERT_EQ(line.rfind(prefix, 0), 0u) << line;
        std::string name = line.substr(prefix.size());
        if (name.ends_with("/")) name.pop_back();
        listed.insert(name);
    }
    EXPECT_EQ(listed, std::set<std::string>(names.begin(), names.end()));
}

// docmill loads the network, Word and digest libraries when a document first needs them. The
// dynamic loader's own account (LD_DEBUG=files, on standard error) says what a run mapped.
class DocmillLibraries : public DocmillRun {
protected:
    struct traced_run {
        run_output r;
        std::set<std::string> loaded; // of {curl, c-client, wv, gsf, crypto}
    };

    static traced_run run_traced(const std::vector<std::string>& args) {
        traced_run t;
        t.r = run(args, {"LD_DEBUG=files"});
        static const std::pair<const char*, const char*> families[] = {
            {"libcurl.so", "curl"}, {"libc-client.so", "c-client"}, {"libwv-1.2.so", "wv"},
            {"libgsf-1.so", "gsf"}, {"libcrypto.so", "crypto"}};
        std::istringstream in(t.r.err);
        for (std::string line; std::getline(in, line);) {
            const std::size_t at = line.find("file=");
            if (at == std::string::npos) continue;
            const std::string path = line.substr(at + 5, line.find(' ', at) - at - 5);
            const std::string name = fs::path(path).filename().string();
            for (const auto& [prefix, family] : families)
                if (name.rfind(prefix, 0) == 0) t.loaded.insert(family);
        }
        return t;
    }

    static constexpr auto& have = tn_test::have_program;
};

// One nginx on 127.0.0.1 serving dir/www over http, and over https with a self-signed
// certificate when openssl can make one.
class nginx_server {
public:
    explicit nginx_server(const fs::path& dir) : dir_(dir) {
        if (!fs::exists("/usr/sbin/nginx")) return;
        fs::create_directories(dir / "tmp");
        const std::string d = dir.string();
        const bool tls =
            std::system(("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 "
                         "-nodes -days 2 -subj /CN=localhost -addext subjectAltName=IP:127.0.0.1 "
                         "-keyout '" + d +
                         "/key.pem' -out '" + d + "/cert.pem' >/dev/null 2>&1")
                            .c_str()) == 0;
        const int port = tn_test::reserve_port();
        const int tls_port = tls ? tn_test::reserve_port() : 0;
        std::ostringstream conf;
        conf << "daemon off; master_process off; worker_processes 1;\n"
             << "pid " << d << "/nginx.pid; error_log " << d << "/error.log;\n"
             << "events { worker_connections 16; }\nhttp {\n access_log off;\n";
        for (const char* t : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
            conf << " " << t << "_temp_path " << d << "/tmp/" << t << ";\n";
        conf << " types { text/html html; }\n server {\n  listen 127.0.0.1:" << port << ";\n";
        if (tls)
            conf << "  listen 127.0.0.1:" << tls_port << " ssl;\n  ssl_certificate " << d
                 << "/cert.pem;\n  ssl_certificate_key " << d << "/key.pem;\n";
        conf << "  root " << d << "/www;\n }\n}\n";
        tn_test::write_file(dir / "nginx.conf", conf.str());
        pid_ = ::fork();
        if (pid_ == 0) {
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::execl("/usr/sbin/nginx", "nginx", "-p", d.c_str(), "-c", (d + "/nginx.conf").c_str(),
                    "-e", (d + "/error.log").c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid_ > 0 && listening(port) && (!tls || listening(tls_port))) {
            http_ = "http://127.0.0.1:" + std::to_string(port);
            if (tls) https_ = "https://127.0.0.1:" + std::to_string(tls_port);
        }
    }
    ~nginx_server() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    nginx_server(const nginx_server&) = delete;
    nginx_server& operator=(const nginx_server&) = delete;

    const std::string& http() const { return http_; }   // empty when nginx did not start
    const std::string& https() const { return https_; } // empty without TLS

private:
    static bool listening(int port) {
        for (int i = 0; i < 200; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<std::uint16_t>(port));
            const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
            ::close(fd);
            if (ok) return true;
            ::usleep(25000);
        }
        return false;
    }

    fs::path dir_;
    pid_t pid_ = -1;
    std::string http_, https_;
};

TEST_F(DocmillLibraries, LocalDocumentsLoadOnlyWhatTheirFormatNeeds) {
    struct local_case {
        std::string name;
        std::vector<std::string> args;
        std::string text;                // in the FFF
        std::set<std::string> families;  // loaded
    };
    std::vector<local_case> cases = {
        {"HTML page", {"1000000", "d1", file_url("/page.html")},
         "Sales rose by ten percent in the third quarter.", {}},
        {"Word file",
         {std::string(TN_SOURCE_DIR) + "/tests/doc/data/notes.doc", "1000000", "d",
          "file:///notes.doc", "application/msword", ""},
         // libwv is the reader child's (its output goes to /dev/null): docmill maps none.
         "Main text with a note in the middle.", {}},
    };
    // An encrypted PDF, written by Ghostscript and encrypted (RC4, MD5 keys) by qpdf.
    const fs::path pdf = root_ / "encrypted.pdf";
    if (have("gs") && have("qpdf") &&
        std::system(("gs -q -sDEVICE=pdfwrite -o '" + (root_ / "plain.pdf").string() +
                     "' -c '/Helvetica findfont 14 scalefont setfont 72 700 moveto "
                     "(Locked harvest words) show showpage' >/dev/null 2>&1 && "
                     "qpdf --allow-weak-crypto --encrypt '' owner 128 -- '" +
                     (root_ / "plain.pdf").string() + "' '" + pdf.string() + "'")
                        .c_str()) == 0)
        cases.push_back({"encrypted PDF", {"1000000", "d", "file://" + pdf.string()},
                         "Locked harvest words", {"crypto"}});
    else
        ADD_FAILURE() << "gs and qpdf (Debian packages ghostscript, qpdf) make the PDF case";

    for (const local_case& c : cases) {
        SCOPED_TRACE(c.name);
        traced_run t = run_traced(c.args);
        EXPECT_EQ(t.r.status, 0) << t.r.err.substr(0, 2000);
        EXPECT_NE(t.r.out.find(c.text), std::string::npos) << t.r.out.substr(0, 400);
        EXPECT_EQ(t.loaded, c.families);
    }
}

TEST_F(DocmillLibraries, NetworkSchemesFetchThroughTheirLibraries) {
    const fs::path dir = root_ / "nginx";
    fs::create_directories(dir / "www");
    tn_test::write_file(dir / "www" / "served.html",
                        "<html><head><title>Served</title></head><body><p>Served over the "
                        "wire.</p><a href=\"next.html\">next</a></body></html>");
    nginx_server web(dir);
    ASSERT_FALSE(web.http().empty()) << "nginx did not start (Debian package nginx)";
    script_server news({"python3", std::string(TN_SOURCE_DIR) + "/tests/news/data/nntp_server.py"});
    ASSERT_NE(news.port(), 0);

    struct net_case {
        std::string url;
        std::string text;     // in the FFF
        std::string outlink;  // in the report
        std::string family;   // loaded; the other network library is not
    };
    std::vector<net_case> cases = {
        {web.http() + "/served.html", "Served over the wire.", web.http() + "/next.html", "curl"},
        {"nntp://127.0.0.1:" + std::to_string(news.port()) + "/comp.lang.x/3", "Plain body.",
         "", "c-client"},
        {"nntp://127.0.0.1:" + std::to_string(news.port()) + "/comp.lang.x/", "",
         "nntp://127.0.0.1:" + std::to_string(news.port()) + "/comp.lang.x/123", "c-client"},
    };
    if (!web.https().empty())
        cases.push_back({web.https() + "/served.html", "Served over the wire.",
                         web.https() + "/next.html", "curl"});
    for (const net_case& c : cases) {
        SCOPED_TRACE(c.url);
        traced_run t = run_traced({"1000000", "d", c.url});
        EXPECT_EQ(t.r.status, 0) << t.r.err.substr(0, 2000);
        if (!c.text.empty()) {
            EXPECT_NE(t.r.out.find(c.text), std::string::npos) << t.r.out.substr(0, 400);
        }
        if (!c.outlink.empty()) {
            EXPECT_NE(t.r.out.find(" " + c.outlink + "\n"), std::string::npos) << t.r.out;
        }
        EXPECT_TRUE(t.loaded.count(c.family));
        EXPECT_FALSE(t.loaded.count(c.family == "curl" ? "c-client" : "curl"));
    }
}

} // namespace
} // namespace lumbrake
