// The HTML portal: every request path that no other service takes is resolved against the
// portal root (PORTAL_DOCS, else DEPLOYDIR/portal) to a template page, a plain file, a cache
// page, a redirect or a language page, and answered from there.
#pragma once

#include "apiops/api-common.h"
#include "apiops/api-query.h"
#include "httpfront/httpstate.h"
#include "httpfront/webservices.h"
#include "webservices/template.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace lumbrake {

enum portal_page_kind {
    PORTAL_NONE = 0,
    PORTAL_TEMPLATE = 1,
    PORTAL_FILE = 2,
    PORTAL_CACHE = 3,
    PORTAL_REDIRECT = 4,
    PORTAL_LANGUAGE = 5,
};

using language_table = std::map<std::string, std::string>;

// Builds the API context for the request's caller; false when the portal cannot run API
// operations (the operation then counts as failed with InternalError).
using portal_api_maker = std::function<bool(httpcontext&, api_context&)>;

// The router's portal seam: serves the request with the application of the request thread's
// context (httpcontext::app; without one every API operation fails).
void portal_route(httpstate& state, const http_request_facts& facts);

// The same seam with another way to reach the API (tests give theirs).
std::function<void(httpstate&, const http_request_facts&)>
make_portal_route(portal_api_maker maker);

// Writes the whole answer of one portal request on the request's socket.
void serve_portal(httpstate& state, const std::string& host, int port, bool https,
                  const portal_api_maker& maker);

// Resolves a page path below root. Nothing outside the root is ever resolved: a path that
// climbs above it, or a file or special file that (through a symbolic link) lies outside it,
// is none.
portal_page_kind resolve_portal_page(const std::string& root, std::string path,
                                     std::string& resolved, std::string& redirect, bool no_parent);

// Reads a language page's table; false when a line has no blank.
bool load_language_table(const std::string& file, language_table& table);

// Chooses the path for an Accept-Language value; false when the value is malformed. With no
// listed tag in the table, the entry with the smallest tag is chosen (table must be non-empty).
bool choose_language(const std::string& accept, const language_table& table, std::string& path);

// Option lists of the search form; current_name receives the name of the row whose id is
// current_id and stays unchanged otherwise.
std::string write_archive_options(api_result& res, httpcontext& context,
                                  const portal_api_maker& maker, int current_id,
                                  std::string& current_name);
std::string write_collection_options(api_result& res, httpcontext& context,
                                     const portal_api_maker& maker, int current_id,
                                     std::string& current_name);
std::string write_watch_options(api_result& res, httpcontext& context,
                                const portal_api_maker& maker, int current_id,
                                std::string& current_name);

// The results part of a search page: runs the search that the query parameters describe and
// renders the set's result templates (or "no_result", or "internalerror").
void render_results_page(httpcontext& context, api_result& res, int sock, httpstate& state,
                         const template_set& set, const template_vars& params,
                         const std::string& current_name, const portal_api_maker& maker);

// What the results templates are filled from once a search has run.
struct portal_search {
    QuerySpec query_spec;
    std::vector<QueryResult> results;
    std::int32_t total = 0;
    double seconds = 0;
    std::string user;           // the request's user name
    std::string self_url;       // the search page's own URL
    bool document_cache = true; // DOCUMENT_CACHE is not "NO"
    std::int64_t now = 0;       // seconds since 1970 UTC
};

// Renders a successful search (steps from "no_result" on) onto the socket.
void render_search_results(int sock, const template_set& set, const template_vars& params,
                           const std::string& current_name, const portal_search& search);

// Puts a blank after a '/' (else '?', else '&') roughly every 16 characters so a browser can
// wrap a long URL.
std::string wrap_long_url(const std::string& url);

} // namespace lumbrake
