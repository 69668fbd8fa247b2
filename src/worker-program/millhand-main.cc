// The worker program: started by the daemon with a port number, it connects back to
// 127.0.0.1 on that port and answers the daemon's requests until the connection ends.
#include "ipc/socket_ipc.h"
#include "util/config.h"
#include "util/log.h"
#include "util/postmortem.h"
#include "util/syslayer.h"
#include "worker-program/millhand-service.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace lumbrake;

// A decimal port from 1 to 65535, digits only.
bool parse_port(const char* text, int& port) {
    if (!text || !*text || std::strlen(text) > 5) return false;
    int value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
    }
    if (value < 1 || value > 65535) return false;
    port = value;
    return true;
}

int serve(int fd, millhand_service& service) {
    socket_ipc::server_helper connection(fd);
    for (;;) {
        // The wait for the next request also receives its first block.
        if (connection.peer_closed()) {
            TN_LOG(LF_WORKER, LL_DEBUG, "millhand: the daemon closed the connection");
            return 0;
        }
        millhand_wire::request req;
        try {
            millhand_wire::receive_request(connection, req);
        } catch (const socket_ipc::socket_error& e) {
            TN_LOG(LF_WORKER, LL_ERROR, "millhand: reading a request failed: " << e.what());
            return 1;
        }
        if (req.id != millhand_wire::QUIT && req.id != millhand_wire::PROCESS &&
            req.id != millhand_wire::REPROCESS) {
            // Its body cannot be told from the next request: the stream is lost.
            TN_LOG(LF_WORKER, LL_ERROR,
                   "millhand: unknown request " << static_cast<std::int32_t>(req.id));
            return 1;
        }
        millhand_wire::reply rep;
        const bool go_on = service.answer(req, rep);
        try {
            millhand_wire::send_reply(connection, rep);
        } catch (const socket_ipc::socket_error& e) {
            TN_LOG(LF_WORKER, LL_ERROR, "millhand: sending a reply failed: " << e.what());
            return 1;
        }
        if (!go_on) return 0;
    }
}

} // namespace

int main(int argc, char** argv) {
    std::string error;
    lumbrake::platform_init(error); // a vanished daemon must not kill us by SIGPIPE
    lumbrake::postmortem_init(argv[0]);

    int port = 0;
    if (argc != 2 || !parse_port(argv[1], port)) {
        std::fprintf(stderr, "Usage: %s <port>\n", argc > 0 ? argv[0] : "millhand");
        return 2;
    }

    lumbrake::config cfg;
    // Without LOGCFG the log still takes warnings and errors on the standard error stream.
    if (!lumbrake::apply_logcfg(error, cfg, stderr))
        std::fprintf(stderr, "millhand: log settings:%s\n", error.c_str());

    int status = 1;
    try {
        // The core is ready (plug-ins loaded) before the daemon sees the connection.
        lumbrake::millhand_service service(cfg);
        int fd = socket_ipc::connect_back(port, error);
        if (fd < 0) {
            std::fprintf(stderr, "millhand: %s\n", error.c_str());
        } else {
            status = serve(fd, service);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "millhand: %s\n", e.what());
    }
    lumbrake::platform_done();
    return status;
}
