// The docmill program: entry, command line, configuration directory and report.
#include "worker/docmill.h"

#include "api/api-typeutils.h"
#include "util/fileio.h"
#include "util/log.h"
#include "util/postmortem.h"
#include "util/syslayer.h"
#include "fff/fff2xml.h"
#include "worker/docmill-report.h"

#include "fff/FFF.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <iostream>

namespace {

// The arguments as the system gave them: file names and URLs are bytes, not wx strings.
std::vector<std::string> g_args;

} // namespace

namespace lumbrake {

docmill::docmill() : cfg_(nullptr) {}

docmill::~docmill() = default;

void docmill::print_usage() {
    std::cerr << docmill_usage_text << std::flush;
}

bool docmill::OnInit() {
    postmortem_init(g_args.empty() ? "docmill" : g_args[0].c_str());

    std::string error;
    if (!apply_logcfg(error, cfg_, stderr)) {
        std::cerr << "Log system error: " << error << std::endl;
        return false;
    }

    worker_ = std::make_unique<worker>(cfg_);

    if (!parse_docmill_args(g_args, options_)) {
        print_usage();
        return false;
    }
    output_ = &std::cout;
    if (options_.has_fff_file) {
        fff_file_ = std::make_unique<std::ofstream>(
            options_.fff_file, std::ios::out | std::ios::trunc | std::ios::binary);
        if (!*fff_file_) {
            // Going on would lose the FFF without a word.
            std::cerr << "Cannot open FFF file " << options_.fff_file << ": "
                      << std::strerror(errno) << std::endl;
            fff_file_.reset();
            return false;
        }
        output_ = fff_file_.get();
    }
    return true;
}

namespace {

struct named_id {
    std::string name;
    long id;
};

// The entries of dir whose names begin with prefix, with the number that "<prefix>%ld.xml"
// reads from them (0 when it reads none), in name order.
bool list_records(const std::string& dir, const char* prefix, std::vector<named_id>& out) {
    out.clear();
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    const std::string pattern = std::string(prefix) + "%ld.xml";
    while (const dirent* e = ::readdir(d)) {
        if (std::strncmp(e->d_name, prefix, std::strlen(prefix)) != 0) continue;
        long id = 0;
        if (std::sscanf(e->d_name, pattern.c_str(), &id) != 1) id = 0;
        out.push_back({e->d_name, id});
    }
    ::closedir(d);
    std::sort(out.begin(), out.end(),
              [](const named_id& a, const named_id& b) { return a.name < b.name; });
    return true;
}

// Hands the text of every "<prefix><id>.xml" record of dir, in name order, to
// use(id, path, text); a name without a 32-bit id other than 0, or a file that cannot be read,
// is reported and skipped.
template <class Use> void for_each_record(const std::string& dir, const char* prefix, Use use) {
    std::vector<named_id> entries;
    list_records(dir, prefix, entries);
    for (const named_id& e : entries) {
        const std::string path = dir + "/" + e.name;
        // Record ids are 32-bit; a larger number cannot name a record.
        if (e.id == 0 || e.id < INT32_MIN || e.id > INT32_MAX) {
            std::cerr << "Ignoring " << path << std::endl;
            continue;
        }
        std::string error, text;
        if (!read_whole_file(path, error, text)) {
            std::cerr << "Error reading " << path << ": " << error << std::endl;
            continue;
        }
        use(static_cast<std::int32_t>(e.id), path, text);
    }
}

std::string zero_padded_id(long id) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%010lu", static_cast<unsigned long>(id));
    return buffer;
}

} // namespace

