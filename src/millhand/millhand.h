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

    using process_request = millhand_wire::process_request;
    using process_reply = millhand_wire::process_reply;
    using reprocess_request = millhand_wire::reprocess_request;
    using reprocess_reply = millhand_wire::reprocess_reply;

    // Fetches and processes one URL. Blocks until the reply is complete; a transfer failure
    // (a killed or vanished worker) throws the framing's text. A reply of another kind is the
    // worker's failure (thrown likewise).
    process_reply process(const process_request& request);

    // Processes stored content again without fetching it; as process otherwise.
    reprocess_reply reprocess(const reprocess_request& request);
};

} // namespace lumbrake
