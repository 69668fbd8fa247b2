// The trawlnestd program: hands its arguments to the wx console application.
#include "httpfront/webservices.h"
#include "trawlnestd/service-frontend.h"
#include "webservices/portal.h"
#include "webservices/research.h"
#include "webservices/rest.h"
#include "webservices/soap-search-service.h"
#include "trawlnestd/trawlnestd-app.h"
#include "util/syslayer.h"

#include <wx/app.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {
std::vector<std::string> g_args;
int g_signal_fd = -1;

// What the HTTP server serves besides /wsdl: the SOAP service, the research pane, REST and
// the portal. It lives as long as the program, so it outlives the server's threads.
lumbrake::http_services g_services;

// The application factory of wxEntry: the arguments as the system gave them (file names are
// bytes, not wx strings) and the stop-signal descriptor made before any thread started.
wxAppConsole* create_app() {
    wxAppConsole::CheckBuildOptions(WX_BUILD_OPTIONS_SIGNATURE, "trawlnestd");
    auto* app = new lumbrake::trawlnestd;
    if (!g_args.empty()) app->set_program_path(g_args[0]);
    app->set_arguments(
        std::vector<std::string>(g_args.begin() + (g_args.empty() ? 0 : 1), g_args.end()));
    app->set_signal_fd(g_signal_fd);
    app->set_http_services(&g_services);
    return app;
}
} // namespace

namespace {
const char kUsage[] =
    "usage: trawlnestd                      run the daemon in the foreground (systemd unit)\n"
    "       trawlnestd -install | -remove   write or remove the systemd unit, open or close\n"
    "                                       HTTP_PORT in the firewall\n"
    "       trawlnestd /reset | /reindex    empty the storages, or rebuild the index\n"
    "       trawlnestd /import <dir> | /export <dir>   configuration records from or to <dir>\n"
    "       trawlnestd /backup <file> | /restore <file>\n"
    " The configuration file is named by LUMBRAKE_CONFIG_FILE in the environment store\n"
    " " TRAWLNEST_SYSCONFDIR "/lumbrake/trawlnest/environment (or the file named by\n"
    " LUMBRAKE_ENV_STORE). SIGTERM or SIGINT stops the daemon.\n";
} // namespace

int main(int argc, char** argv) {
    // A request for help is no start argument: the text goes to standard output, status 0.
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    g_args.assign(argv, argv + argc);
    // Blocked here, before wx or any storage starts a thread, so that every thread inherits
    // the mask and only the signal descriptor sees SIGTERM and SIGINT.
    g_signal_fd = lumbrake::stop_signal_fd();
    std::string error;
    lumbrake::platform_init(error);
    g_services.search_handler = [](lumbrake::httpcontext& context) {
        return lumbrake::make_search_handler(context);
    };
    g_services.research_handler = [](lumbrake::httpcontext& context, const std::string& host,
                                     int port, bool secure) {
        return lumbrake::make_research_handler(context, host, port, secure);
    };
    g_services.rest = [](lumbrake::httpstate& state, const lumbrake::http_request_facts& facts) {
        return lumbrake::rest_route(state, facts);
    };
    g_services.portal = [](lumbrake::httpstate& state, const lumbrake::http_request_facts& facts) {
        lumbrake::portal_route(state, facts);
    };
    wxApp::SetInitializerFunction(create_app);
    wxEntry(argc, argv);
    return lumbrake::service_exit_status();
}
