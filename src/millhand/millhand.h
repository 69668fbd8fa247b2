// The daemon's proxy of one worker process: starts the program millhand and sends it the
// documents to fetch and parse, one request at a time.
#pragma once

#include "ipc/socket_ipc.h"
#include "millhand/millhand-serialize.h"

#include <cstdint>
#include <string>

namespace lumbrake {

class config;

class millhand : public socket_ipc::server_proxy {
public:
    using request_t = millhand_wire::request_t;
    using reply_t = millhand_wire::reply_t;
    using document_status = millhand_wire::document_status;
    using plugin_map = millhand_wire::plugin_map;
    using docfilter_map = millhand_wire::docfilter_map;
    using docfilter_id_list = millhand_wire::docfilter_id_list;
    using link_list = millhand_wire::link_list;

    // Starts nothing: start() (of the base) starts DEPLOYDIR/bin/millhand. cfg must outlive
    // the proxy.
    explicit millhand(const config& cfg);
    ~millhand() override;

    // Fetches and processes one URL. Blocks until the reply is complete; a transfer failure
    // (a killed or vanished worker) throws the framing's text. A reply of another kind is a
    // broken invariant and ends the program. outlinks is replaced.
    void process(std::uint32_t base_score, const std::string& docid, const std::string& url,
                 const std::string& cookies, std::uint8_t collect_cookies,
                 const std::string& source_xml, const std::string& auth_xml,
                 const std::string& reserved, std::uint8_t sidemeta,
                 const docfilter_id_list& docfilter_ids, const plugin_map& plugins,
                 const docfilter_map& docfilters, const std::string& text_exclusion_begin,
                 const std::string& text_exclusion_end, document_status& status, std::string& fff,
                 std::uint32_t& score, link_list& outlinks, std::string& headers,
                 std::string& content);

    // Processes stored content again without fetching it; as process otherwise.
    void reprocess(std::uint32_t base_score, const std::string& guid, const std::string& url,
                   const std::string& headers, const std::string& content, const std::string& mime,
                   const std::string& sidemeta_text, const docfilter_id_list& docfilter_ids,
                   const plugin_map& plugins, const docfilter_map& docfilters,
                   const std::string& text_exclusion_begin, const std::string& text_exclusion_end,
                   document_status& status, std::string& fff, std::uint32_t& score);
};

} // namespace lumbrake
