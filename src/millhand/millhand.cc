#include "millhand/millhand.h"

#include "util/log.h"

namespace lumbrake {

using millhand_wire::reply;
using millhand_wire::request;

millhand::millhand(const config& cfg) : socket_ipc::server_proxy(cfg, "millhand") {}

millhand::~millhand() = default;

millhand::process_reply millhand::process(const process_request& body) {
    request req;
    req.id = request_t::PROCESS;
    req.process = body;
    millhand_wire::send_request(*this, req);

    reply rep;
    millhand_wire::receive_reply(*this, rep);
    // A reply of another kind is a worker out of step: its failure, not the daemon's.
    if (rep.id != reply_t::PROCESSED)
        throw socket_ipc::socket_error("recv", 0,
                                       "Unexpected reply " +
                                           std::to_string(static_cast<int>(rep.id)) +
                                           " from the worker");
    TN_LOG(LF_WORKERSCHEDULING, LL_DEBUG,
           "millhand('" << body.url << "') ends with " << rep.processed.outlinks.size()
                        << " outlinks");
    return std::move(rep.processed);
}

millhand::reprocess_reply millhand::reprocess(const reprocess_request& body) {
    request req;
    req.id = request_t::REPROCESS;
    req.reprocess = body;
    millhand_wire::send_request(*this, req);

    reply rep;
    millhand_wire::receive_reply(*this, rep);
    if (rep.id != reply_t::REPROCESSED)
        throw socket_ipc::socket_error("recv", 0,
                                       "Unexpected reply " +
                                           std::to_string(static_cast<int>(rep.id)) +
                                           " from the worker");
    TN_LOG(LF_WORKERSCHEDULING, LL_DEBUG, "millhand('" << body.url << "') reprocessing ended");
    return std::move(rep.reprocessed);
}

} // namespace lumbrake
