#include "millhand/millhand.h"

#include "util/log.h"

namespace lumbrake {

using millhand_wire::reply;
using millhand_wire::request;

millhand::millhand(const config& cfg) : socket_ipc::server_proxy(cfg, "millhand") {}

millhand::~millhand() = default;

void millhand::process(std::uint32_t base_score, const std::string& docid, const std::string& url,
                       const std::string& cookies, std::uint8_t collect_cookies,
                       const std::string& source_xml, const std::string& auth_xml,
                       const std::string& reserved, std::uint8_t sidemeta,
                       const docfilter_id_list& docfilter_ids, const plugin_map& plugins,
                       const docfilter_map& docfilters, const std::string& text_exclusion_begin,
                       const std::string& text_exclusion_end, document_status& status,
                       std::string& fff, std::uint32_t& score, link_list& outlinks,
                       std::string& headers, std::string& content) {
    request req;
    req.id = request_t::PROCESS;
    millhand_wire::process_request& body = req.process;
    body.base_score = base_score;
    body.docid = docid;
    body.url = url;
    body.cookies = cookies;
    body.collect_cookies = collect_cookies;
    body.source_xml = source_xml;
    body.auth_xml = auth_xml;
    body.reserved = reserved;
    body.sidemeta = sidemeta;
    body.docfilter_ids = docfilter_ids;
    body.plugins = plugins;
    body.docfilters = docfilters;
    body.text_exclusion_begin = text_exclusion_begin;
    body.text_exclusion_end = text_exclusion_end;
    millhand_wire::send_request(*this, req);

    reply rep;
    millhand_wire::receive_reply(*this, rep);
    // A reply of another kind is a worker out of step: its failure, not the daemon's.
    if (rep.id != reply_t::PROCESSED)
        throw socket_ipc::socket_error("recv", 0,
                                       "Unexpected reply " +
                                           std::to_string(static_cast<int>(rep.id)) +
                                           " from the worker");

    millhand_wire::process_reply& r = rep.processed;
    status = std::move(r.status);
    fff = std::move(r.fff);
    score = r.score;
    outlinks = std::move(r.outlinks);
    headers = std::move(r.headers);
    content = std::move(r.content);
    TN_LOG(LF_WORKERSCHEDULING, LL_DEBUG,
           "millhand('" << url << "') ends with " << outlinks.size() << " outlinks");
}

void millhand::reprocess(std::uint32_t base_score, const std::string& guid, const std::string& url,
                         const std::string& headers, const std::string& content,
                         const std::string& mime, const std::string& sidemeta_text,
                         const docfilter_id_list& docfilter_ids, const plugin_map& plugins,
                         const docfilter_map& docfilters, const std::string& text_exclusion_begin,
                         const std::string& text_exclusion_end, document_status& status,
                         std::string& fff, std::uint32_t& score) {
    request req;
    req.id = request_t::REPROCESS;
    millhand_wire::reprocess_request& body = req.reprocess;
    body.base_score = base_score;
    body.guid = guid;
    body.url = url;
    body.headers = headers;
    body.content = content;
    body.mime = mime;
    body.sidemeta_text = sidemeta_text;
    body.docfilter_ids = docfilter_ids;
    body.plugins = plugins;
    body.docfilters = docfilters;
    body.text_exclusion_begin = text_exclusion_begin;
    body.text_exclusion_end = text_exclusion_end;
    millhand_wire::send_request(*this, req);

    reply rep;
    millhand_wire::receive_reply(*this, rep);
    if (rep.id != reply_t::REPROCESSED)
        throw socket_ipc::socket_error("recv", 0,
                                       "Unexpected reply " +
                                           std::to_string(static_cast<int>(rep.id)) +
                                           " from the worker");

    millhand_wire::reprocess_reply& r = rep.reprocessed;
    status = std::move(r.status);
    fff = std::move(r.fff);
    score = r.score;
    TN_LOG(LF_WORKERSCHEDULING, LL_DEBUG, "millhand('" << url << "') reprocessing ended");
}

} // namespace lumbrake
