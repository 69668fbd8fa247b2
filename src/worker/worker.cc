#include "worker/worker.h"

#include "plugin-system/plugins_loader.h"
#include "util/config.h"
#include "util/fileio.h"
#include "util/log.h"
#include "fff/FFF.h"
#include "fff/core_extractor.h"
#include "fff/text_exclusion.h"
#include "fetchers/fetcher.h"
#include "parsers/parser.h"

namespace lumbrake {

worker::worker(const config& cfg) : cfg_(&cfg) {
    // The full-API loader: the pipeline keeps plug-ins and docfilters registered.
    loader_ = std::make_unique<fff_plugins_loader>(true, cfg);
    loader_->load_plugins();
    fetcher_ = std::make_unique<fetcher>(cfg, worker_size_limit);
    parser_ = std::make_unique<parser>(cfg);

    std::string name;
    if (!cfg.get("UserAgent", name) || name.empty()) name = "lumbrakebot";
    user_agent_ = "Mozilla/4.0 (compatible; " + name + ")";
    TN_LOG(LF_WORKER, LL_DEBUG, "User agent: " << user_agent_);
}

worker::~worker() {
    parser_.reset();
    fetcher_.reset();
    loader_.reset();
}

bool worker::register_plugin(std::int32_t id, const Plugin& plugin) {
    if (loader_->plugins().count(id) && !loader_->unregister_plugin(id, false)) return false;
    return loader_->register_plugin(id, plugin);
}

bool worker::configure_docfilter(std::int32_t id, const DocFilter& filter) {
    // The loader removes a docfilter of the same id (destroying its configuration) first.
    return loader_->configure_docfilter(id, filter);
}

void worker::process_url(std::int32_t base_score, const std::string& docid, const std::string& url,
                         const std::string& cookie, bool cookie_login,
                         const std::string& source_xml, const std::string& auth_xml,
                         const std::string& spare, bool want_sidemeta,
                         const std::vector<std::int32_t>& pipeline,
                         const std::string& text_exclusion_begin,
                         const std::string& text_exclusion_end, std::string& headers,
                         std::string& content, document_ptr& document, outlink_list& outlinks,
                         process_result& result) {
    TN_LOG(LF_WORKERSCHEDULING, LL_DEBUG,
           "worker " << static_cast<const void*>(this) << " processing " << url);
    result = process_result{};
    document.reset();
    outlinks.clear();
    result.type = CRAWL_NONE;

    fetch_result fetched;
    fetcher_->fetch({.base_score = base_score,
                     .url = url,
                     .user_agent = user_agent_,
                     .cookie = cookie,
                     .cookie_login = cookie_login,
                     .source_xml = source_xml,
                     .auth_xml = auth_xml,
                     .spare = spare,
                     .want_sidemeta = want_sidemeta},
                    fetched);
    result.message = fetched.error;
    headers = std::move(fetched.headers);
    content = std::move(fetched.content);
    outlinks = std::move(fetched.outlinks);
    result.mime = fetched.mime;
    result.charset = fetched.charset;
    result.servertime = fetched.servertime;
    result.redirect = fetched.redirect;
    result.sidemeta = fetched.sidemeta;

    switch (fetched.status) {
    case FETCH_LISTING:
        result.type = CRAWL_INDEX;
        break;
    case FETCH_UNRESOLVED:
    case FETCH_NO_CONNECTION:
    case FETCH_TIMEOUT:
        result.type = CRAWL_NETWORK;
        break;
    case FETCH_FAILED:
        result.type = CRAWL_SERVER;
        break;
    case FETCH_BAD_REQUEST:
    case FETCH_SERVER_ERROR:
    case FETCH_NOT_FOUND:
        result.type = CRAWL_NOTFOUND;
        break;
    case FETCH_REDIRECT:
        result.type = CRAWL_REDIRECT;
        break;
    case FETCH_BAD_REDIRECT:
        result.type = CRAWL_BADREDIR;
        break;
    case FETCH_NOT_MODIFIED:
        result.type = CRAWL_NONE;
        break;
    case FETCH_AUTH_REQUIRED:
        result.type = CRAWL_AUTHREQ;
        break;
    default: // fetched, cut at the limit, or a status of a newer fetcher
        process_content(base_score, docid, url, fetched.mime, fetched.charset, content,
                        fetched.sidemeta, pipeline, text_exclusion_begin, text_exclusion_end,
                        document, outlinks, result);
        break;
    }
}

void worker::process_file(const std::string& file_name, std::int32_t base_score,
                          const std::string& docid, const std::string& url, const std::string& mime,
                          const std::string& charset, const std::vector<std::int32_t>& pipeline,
                          const std::string& text_exclusion_begin,
                          const std::string& text_exclusion_end, std::string& headers,
                          std::string& content, document_ptr& document, outlink_list& outlinks,
                          process_result& result) {
    result = process_result{};
    document.reset();
    headers.clear();
    content.clear();
    outlinks.clear();
    result.type = CRAWL_NONE;

    std::string error;
    if (!read_whole_file(file_name, error, content)) {
        result.type = CRAWL_SERVER;
        result.message = "Cannot open file " + file_name + ": " + error;
        return;
    }
    process_content(base_score, docid, url, mime, charset, content, "", pipeline,
                    text_exclusion_begin, text_exclusion_end, document, outlinks, result);
}

void worker::process_content(std::int32_t base_score, const std::string& docid,
                             const std::string& url, const std::string& mime,
                             const std::string& charset, const std::string& content,
                             const std::string& sidemeta, const std::vector<std::int32_t>& pipeline,
                             const std::string& text_exclusion_begin,
                             const std::string& text_exclusion_end, document_ptr& document,
                             outlink_list& outlinks, process_result& result) {
    std::string matcher_error;
    bool matcher_ok = true;
    text_exclusion_matcher matcher(text_exclusion_begin, text_exclusion_end, matcher_error,
                                   matcher_ok);

    parse_result parsed;
    parser_->parse_document(matcher_ok ? &matcher : nullptr, base_score, url, content, mime,
                            charset, sidemeta, parsed);
    document = parsed.take_document();

    if (document) {
        document->score = static_cast<std::uint32_t>(base_score);
        FFF::DocumentData* raw = document.release();
        if (!loader_->apply_index_plugins(std::vector<int>(pipeline.begin(), pipeline.end()), docid,
                                          url, mime, raw))
            TN_LOG(LF_WORKERSCHEDULING, LL_ERROR,
                   "Error applying index plugins to "
                       << " " << docid << " '" << url << "'");
        document.reset(raw);
    }

    result.message = parsed.error;
    result.mime = parsed.mime;
    result.charset = parsed.charset;
    switch (parsed.status) {
    case 0:
        result.type = CRAWL_NONE;
        break;
    case 1:
        result.type = CRAWL_INTERNAL;
        break;
    case 2:
    case 3:
        result.type = CRAWL_UNPARSABLE;
        break;
    default:
        break;
    }
    outlinks.insert(outlinks.end(), parsed.outlinks.begin(), parsed.outlinks.end());
    if (document) result.corecrc = core_checksum(*document);
}

} // namespace lumbrake