bool docmill::load_configuration_directory() {
    const std::string& dir = options_.configdir;
    std::cerr << "Looking for plugins and docfilters in " << dir << std::endl;

    for_each_record(dir, "Plugin-",
                    [&](std::int32_t id, const std::string& path, const std::string& text) {
                        Plugin plugin;
                        if (!plugin_from_xml(text.data(), text.size(), plugin)) {
                            std::cerr << "Error parsing " << path << std::endl;
                            return;
                        }
                        std::cerr << "Registering plugin " << id << std::endl;
                        if (!worker_->register_plugin(id, plugin))
                            std::cerr << "Error registering plugin " << id << "\nXML:\n"
                                      << text << "\n/XML" << std::endl;
                    });

    for_each_record(dir, "DocFilter-",
                    [&](std::int32_t id, const std::string& path, const std::string& text) {
                        DocFilter filter;
                        bool old_names = false;
                        if (!docfilter_from_xml(text.data(), text.size(), filter, old_names)) {
                            std::cerr << "Error parsing " << path << std::endl;
                            return;
                        }
                        std::cerr << "Configuring docfilter " << id << std::endl;
                        if (!worker_->configure_docfilter(id, filter))
                            std::cerr << "Error configuring docfilter " << id << "\nXML:\n"
                                      << text << "\n/XML" << std::endl;
                    });

    {
        const std::string path = dir + "/RendererPluginPipe-" + zero_padded_id(0) + ".xml";
        std::string error, text;
        if (!read_whole_file(path, error, text)) {
            std::cerr << "Can't read " << path << ": " << error << std::endl;
        } else if (text.empty()) {
            std::cerr << "No root pipeline" << std::endl;
        } else {
            RendererPluginPipe pipe;
            bool old_names = false;
            if (renderer_pipe_from_xml(text.data(), text.size(), pipe, old_names))
                root_pipeline_ = pipe.DocFilterIDs;
            else
                std::cerr << "Error parsing " << path << "\nXML:" << text << "\n/XML" << std::endl;
        }
    }

    if (options_.source_id == 0) {
        std::cerr << "No source specified" << std::endl;
        return false;
    }
    const std::string path = dir + "/SourceConfiguration-" +
                             zero_padded_id(static_cast<std::uint32_t>(options_.source_id)) +
                             ".xml";
    std::string error, text;
    if (!read_whole_file(path, error, text)) {
        // The document is still processed, with the root pipeline alone.
        std::cerr << "Can't read " << path << ": " << error << std::endl;
        return true;
    }
    bool old_names = false;
    if (!source_from_xml(text.data(), text.size(), source_, old_names)) {
        std::cerr << "Error reading source " << options_.source_id << std::endl;
        return false;
    }
    return true;
}

int docmill::OnRun() {
    if (!options_.configdir.empty() && !load_configuration_directory())
        return 2; // without a usable source the run has failed

    std::vector<std::int32_t> pipeline = root_pipeline_;
    pipeline.insert(pipeline.end(), source_.RendererDocFilterIDs.begin(),
                    source_.RendererDocFilterIDs.end());

    process_result result;
    std::string headers, content;
    document_ptr document;
    outlink_list outlinks;
    const docmill_options& o = options_;
    if (o.file_mode == 0)
        worker_->process_url(o.base_score, o.docid, o.url, "", false, "", "", "", false, pipeline,
                             o.text_exclusion_begin, o.text_exclusion_end, headers, content,
                             document, outlinks, result);
    else
        worker_->process_file(o.file_name, o.base_score, o.docid, o.url, o.mimetype, o.charset,
                              pipeline, o.text_exclusion_begin, o.text_exclusion_end, headers,
                              content, document, outlinks, result);

    std::string xml;
    if (document)
        fff_to_xml(xml, o.docid, o.url, static_cast<long>(std::time(nullptr)), document.get());

    docmill_report report;
    report.result = &result;
    report.headers = &headers;
    report.content = &content;
    report.outlinks = &outlinks;
    report.fff_xml = document ? &xml : nullptr;
    report.fff_file_name = fff_file_ ? &o.fff_file : nullptr;
    int status = write_docmill_report(report, std::cout, *output_);
    std::cout.flush();
    if (fff_file_) {
        fff_file_->close();
        if (fff_file_->fail()) {
            std::cerr << "Error writing FFF file " << o.fff_file << std::endl;
            if (status == 0) status = 2;
        }
    }
    return status;
}

int docmill::OnExit() {
    fff_file_.reset();
    output_ = nullptr;
    worker_.reset();
    return wxAppConsole::OnExit();
}

} // namespace lumbrake

wxIMPLEMENT_APP_NO_MAIN(lumbrake::docmill);

int main(int argc, char** argv) {
    // A request for help is no usage error: the text goes to standard output, status 0.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::cout << lumbrake::docmill_usage_text << std::flush;
        return 0;
    }
    g_args.assign(argv, argv + argc);
    // A reader that goes away (docmill ... | head) must not kill the run.
    std::string error;
    lumbrake::platform_init(error);
    int status = wxEntry(argc, argv);
    lumbrake::platform_done();
    return status;
}
