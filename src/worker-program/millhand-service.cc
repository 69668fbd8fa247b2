#include "worker-program/millhand-service.h"

#include "util/config.h"
#include "util/httphead.h"
#include "util/log.h"
#include "fff/FFF.h"
#include "worker/worker.h"

#include <algorithm>
#include <exception>
#include <zlib.h>

namespace lumbrake {

using namespace millhand_wire;

namespace {

// Scores are millionths: anything above the whole is the whole.
std::int32_t bounded_score(std::uint32_t score) {
    return static_cast<std::int32_t>(std::min<std::uint32_t>(score, max_score));
}

std::vector<std::int32_t> pipeline_of(const docfilter_id_list& ids) {
    std::vector<std::int32_t> pipeline;
    pipeline.reserve(ids.size());
    for (std::uint32_t id : ids)
        pipeline.push_back(static_cast<std::int32_t>(id));
    return pipeline;
}

std::uint32_t crc_of(const std::string& bytes) {
    uLong crc = crc32(0L, Z_NULL, 0);
    const auto* p = reinterpret_cast<const Bytef*>(bytes.data());
    std::size_t left = bytes.size();
    while (left > 0) { // zlib takes at most a uInt at a time
        const uInt part = static_cast<uInt>(std::min<std::size_t>(left, 1u << 30));
        crc = crc32(crc, p, part);
        p += part;
        left -= part;
    }
    return static_cast<std::uint32_t>(crc);
}

// The status head and the FFF of a worker result.
void fill_result(const process_result& result, const document_ptr& document,
                 std::uint32_t base_score, document_status& status, std::string& fff,
                 std::uint32_t& score) {
    status.status = result.type;
    status.message = result.message;
    status.mime = result.mime;
    status.charset = result.charset;
    status.datetime = static_cast<std::uint32_t>(result.servertime);
    status.redirect = result.redirect;
    status.sidemeta_text = result.sidemeta;
    status.corecrc = result.corecrc;
    fff.clear();
    if (document) {
        FFF::ToBinary(*document, fff);
        score = document->score;
    } else {
        score = static_cast<std::uint32_t>(bounded_score(base_score));
    }
    status.fffcrc = fff.empty() ? 0 : crc_of(fff);
}

// The character set of stored content: what its response headers declared, the HTTP default
// when they declared none, nothing for content fetched without headers (files).
std::string charset_of_headers(const std::string& headers) {
    if (headers.empty()) return "";
    http_request head(headers);
    std::string type_text, charset;
    head.get("content-type", type_text);
    const content_type type(type_text);
    if (!type.get_charset(charset) || charset.empty()) charset = "iso-8859-1";
    return charset;
}

void failed(document_status& status, const std::string& what) {
    status = document_status{};
    status.status = STATUS_INTERNAL;
    status.message = what;
    TN_LOG(LF_WORKER, LL_ERROR, "millhand: " << what);
}

} // namespace

millhand_service::millhand_service(const config& cfg) : cfg_(cfg) {
    rebuild_worker();
}

millhand_service::~millhand_service() = default;

void millhand_service::rebuild_worker() {
    // The old core goes first: its plug-ins are unregistered and their libraries closed
    // before the new core loads them again.
    worker_.reset();
    tried_plugins_.clear();
    configured_docfilters_.clear();
    worker_ = std::make_unique<worker>(cfg_);
    for (const auto& entry : plugins_)
        register_plugin(entry.first);
    for (const auto& entry : docfilters_)
        configure_docfilter(entry.first);
}

void millhand_service::register_plugin(std::uint32_t id) {
    tried_plugins_.insert(id);
    const plugin_message& p = plugins_.at(id);
    if (!worker_->register_plugin(static_cast<std::int32_t>(id), p.record))
        TN_LOG(LF_WORKER, LL_ERROR,
               "Error registering plugin " << id << " ('" << p.record.DLLName << "')");
}

void millhand_service::configure_docfilter(std::uint32_t id) {
    const docfilter_message& d = docfilters_.at(id);
    if (worker_->configure_docfilter(static_cast<std::int32_t>(id), d.record))
        configured_docfilters_.insert(id);
    else {
        configured_docfilters_.erase(id);
        TN_LOG(LF_WORKER, LL_ERROR,
               "Error configuring docfilter " << id << " of plugin " << d.record.PluginID);
    }
}

void millhand_service::update_records(const plugin_map& plugins, const docfilter_map& docfilters) {
    // A plug-in registered again would keep docfilters configured by its former registration
    // (and a failed registration cannot be undone): a changed plug-in gets a fresh core.
    bool rebuild = false;
    std::vector<std::uint32_t> new_plugins;
    for (const auto& [id, p] : plugins) {
        auto known = plugins_.find(id);
        if (known != plugins_.end() && known->second.magic == p.magic &&
            known->second.record == p.record)
            continue;
        plugins_[id] = p;
        if (tried_plugins_.count(id))
            rebuild = true;
        else
            new_plugins.push_back(id);
    }
    std::vector<std::uint32_t> new_docfilters;
    for (const auto& [id, d] : docfilters) {
        auto known = docfilters_.find(id);
        if (known != docfilters_.end() && known->second.magic == d.magic &&
            known->second.record == d.record && configured_docfilters_.count(id))
            continue;
        docfilters_[id] = d;
        new_docfilters.push_back(id);
    }
    if (rebuild) {
        TN_LOG(LF_WORKER, LL_DEBUG, "Plug-in records changed: reloading the plug-ins");
        rebuild_worker();
        return;
    }
    for (std::uint32_t id : new_plugins)
        register_plugin(id);
    // Docfilters refused earlier for want of their plug-in are tried again with it.
    for (const auto& [id, d] : docfilters_)
        if (!configured_docfilters_.count(id) &&
            std::find(new_docfilters.begin(), new_docfilters.end(), id) == new_docfilters.end() &&
            std::find(new_plugins.begin(), new_plugins.end(),
                      static_cast<std::uint32_t>(d.record.PluginID)) != new_plugins.end())
            new_docfilters.push_back(id);
    std::sort(new_docfilters.begin(), new_docfilters.end());
    for (std::uint32_t id : new_docfilters)
        configure_docfilter(id);
}

void millhand_service::process(const process_request& req, process_reply& rep) {
    rep = process_reply{};
    try {
        if (!worker_) rebuild_worker();
        update_records(req.plugins, req.docfilters);
        process_result result;
        document_ptr document;
        outlink_list outlinks;
        worker_->process_url(bounded_score(req.base_score), req.docid, req.url, req.cookies,
                             req.collect_cookies != 0, req.source_xml, req.auth_xml, req.reserved,
                             req.sidemeta != 0, pipeline_of(req.docfilter_ids),
                             req.text_exclusion_begin, req.text_exclusion_end, rep.headers,
                             rep.content, document, outlinks, result);
        fill_result(result, document, req.base_score, rep.status, rep.fff, rep.score);
        rep.outlinks.reserve(outlinks.size());
        for (outlink& link : outlinks)
            rep.outlinks.push_back(
                {std::move(link.first), static_cast<std::uint32_t>(std::max(link.second, 0))});
    } catch (const std::exception& e) {
        rep = process_reply{};
        failed(rep.status, std::string("processing ") + req.url + " failed: " + e.what());
    }
}

void millhand_service::reprocess(const reprocess_request& req, reprocess_reply& rep) {
    rep = reprocess_reply{};
    try {
        if (!worker_) rebuild_worker();
        update_records(req.plugins, req.docfilters);
        process_result result;
        result.type = CRAWL_NONE;
        result.sidemeta = req.sidemeta_text;
        document_ptr document;
        outlink_list outlinks; // the stored version keeps its links
        worker_->process_content(bounded_score(req.base_score), req.guid, req.url, req.mime,
                                 charset_of_headers(req.headers), req.content, req.sidemeta_text,
                                 pipeline_of(req.docfilter_ids), req.text_exclusion_begin,
                                 req.text_exclusion_end, document, outlinks, result);
        fill_result(result, document, req.base_score, rep.status, rep.fff, rep.score);
    } catch (const std::exception& e) {
        rep = reprocess_reply{};
        failed(rep.status, std::string("reprocessing ") + req.url + " failed: " + e.what());
    }
}

bool millhand_service::answer(const request& req, reply& rep) {
    rep = reply{};
    switch (req.id) {
    case QUIT:
        rep.id = QUITTING;
        return false;
    case PROCESS:
        rep.id = PROCESSED;
        process(req.process, rep.processed);
        return true;
    case REPROCESS:
        rep.id = REPROCESSED;
        reprocess(req.reprocess, rep.reprocessed);
        return true;
    default:
        TN_LOG(LF_WORKER, LL_ERROR, "Unknown request " << static_cast<std::int32_t>(req.id));
        rep.id = static_cast<reply_t>(req.id);
        return false;
    }
}

} // namespace lumbrake
