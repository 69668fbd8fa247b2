// The worker: fetches or reads one document, parses it into an FFF document, runs the index
// plug-ins of a docfilter pipeline over it and takes the checksum of its core text.
#pragma once

#include "api/api-types.h"
#include "fetchers/fetcher-base.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace FFF {
class DocumentData;
}

namespace lumbrake {

class config;
class fetcher;
class fff_plugins_loader;
class parser;

// One numbering for a worker run's result, the crawl log and the wire.
enum CrawlError : std::int32_t {
    CRAWL_NONE = 0,
    CRAWL_REDIRECT = 1,
    CRAWL_INDEX = 2, // a listing: outlinks only, no FFF
    CRAWL_NOTFOUND = 3,
    CRAWL_UNPARSABLE = 4,
    CRAWL_BADREDIR = 5,
    CRAWL_BLOCKED = 6, // robots.txt; never produced by the worker
    CRAWL_NETWORK = 7,
    CRAWL_UNKNOWN = 8,
    CRAWL_UNCHANGED = 9,  // never produced by the worker
    CRAWL_OUTOFDOCS = 10, // never produced by the worker
    CRAWL_AUTHREQ = 11,
    CRAWL_INTERNAL = 12,
    CRAWL_SERVER = 13,
};

struct process_result {
    std::int32_t type = CRAWL_UNKNOWN;
    std::string message;
    std::string mime;
    std::string charset;
    std::int32_t servertime = 0;
    std::string redirect;
    std::string sidemeta;
    std::uint32_t corecrc = 0; // 0 without an FFF document
};

using document_ptr = std::unique_ptr<FFF::DocumentData>;

// The worker's fetcher stops reading a document at this many bytes.
constexpr std::uint32_t worker_size_limit = 16777216;

class worker {
public:
    // Loads the plug-in libraries of DEPLOYDIR/plugins. cfg must outlive the worker.
    explicit worker(const config& cfg);
    ~worker();
    worker(const worker&) = delete;
    worker& operator=(const worker&) = delete;

    // Replaces a plug-in already registered under the id (its docfilters stay).
    bool register_plugin(std::int32_t id, const Plugin& plugin);
    // Replaces a docfilter already configured under the id.
    bool configure_docfilter(std::int32_t id, const DocFilter& filter);

    void process_url(std::int32_t base_score, const std::string& docid, const std::string& url,
                     const std::string& cookie, bool cookie_login, const std::string& source_xml,
                     const std::string& auth_xml, const std::string& spare, bool want_sidemeta,
                     const std::vector<std::int32_t>& pipeline,
                     const std::string& text_exclusion_begin, const std::string& text_exclusion_end,
                     std::string& headers, std::string& content, document_ptr& document,
                     outlink_list& outlinks, process_result& result);

    void process_file(const std::string& file_name, std::int32_t base_score,
                      const std::string& docid, const std::string& url, const std::string& mime,
                      const std::string& charset, const std::vector<std::int32_t>& pipeline,
                      const std::string& text_exclusion_begin,
                      const std::string& text_exclusion_end, std::string& headers,
                      std::string& content, document_ptr& document, outlink_list& outlinks,
                      process_result& result);

    const std::string& user_agent() const { return user_agent_; }

    // The common tail: parses bytes already at hand (also the daemon's reprocessing of stored
    // content). Fills but does not reset the outputs; outlinks are appended.
    void process_content(std::int32_t base_score, const std::string& docid, const std::string& url,
                         const std::string& mime, const std::string& charset,
                         const std::string& content, const std::string& sidemeta,
                         const std::vector<std::int32_t>& pipeline,
                         const std::string& text_exclusion_begin,
                         const std::string& text_exclusion_end, document_ptr& document,
                         outlink_list& outlinks, process_result& result);

private:
    const config* cfg_;
    std::unique_ptr<fff_plugins_loader> loader_;
    std::unique_ptr<fetcher> fetcher_;
    std::unique_ptr<parser> parser_;
    std::string user_agent_;
};

} // namespace lumbrake
