// Child program of the socket framing tests, started by server_proxy with the port as its only
// argument. What it does depends on the name it was started under (the test links it into a
// deployment folder under several names):
//   echo    connects back and serves one-byte commands until the connection ends
//   die     ends at once without connecting
//   hang    never connects, sleeps until it is killed
#include "ipc/socket_ipc.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

using namespace socket_ipc;

namespace {

void serve(int s) {
    for (;;) {
        unsigned char op;
        if (::recv(s, &op, 1, MSG_WAITALL) != 1) std::exit(7); // the server went away
        switch (op) {
        case 'S': { // echo a string
            std::string v;
            recv_string(s, v);
            send_string(s, v);
            break;
        }
        case 'U':
            send_u32(s, recv_u32(s));
            break;
        case 'H':
            send_u16(s, recv_u16(s));
            break;
        case 'L': // one link record
            send_string(s, "http://example.org/a");
            send_u32(s, 750000);
            break;
        case 'P': { // a 5000-byte string in three pieces
            std::string body(5000, 'x');
            for (std::size_t i = 0; i < body.size(); ++i)
                body[i] = static_cast<char>('a' + i % 26);
            unsigned char len[4] = {0x88, 0x13, 0, 0};
            safe_send(s, len, 2);
            ::usleep(20000);
            safe_send(s, len + 2, 2);
            safe_send(s, body.data(), 1000);
            ::usleep(20000);
            safe_send(s, body.data() + 1000, 4000);
            break;
        }
        case 'C': { // two bytes of an integer, then the end
            unsigned char half[2] = {1, 2};
            safe_send(s, half, 2);
            ::close(s);
            std::exit(0);
        }
        case 'Q':
            std::exit(0);
        default:
            std::exit(5);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 1;
    const char* slash = std::strrchr(argv[0], '/');
    std::string name = slash ? slash + 1 : argv[0];
    int port = std::atoi(argv[1]);
    if (name == "die") return 3;
    if (name == "hang")
        for (;;)
            ::pause();
    try {
        std::string error;
        const int s = connect_back(port, error);
        if (s < 0) return 2;
        serve(s);
    } catch (const socket_ipc::socket_error&) {
        return 6;
    }
    return 0;
}
