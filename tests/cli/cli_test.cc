// trawlnest-cli run as a real process against a stand-in daemon on 127.0.0.1: endpoint and
// argument rules, the usage text, each command's requests, output and exit status, faults.
#include "../support/files.h"
#include "../support/loopback_server.h"
#include "api-wire/wire-records.h"
#include "fake_daemon.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

extern char** environ;

using namespace lumbrake;
using EasySoap::SOAPMethod;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string tmpdir() {
    const char* t = std::getenv("TEST_TMPDIR");
    return t ? t : "/tmp/";
}

std::string slurp(const std::string& path) {
    return tn_test::read_file(path);
}

void spit(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// Runs the program with the given arguments; `env_endpoint` (when not null) goes into
// TRAWLNEST_ENDPOINT, which is otherwise absent.
Result run(const std::vector<std::string>& args, const char* env_endpoint = nullptr) {
    const std::string out = tmpdir() + "cli.out", err = tmpdir() + "cli.err";
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string program = TN_BINARY_DIR "/src/cli/trawlnest-cli";
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<std::string> env_strings;
    for (char** e = environ; *e; ++e)
        if (std::string(*e).rfind("TRAWLNEST_ENDPOINT=", 0) != 0) env_strings.push_back(*e);
    if (env_endpoint) env_strings.push_back(std::string("TRAWLNEST_ENDPOINT=") + env_endpoint);
    std::vector<char*> envp;
    for (auto& s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);
    pid_t pid;
    Result r;
    EXPECT_EQ(posix_spawn(&pid, program.c_str(), &fa, nullptr, argv.data(), envp.data()), 0);
    posix_spawn_file_actions_destroy(&fa);
    int ws = 0;
    waitpid(pid, &ws, 0);
    r.status = WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    r.out = slurp(out);
    r.err = slurp(err);
    return r;
}

const char* const kUsageFirst =
    "usage: trawlnest-cli [--endpoint=<endpoint>] <command> [<command-options>]\n";

bool is_usage(const Result& r) {
    return r.status == 1 && r.out.empty() && r.err.rfind(kUsageFirst, 0) == 0 &&
           r.err.find("    Sets a new root renderer pipe\n") != std::string::npos;
}

class Cli : public ::testing::Test {
protected:
    FakeDaemon d;
    Result cli(std::vector<std::string> args) {
        args.insert(args.begin(), "--endpoint=" + d.url());
        return run(args);
    }
};

TEST(CliUsage, UsageTextIsExact) {
    Result r = run({});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    const std::string expected =
        std::string(kUsageFirst) +
        " endpoint can also be specified as TRAWLNEST_ENDPOINT in the environment\n"
        " commands are:\n"
        "  adddocument --arcid=<arcid> --url=<url> --mimetype=<mimtype> <file>\n"
        "    Add or replace document\n"
        "  removedocument --docid=<docid>\n"
        "    Remove document\n"
        "  enumplugindlls\n"
        "    Enumerate plugin DLLs\n"
        "  enumplugins\n"
        "    Enumerate plugins\n"
        "  addplugin --name=<name> --description=<description> <plugindll> "
        "{<dllparams>,--dllparams=<file>}\n"
        "    Create a new plugin\n"
        "  editplugin --id=<id> [--name=<name>] [--description=<description>] <plugindll> "
        "{<dllparams>,--dllparams=<file>}\n"
        "    Edit existing plugin <id>\n"
        "  getplugin --id=<id> [--dllparams=<file>]\n"
        "    Retrieve existing plugin <id>\n"
        "  removeplugin --id=<id>\n"
        "    Remove plugin <id>\n"
        "  enumdocfilters\n"
        "    Enumerate document filters\n"
        "  adddocfilter --name=<name> --description=<description> <pluginid> "
        "{<cfg>,--cfg=<file>}\n"
        "    Create a new docfilter\n"
        "  editdocfilter --id=<id> [--name=<name>] [--description=<description>] <pluginid> "
        "{<cfg>,--cfg=<file>}\n"
        "    Edit existing docfilter <id>\n"
        "  getdocfilter --id=<id> [--cfg=<file>]\n"
        "    Retrieve existing docfilter <id>\n"
        "  removedocfilter --id=<id>\n"
        "    Remove docfilter <id>\n"
        "  getrootrendererpipe\n"
        "    Retrieve current root renderer pipe\n"
        "  setrootrendererpipe [<docfilterid>] ...\n"
        "    Sets a new root renderer pipe\n";
    EXPECT_EQ(r.err, expected);
}

TEST_F(Cli, UsageErrorsSendNothing) {
    const std::string ep = "--endpoint=" + d.url();
    const std::vector<std::vector<std::string>> cases = {
        {"enumplugins"},                                    // no endpoint at all
        {"--endpoint=ftp://127.0.0.1/soap", "enumplugins"}, // wrong scheme
        {ep},                                               // no command
        {ep, "frobnicate"},
        {ep, "EnumPlugins"}, // case-sensitive
        {ep, "adddocument", "--url=u", "--arcid=1", "--mimetype=m", "f"},
        {ep, "adddocument", "--arcid=1", "--url=u", "--mimetype=m"},
        {ep, "removedocument"},
        {ep, "removedocument", "--id=3"},
        {ep, "getrootrendererpipe", "x"},
        {ep, "addplugin", "--name=n", "dll", "params"},
        {ep, "editplugin", "--id=1", "--name=n", "--description=d", "dll"},
        {ep, "editplugin", "--id=1", "dll"},
        {ep, "editdocfilter", "--name=n", "--id=1", "3", "cfg"},
        {ep, "getplugin"},
        {ep, "getdocfilter", "--id=1", "--cfg=a", "b"},
        {ep, "removeplugin", "--id=1", "extra"},
    };
    for (const auto& args : cases) {
        Result r = run(args);
        EXPECT_TRUE(is_usage(r)) << ::testing::PrintToString(args) << "\n" << r.err;
    }
    EXPECT_TRUE(d.calls().empty());
}

TEST_F(Cli, EndpointFromEnvironmentOptionWinsAndNoSchemeMeansHttp) {
    d.on("RemoveDocument", [](const SOAPMethod&, SOAPMethod&) {});
    Result r = run({"removedocument", "--docid=a"}, d.url().c_str());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Document removed\n");
    // The option beats a useless environment value.
    r = run({"--endpoint=" + d.url(), "removedocument", "--docid=b"}, "ftp://nowhere/");
    EXPECT_EQ(r.status, 0) << r.err;
    // Without a scheme the endpoint parses as http; here it names no reachable server.
    r = run({"--endpoint=127.0.0.1", "removedocument", "--docid=c"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Error talking to server: ", 0), 0u) << r.err;
    EXPECT_EQ(d.methods(), (std::vector<std::string>{"RemoveDocument", "RemoveDocument"}));
}

TEST_F(Cli, AddDocumentSendsFileBytesAndPrintsId) {
    std::string content, url, mime;
    int arcid = -1;
    d.on("AddDocument", [&](const SOAPMethod& req, SOAPMethod& resp) {
        arcid = req.GetParameter("arcid").GetInt();
        url = req.GetParameter("url").GetString();
        mime = req.GetParameter("mimetype").GetString();
        EasySoap::SOAPBase64 b;
        req.GetParameter("content") >> b;
        content = b.bytes;
        resp.AddParameter("docid") << std::string("0f3a-77");
    });
    std::string bytes(10000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    const std::string file = tmpdir() + "doc.bin";
    spit(file, bytes);
    Result r =
        cli({"adddocument", "--arcid=12", "--url=http://h/\xc3\xa9", "--mimetype=app/x", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Added document 0f3a-77\n");
    EXPECT_EQ(arcid, 12);
    EXPECT_EQ(url, "http://h/\xc3\xa9");
    EXPECT_EQ(mime, "app/x");
    EXPECT_EQ(content, bytes);

    // An empty file, and an archive id that is no number (sent as 0).
    spit(file, "");
    r = cli({"adddocument", "--arcid=abc", "--url=u", "--mimetype=m", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(arcid, 0);
    EXPECT_EQ(content, "");
}

TEST_F(Cli, TextsXmlCannotCarryAreRefusedBeforeSending) {
    const std::string file = tmpdir() + "plain.txt";
    spit(file, "x");
    for (const std::string& url : {std::string("http://h/\xff"), std::string("http://h/\x01"),
                                   std::string("http://h/\xed\xa0\x80")}) {
        Result r = cli({"adddocument", "--arcid=1", "--url=" + url, "--mimetype=m", file});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find("Cannot send url: XML cannot carry its text"), std::string::npos)
            << r.err;
    }
    Result r = cli({"addplugin", "--name=bad\x02", "--description=d", "x.so", "p"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("XML cannot carry"), std::string::npos) << r.err;
    EXPECT_TRUE(d.calls().empty());
}

TEST(CliTimeout, ServerThatAcceptsAndStaysSilentEndsTheCallWithAMessage) {
    // Accepts connections and holds them (closed after 20 s, so a client without a time-out
    // still ends).
    int port = 0;
    int listener = tn_test::listen_loopback(port, 8);
    ASSERT_GE(listener, 0);
    std::atomic<bool> done{false};
    std::thread holder([listener, &done] {
        std::vector<int> held;
        pollfd p{listener, POLLIN, 0};
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done && std::chrono::steady_clock::now() < end) {
            if (::poll(&p, 1, 100) == 1) held.push_back(::accept(listener, nullptr, nullptr));
        }
        for (int fd : held)
            ::close(fd);
    });
    ::setenv("TRAWLNEST_TIMEOUT", "1", 1);
    const auto begin = std::chrono::steady_clock::now();
    Result r = run({"--endpoint=http://127.0.0.1:" + std::to_string(port) + "/soap",
                    "enumplugins"});
    const auto took = std::chrono::steady_clock::now() - begin;
    ::unsetenv("TRAWLNEST_TIMEOUT");
    done = true;
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("SOAP call timed out after 1 seconds"), std::string::npos) << r.err;
    EXPECT_LT(took, std::chrono::seconds(10));
    holder.join();
    ::close(listener);
}

TEST_F(Cli, UnreadableFilesAndFaults) {
    d.on("RemoveDocument", [](const SOAPMethod&, SOAPMethod&) { throw FakeFault{"NotFound"}; });
    const std::string missing = tmpdir() + "no-such-file";
    Result r = cli({"adddocument", "--arcid=1", "--url=u", "--mimetype=m", missing});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Can't read " + missing + ": No such file or directory\n");
    r = cli({"addplugin", "--name=n", "--description=d", "x.so", "--dllparams=" + missing});
    EXPECT_EQ(r.err, "Can't read " + missing + ": No such file or directory\n");
    r = cli({"adddocfilter", "--name=n", "--description=d", "1", "--cfg=" + tmpdir()});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Can't read " + tmpdir() + ": ", 0), 0u) << r.err;
    EXPECT_TRUE(d.calls().empty());

    r = cli({"removedocument", "--docid=zz"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error talking to server: SOAP Fault: NotFound\n");
    EXPECT_EQ(d.calls().at(0).request.GetParameter("docid").GetString(), "zz");
}

TEST_F(Cli, EnumerationsPrintEveryEntry) {
    d.on("EnumPluginDLLs", [](const SOAPMethod& req, SOAPMethod& r) {
        EXPECT_EQ(req.GetParameter("types").GetNumParams(), 0u);
        r.AddParameter("infos") << std::vector<PluginDLLInfo>{
            {ARCHIVEFFF_PLUGINTYPE, "libhtml.so", "HTML renderer"},
            {UNKNOWN_PLUGINTYPE, "libx.so", "X"}};
    });
    d.on("EnumPlugins", [](const SOAPMethod& req, SOAPMethod& r) {
        EXPECT_FALSE(req.GetParameter("full").GetBoolean());
        PluginInfo p;
        p.PluginID = 4;
        p.Type = ARCHIVEFFF_PLUGINTYPE;
        p.PluginConfiguration.Name = "Html";
        p.PluginConfiguration.Description = "renders";
        r.AddParameter("infos") << std::vector<PluginInfo>{p};
    });
    d.on("EnumDocFilters", [](const SOAPMethod&, SOAPMethod& r) {
        DocFilterInfo f;
        f.DocFilterID = 9;
        f.DocFilterConfiguration.Name = "strip";
        f.DocFilterConfiguration.Description = "strips";
        r.AddParameter("infos") << std::vector<DocFilterInfo>{f};
    });
    Result r = cli({"enumplugindlls"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Available plugin DLLs:\n"
                     "Plugin DLL 'libhtml.so' (Archive FFF) :\nHTML renderer\n\n"
                     "Plugin DLL 'libx.so' (Undefined) :\nX\n\n");
    r = cli({"enumplugins", "ignored", "too"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Available plugins:\n  \"Html\" [Archive FFF] ID 4: \nrenders\n");
    r = cli({"enumdocfilters"});
    EXPECT_EQ(r.out, "Available docfilters:\n  'strip' [Undefined] ID 9: \nstrips\n");
}

TEST_F(Cli, PluginLifecycle) {
    Plugin stored;
    stored.Type = ARCHIVEFFF_PLUGINTYPE;
    stored.Name = "old";
    stored.Description = "old desc";
    stored.DLLName = "old.so";
    stored.DLLParameters = "a=1";
    Plugin sent;
    int sent_magic = 0;
    d.on("AddPlugin", [&](const SOAPMethod& req, SOAPMethod& r) {
        req.GetParameter("plugin") >> sent;
        r.AddParameter("id") << 17;
    });
    d.on("GetPlugin", [&](const SOAPMethod& req, SOAPMethod& r) {
        if (req.GetParameter("id").GetInt() != 5) throw FakeFault{"NotFound"};
        r.AddParameter("plugin") << stored;
        r.AddParameter("magic") << -99;
    });
    d.on("SetPlugin", [&](const SOAPMethod& req, SOAPMethod&) {
        req.GetParameter("plugin") >> sent;
        sent_magic = req.GetParameter("magic").GetInt();
    });
    d.on("RemovePlugin", [](const SOAPMethod&, SOAPMethod&) {});

    const std::string params = tmpdir() + "params.txt";
    spit(params, "x=1\ny=\xc3\xa9 <&>\n");
    Result r = cli({"addplugin", "--name=N", "--description=D", "lib.so", "--dllparams=" + params});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Created new plugin, id 17\n");
    EXPECT_EQ(sent.Name, "N");
    EXPECT_EQ(sent.DLLName, "lib.so");
    EXPECT_EQ(sent.DLLParameters, "x=1\ny=\xc3\xa9 <&>\n");
    EXPECT_TRUE(sent.ACL.empty());

    // Only the DLL name and parameters given: name and description stay.
    r = cli({"editplugin", "--id=5", "new.so", "b=2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sent.Name, "old");
    EXPECT_EQ(sent.Description, "old desc");
    EXPECT_EQ(sent.DLLName, "new.so");
    EXPECT_EQ(sent.DLLParameters, "b=2");
    EXPECT_EQ(sent_magic, -99);
    EXPECT_EQ(r.out,
              "Plugin \"old\" [Archive FFF]: \nold desc\nDLLName: new.so\nParameters:\nb=2\n");

    r = cli({"editplugin", "--id=5", "--description=nd", "new.so", "c=3", "ignored"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sent.Name, "old");
    EXPECT_EQ(sent.Description, "nd");

    r = cli({"getplugin", "--id=5"});
    EXPECT_EQ(r.out,
              "Plugin \"old\" [Archive FFF]: \nold desc\nDLLName: old.so\nParameters:\na=1\n");
    const std::string out = tmpdir() + "got-params";
    r = cli({"getplugin", "--id=5", "--dllparams=" + out});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out,
              "Plugin \"old\" [Archive FFF]: \nold desc\nDLLName: old.so\nWriting dllparams to " +
                  out + "\n");
    EXPECT_EQ(slurp(out), "a=1");
    r = cli({"getplugin", "--id=5", "--dllparams=" + tmpdir() + "no/such/dir/f"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "No such file or directory\n");

    // A failing first call of an edit sends nothing further.
    const auto before = d.calls().size();
    r = cli({"editplugin", "--id=6", "x.so", "p"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Error talking to server: SOAP Fault: NotFound\n");
    EXPECT_EQ(d.calls().size(), before + 1);

    r = cli({"removeplugin", "--id=5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(d.calls().back().request.GetParameter("id").GetInt(), 5);
}

TEST_F(Cli, DocFilterLifecycle) {
    DocFilter stored;
    stored.Name = "f";
    stored.Description = "fd";
    stored.PluginID = 3;
    stored.Config = "cfg\r\nline \xe2\x82\xac\t]]>";
    DocFilter sent;
    d.on("AddDocFilter", [&](const SOAPMethod& req, SOAPMethod& r) {
        req.GetParameter("docfilter") >> sent;
        r.AddParameter("id") << 8;
    });
    d.on("GetDocFilter", [&](const SOAPMethod&, SOAPMethod& r) {
        r.AddParameter("docfilter") << stored;
        r.AddParameter("magic") << 1234;
    });
    d.on("SetDocFilter", [&](const SOAPMethod& req, SOAPMethod&) {
        EXPECT_EQ(req.GetParameter("magic").GetInt(), 1234);
        req.GetParameter("docfilter") >> sent;
    });
    d.on("RemoveDocFilter", [](const SOAPMethod&, SOAPMethod&) { throw FakeFault{"InUse"}; });

    Result r = cli({"adddocfilter", "--name=a", "--description=b", "7x", "inline cfg"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Created new docfilter, id 8\n");
    EXPECT_EQ(sent.PluginID, 7);
    EXPECT_EQ(sent.Config, "inline cfg");

    r = cli({"editdocfilter", "--id=8", "--name=nn", "--description=dd", "4", "c2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sent.Name, "nn");
    EXPECT_EQ(sent.Description, "dd");
    EXPECT_EQ(sent.PluginID, 4);
    EXPECT_EQ(r.out, "DocFilter \"nn\" [Undefined]: \ndd\nPlugin id: 4\nConfiguration:\nc2\n");

    const std::string out = tmpdir() + "got-cfg";
    r = cli({"getdocfilter", "--id=8", "--cfg=" + out});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "DocFilter \"f\" [Undefined]: \nfd\nPlugin id: 3\nWriting configuration to " +
                         out + "\n");
    EXPECT_EQ(slurp(out), stored.Config);
    // A second argument without the prefix is ignored.
    r = cli({"getdocfilter", "--id=8", "other"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Configuration:\n"), std::string::npos);

    r = cli({"removedocfilter", "--id=8"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error talking to server: SOAP Fault: InUse\n");
}

TEST_F(Cli, RootRendererPipe) {
    std::vector<int> current{3, 1};
    std::vector<int> sent{99};
    int sent_magic = 0;
    d.on("GetRootRendererPipe", [&](const SOAPMethod&, SOAPMethod& r) {
        r.AddParameter("pipe") << RendererPluginPipe{current};
        r.AddParameter("magic") << 55;
    });
    d.on("SetRootRendererPipe", [&](const SOAPMethod& req, SOAPMethod&) {
        RendererPluginPipe p;
        req.GetParameter("pipe") >> p;
        sent = p.DocFilterIDs;
        sent_magic = req.GetParameter("magic").GetInt();
    });
    Result r = cli({"getrootrendererpipe"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "Root renderer pipeline\n3 1 \n");

    r = cli({"setrootrendererpipe", "7", "x", "2"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Root renderer pipeline\n7 0 2 \n");
    EXPECT_EQ(sent, (std::vector<int>{7, 0, 2}));
    EXPECT_EQ(sent_magic, 55);

    r = cli({"setrootrendererpipe"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Root renderer pipeline\n\n");
    EXPECT_TRUE(sent.empty());
    EXPECT_EQ(d.methods(), (std::vector<std::string>{"GetRootRendererPipe", "GetRootRendererPipe",
                                                     "SetRootRendererPipe", "GetRootRendererPipe",
                                                     "SetRootRendererPipe"}));
}

} // namespace

namespace {

// The same commands against Perl's SOAP::Lite, an independently written SOAP 1.1 server.
class CliSoapLite : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("perl -MSOAP::Lite -e 1 2>/dev/null") != 0)
            GTEST_SKIP() << "libsoap-lite-perl is not installed";
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        const char* argv[] = {"perl", TN_TEST_DATA "/soaplite_daemon.pl", nullptr};
        ASSERT_EQ(posix_spawnp(&pid_, "perl", &fa, nullptr, const_cast<char**>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&fa);
        ::close(fds[1]);
        out_ = fds[0];
        char c;
        while (::read(out_, &c, 1) == 1 && c != '\n')
            url_ += c;
        ASSERT_EQ(url_.rfind("http://", 0), 0u) << url_;
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    Result cli(std::vector<std::string> args) {
        args.insert(args.begin(), "--endpoint=" + url_);
        return run(args);
    }
    pid_t pid_ = -1;
    int out_ = -1;
    std::string url_;
};

TEST_F(CliSoapLite, CommandsAgainstAnIndependentServer) {
    const std::string file = tmpdir() + "perl-doc.bin";
    spit(file, std::string("\0\x01\xfe", 3));
    Result r = cli({"adddocument", "--arcid=3", "--url=http://h/x", "--mimetype=text/plain", file});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Added document 3-http://h/x-text/plain-3-0001fe\n");

    r = cli({"removedocument", "--docid=abc"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "Error talking to server: SOAP Fault: NotFound\n");

    r = cli({"getrootrendererpipe"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Root renderer pipeline\n4 2 \n");

    r = cli({"enumplugins"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Available plugins:\n  \"Html\" [Archive FFF] ID 3: \nrenders\n"
                     "  \"gr\xc3\xbcn\" [Archive FFF] ID 8: \ntwo\n");
}

} // namespace
