// trawlnest-cli: one administration command against the daemon's SOAP service, then exit.
// Arguments and file contents go over the wire unchanged, as bytes.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "client/soap-client-proxy.h"
#include "util/uri.h"

using lumbrake::SoapClientProxy;

namespace {

const char* const kUsage[] = {
    "usage: trawlnest-cli [--endpoint=<endpoint>] <command> [<command-options>]",
    " endpoint can also be specified as TRAWLNEST_ENDPOINT in the environment",
    " commands are:",
    "  adddocument --arcid=<arcid> --url=<url> --mimetype=<mimtype> <file>",
    "    Add or replace document",
    "  removedocument --docid=<docid>",
    "    Remove document",
    "  enumplugindlls",
    "    Enumerate plugin DLLs",
    "  enumplugins",
    "    Enumerate plugins",
    "  addplugin --name=<name> --description=<description> <plugindll> "
    "{<dllparams>,--dllparams=<file>}",
    "    Create a new plugin",
    "  editplugin --id=<id> [--name=<name>] [--description=<description>] <plugindll> "
    "{<dllparams>,--dllparams=<file>}",
    "    Edit existing plugin <id>",
    "  getplugin --id=<id> [--dllparams=<file>]",
    "    Retrieve existing plugin <id>",
    "  removeplugin --id=<id>",
    "    Remove plugin <id>",
    "  enumdocfilters",
    "    Enumerate document filters",
    "  adddocfilter --name=<name> --description=<description> <pluginid> {<cfg>,--cfg=<file>}",
    "    Create a new docfilter",
    "  editdocfilter --id=<id> [--name=<name>] [--description=<description>] <pluginid> "
    "{<cfg>,--cfg=<file>}",
    "    Edit existing docfilter <id>",
    "  getdocfilter --id=<id> [--cfg=<file>]",
    "    Retrieve existing docfilter <id>",
    "  removedocfilter --id=<id>",
    "    Remove docfilter <id>",
    "  getrootrendererpipe",
    "    Retrieve current root renderer pipe",
    "  setrootrendererpipe [<docfilterid>] ...",
    "    Sets a new root renderer pipe",
};

int usage() {
    for (const char* line : kUsage)
        std::cerr << line << std::endl;
    return 1;
}

// A request for help is no usage error: the text goes to standard output, status 0.
bool is_help(const char* arg) {
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

// Thrown by the argument checks; main prints the usage text.
struct usage_error {};

bool has_prefix(std::string_view arg, std::string_view prefix) {
    return arg.substr(0, prefix.size()) == prefix;
}

// The value after a required option prefix.
std::string option(const std::string& arg, std::string_view prefix) {
    if (!has_prefix(arg, prefix)) throw usage_error{};
    return arg.substr(prefix.size());
}

std::string system_error_text(int code) {
    char buf[1024];
    // The GNU strerror_r returns the text, which may not be in buf.
    const char* text = strerror_r(code, buf, sizeof buf);
    return std::string(text).substr(0, 1023);
}

bool read_whole_file(const std::string& name, std::string& error, std::string& content) {
    error.clear();
    content.clear();
    std::FILE* f = std::fopen(name.c_str(), "rbe");
    if (!f) {
        error = system_error_text(errno);
        return false;
    }
    char block[4096];
    for (;;) {
        std::size_t n = std::fread(block, 1, sizeof block, f);
        content.append(block, n);
        if (n < sizeof block) break;
    }
    const int code = errno;
    const bool ok = std::feof(f) && !std::ferror(f);
    std::fclose(f);
    if (!ok) error = system_error_text(code ? code : EIO);
    return ok;
}

bool write_whole_file(const std::string& name, std::string& error, const std::string& content) {
    error.clear();
    std::FILE* f = std::fopen(name.c_str(), "wbe");
    if (!f) {
        error = system_error_text(errno);
        return false;
    }
    bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    int code = errno;
    // A failed flush (disk full) is a failed write too.
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (!ok) error = system_error_text(code ? code : EIO);
    return ok;
}

// Reads a file named by an argument; prints the failure.
bool read_argument_file(const std::string& name, std::string& content) {
    std::string error;
    if (read_whole_file(name, error, content)) return true;
    std::cerr << "Can't read " << name << ": " << error << std::endl;
    return false;
}

// The text or, after the prefix, the content of the named file.
bool text_or_file(const std::string& arg, std::string_view prefix, std::string& out) {
    if (has_prefix(arg, prefix)) return read_argument_file(arg.substr(prefix.size()), out);
    out = arg;
    return true;
}

std::string type_text(int type) {
    switch (type) {
    case 0:
        return "Undefined";
    case 1:
        return "Archive FFF";
    default:
        return "Unknown (" + std::to_string(type) + ")";
    }
}

int server_error(const EasySoap::SOAPException& e) {
    std::cerr << "Error talking to server: " << e.what() << std::endl;
    return 1;
}

using Args = std::vector<std::string>;

int cmd_adddocument(SoapClientProxy& proxy, const Args& a) {
    if (a.size() != 4) throw usage_error{};
    const int arcid = std::atoi(option(a[0], "--arcid=").c_str());
    const std::string url = option(a[1], "--url=");
    const std::string mimetype = option(a[2], "--mimetype=");
    std::string content;
    if (!read_argument_file(a[3], content)) return 1;
    std::string docid;
    try {
        proxy.AddDocument(arcid, url, mimetype, content, docid);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    std::cout << "Added document " << docid << std::endl;
    return 0;
}

int cmd_removedocument(SoapClientProxy& proxy, const Args& a) {
    if (a.size() != 1) throw usage_error{};
    const std::string docid = option(a[0], "--docid=");
    try {
        proxy.RemoveDocument(docid);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    std::cout << "Document removed" << std::endl;
    return 0;
}

int cmd_enumplugindlls(SoapClientProxy& proxy, const Args&) {
    std::vector<lumbrake::PluginDLLInfo> infos;
    try {
        proxy.EnumPluginDLLs({}, infos);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    std::cout << "Available plugin DLLs:" << std::endl;
    for (const auto& info : infos) {
        std::cout << "Plugin DLL '" << info.Name << "' (" << type_text(info.Type)
                  << ") :" << std::endl;
        std::cout << info.Description << std::endl;
        std::cout << std::endl;
    }
    return 0;
}

int cmd_enumplugins(SoapClientProxy& proxy, const Args&) {
    std::vector<lumbrake::PluginInfo> infos;
    try {
        proxy.EnumPlugins({}, false, infos);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    std::cout << "Available plugins:" << std::endl;
    for (const auto& info : infos) {
        std::cout << "  \"" << info.PluginConfiguration.Name << "\" [" << type_text(info.Type)
                  << "] ID " << info.PluginID << ": " << std::endl;
        std::cout << info.PluginConfiguration.Description << std::endl;
    }
    return 0;
}

// The plug-in as getplugin shows it; with a file name the parameters go there instead.
int print_plugin(const lumbrake::Plugin& p, const std::string* file) {
    std::cout << "Plugin \"" << p.Name << "\" [" << type_text(p.Type) << "]: " << std::endl;
    std::cout << p.Description << std::endl;
    std::cout << "DLLName: " << p.DLLName << std::endl;
    if (file) {
        std::cout << "Writing dllparams to " << *file << std::endl;
        std::string error;
        if (!write_whole_file(*file, error, p.DLLParameters)) {
            std::cerr << error << std::endl;
            return 1;
        }
    } else {
        std::cout << "Parameters:" << std::endl;
        std::cout << p.DLLParameters << std::endl;
    }
    return 0;
}

int print_docfilter(const lumbrake::DocFilter& f, const std::string* file) {
    std::cout << "DocFilter \"" << f.Name << "\" [" << type_text(f.Type) << "]: " << std::endl;
    std::cout << f.Description << std::endl;
    std::cout << "Plugin id: " << f.PluginID << std::endl;
    if (file) {
        std::cout << "Writing configuration to " << *file << std::endl;
        std::string error;
        if (!write_whole_file(*file, error, f.Config)) {
            std::cerr << error << std::endl;
            return 1;
        }
    } else {
        std::cout << "Configuration:" << std::endl;
        std::cout << f.Config << std::endl;
    }
    return 0;
}

int cmd_addplugin(SoapClientProxy& proxy, const Args& a) {
    if (a.size() != 4) throw usage_error{};
    lumbrake::Plugin p;
    p.Name = option(a[0], "--name=");
    p.Description = option(a[1], "--description=");
    p.DLLName = a[2];
    if (!text_or_file(a[3], "--dllparams=", p.DLLParameters)) return 1;
    int id = 0;
    try {
        proxy.AddPlugin(p, id);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    std::cout << "Created new plugin, id " << id << std::endl;
    return 0;
}

// The optional --name= and --description= of the edit commands, then the two positional
// arguments; anything beyond them is ignored.
struct edit_args {
    int id = 0;
    bool has_name = false, has_description = false;
    std::string name, description, first, second;
};

edit_args parse_edit(const Args& a) {
    if (a.size() < 3 || a.size() > 5) throw usage_error{};
    edit_args e;
    e.id = std::atoi(option(a[0], "--id=").c_str());
    std::size_t i = 1;
    if (has_prefix(a[i], "--name=")) {
        e.has_name = true;
        e.name = a[i++].substr(7);
    }
    if (i < a.size() && has_prefix(a[i], "--description=")) {
        e.has_description = true;
        e.description = a[i++].substr(14);
    }
    if (a.size() - i < 2) throw usage_error{};
    e.first = a[i];
    e.second = a[i + 1];
    return e;
}

int cmd_editplugin(SoapClientProxy& proxy, const Args& a) {
    const edit_args e = parse_edit(a);
    std::string params;
    if (!text_or_file(e.second, "--dllparams=", params)) return 1;
    lumbrake::Plugin p;
    try {
        uint32_t magic = 0;
        proxy.GetPlugin(e.id, p, magic);
        if (e.has_name) p.Name = e.name;
        if (e.has_description) p.Description = e.description;
        p.DLLName = e.first;
        p.DLLParameters = params;
        proxy.SetPlugin(e.id, p, magic);
    } catch (const EasySoap::SOAPException& ex) {
        return server_error(ex);
    }
    return print_plugin(p, nullptr);
}

int cmd_getplugin(SoapClientProxy& proxy, const Args& a) {
    if (a.empty() || a.size() > 2) throw usage_error{};
    const int id = std::atoi(option(a[0], "--id=").c_str());
    std::string file;
    const bool to_file = a.size() == 2 && has_prefix(a[1], "--dllparams=");
    if (to_file) file = a[1].substr(12);
    lumbrake::Plugin p;
    try {
        uint32_t magic = 0;
        proxy.GetPlugin(id, p, magic);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    return print_plugin(p, to_file ? &file : nullptr);
}

int cmd_removeplugin(SoapClientProxy& proxy, const Args& a) {
    if (a.size() != 1) throw usage_error{};
    const int id = std::atoi(option(a[0], "--id=").c_str());
    try {
        proxy.RemovePlugin(id);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    return 0;
}

int cmd_enumdocfilters(SoapClientProxy& proxy, const Args&) {
    std::vector<lumbrake::DocFilterInfo> infos;
    try {
        proxy.EnumDocFilters({}, false, infos);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    std::cout << "Available docfilters:" << std::endl;
    for (const auto& info : infos) {
        std::cout << "  '" << info.DocFilterConfiguration.Name << "' [" << type_text(info.Type)
                  << "] ID " << info.DocFilterID << ": " << std::endl;
        std::cout << info.DocFilterConfiguration.Description << std::endl;
    }
    return 0;
}

int cmd_adddocfilter(SoapClientProxy& proxy, const Args& a) {
    if (a.size() != 4) throw usage_error{};
    lumbrake::DocFilter f;
    f.Name = option(a[0], "--name=");
    f.Description = option(a[1], "--description=");
    f.PluginID = std::atoi(a[2].c_str());
    if (!text_or_file(a[3], "--cfg=", f.Config)) return 1;
    int id = 0;
    try {
        proxy.AddDocFilter(f, id);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    std::cout << "Created new docfilter, id " << id << std::endl;
    return 0;
}

int cmd_editdocfilter(SoapClientProxy& proxy, const Args& a) {
    const edit_args e = parse_edit(a);
    std::string config;
    if (!text_or_file(e.second, "--cfg=", config)) return 1;
    lumbrake::DocFilter f;
    try {
        uint32_t magic = 0;
        proxy.GetDocFilter(e.id, f, magic);
        if (e.has_name) f.Name = e.name;
        if (e.has_description) f.Description = e.description;
        f.PluginID = std::atoi(e.first.c_str());
        f.Config = config;
        proxy.SetDocFilter(e.id, f, magic);
    } catch (const EasySoap::SOAPException& ex) {
        return server_error(ex);
    }
    return print_docfilter(f, nullptr);
}

int cmd_getdocfilter(SoapClientProxy& proxy, const Args& a) {
    if (a.empty() || a.size() > 2) throw usage_error{};
    const int id = std::atoi(option(a[0], "--id=").c_str());
    std::string file;
    const bool to_file = a.size() == 2 && has_prefix(a[1], "--cfg=");
    if (to_file) file = a[1].substr(6);
    lumbrake::DocFilter f;
    try {
        uint32_t magic = 0;
        proxy.GetDocFilter(id, f, magic);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    return print_docfilter(f, to_file ? &file : nullptr);
}

int cmd_removedocfilter(SoapClientProxy& proxy, const Args& a) {
    if (a.size() != 1) throw usage_error{};
    const int id = std::atoi(option(a[0], "--id=").c_str());
    try {
        proxy.RemoveDocFilter(id);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    return 0;
}

void print_pipe(const lumbrake::RendererPluginPipe& pipe) {
    std::cout << "Root renderer pipeline" << std::endl;
    for (int id : pipe.DocFilterIDs)
        std::cout << id << ' ';
    std::cout << std::endl;
}

int cmd_getrootrendererpipe(SoapClientProxy& proxy, const Args& a) {
    if (!a.empty()) throw usage_error{};
    lumbrake::RendererPluginPipe pipe;
    try {
        uint32_t magic = 0;
        proxy.GetRootRendererPipe(pipe, magic);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    print_pipe(pipe);
    return 0;
}

int cmd_setrootrendererpipe(SoapClientProxy& proxy, const Args& a) {
    lumbrake::RendererPluginPipe pipe;
    for (const std::string& arg : a)
        pipe.DocFilterIDs.push_back(std::atoi(arg.c_str()));
    try {
        lumbrake::RendererPluginPipe current;
        uint32_t magic = 0;
        proxy.GetRootRendererPipe(current, magic);
        proxy.SetRootRendererPipe(pipe, magic);
    } catch (const EasySoap::SOAPException& e) {
        return server_error(e);
    }
    print_pipe(pipe);
    return 0;
}

struct command {
    const char* name;
    int (*run)(SoapClientProxy&, const Args&);
};

const command kCommands[] = {
    {"adddocument", cmd_adddocument},
    {"removedocument", cmd_removedocument},
    {"enumplugindlls", cmd_enumplugindlls},
    {"enumplugins", cmd_enumplugins},
    {"addplugin", cmd_addplugin},
    {"editplugin", cmd_editplugin},
    {"getplugin", cmd_getplugin},
    {"removeplugin", cmd_removeplugin},
    {"enumdocfilters", cmd_enumdocfilters},
    {"adddocfilter", cmd_adddocfilter},
    {"editdocfilter", cmd_editdocfilter},
    {"getdocfilter", cmd_getdocfilter},
    {"removedocfilter", cmd_removedocfilter},
    {"getrootrendererpipe", cmd_getrootrendererpipe},
    {"setrootrendererpipe", cmd_setrootrendererpipe},
};

} // namespace

int main(int argc, char** argv) {
    // A reader that goes away (| head) gives write errors, not a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    if (argc == 2 && is_help(argv[1])) {
        for (const char* line : kUsage)
            std::cout << line << '\n';
        return std::cout.flush() ? 0 : 1;
    }
    std::string endpoint;
    if (const char* env = std::getenv("TRAWLNEST_ENDPOINT")) endpoint = env;
    int first = 1;
    if (argc >= 2 && has_prefix(argv[1], "--endpoint=")) {
        endpoint = argv[1] + 11;
        first = 2;
    }
    if (endpoint.empty()) return usage();
    const lumbrake::URI uri(endpoint, "http");
    if (uri.scheme() != "http" && uri.scheme() != "https") return usage();
    if (first >= argc) return usage();

    const std::string name = argv[first];
    const Args args(argv + first + 1, argv + argc);
    for (const command& c : kCommands) {
        if (name != c.name) continue;
        SoapClientProxy proxy(endpoint);
        // TRAWLNEST_TIMEOUT: seconds for each call (the proxy's default when absent or not
        // a positive number).
        if (const char* t = std::getenv("TRAWLNEST_TIMEOUT"); t && std::atol(t) > 0)
            proxy.SetTimeout(std::atol(t));
        int status;
        try {
            status = c.run(proxy, args);
        } catch (const usage_error&) {
            return usage();
        }
        // Output that could not be written is no success.
        if (status == 0 && !(std::cout << std::flush)) status = 1;
        return status;
    }
    return usage();
}
