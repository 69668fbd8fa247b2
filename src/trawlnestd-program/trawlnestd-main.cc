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

int main(int argc, char** argv) {
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
