// A stand-in index server for the client tests: connects back like siftvault, writes one line
// per request it reads to "recorder.log" in its working directory (bytes outside printable
// ASCII as \xHH), answers 0 to every request that takes a reply, and writes its LUCENE_*
// environment to "recorder-env.txt". With IDX_RECORDER_CLOSE_AFTER=n it drops the connection
// unanswered once it has read n requests.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "idxstorage/idx-protocol.h"

using namespace lumbrake;

namespace {

std::string shown(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7f && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

} // namespace

extern char** environ;

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    {
        std::ofstream env("recorder-env.txt");
        for (char** e = environ; *e; ++e)
            if (std::string(*e).rfind("LUCENE_", 0) == 0) env << *e << "\n";
    }
    long close_after = -1;
    if (const char* v = std::getenv("IDX_RECORDER_CLOSE_AFTER")) close_after = std::atol(v);

    int sock = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<unsigned short>(std::atoi(argv[1])));
    if (::connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return 1;

    std::ofstream log("recorder.log", std::ios::app);
    idx_socket_channel ch(sock);
    idx_limits limits;
    long served = 0;
    for (;;) {
        std::int32_t command = 0;
        if (!ch.read_int(command)) break;
        std::string line, a, b;
        std::int32_t n = 0, s = 0, i = 0, t = 0;
        bool answer = true;
        switch (command) {
        case IDX_QUIT:
            line = "QUIT";
            answer = false;
            break;
        case IDX_FLUSH:
            line = "FLUSH";
            break;
        case IDX_BEGIN_DOC:
            line = "BEGIN_DOC";
            break;
        case IDX_END_DOC:
            line = "END_DOC";
            break;
        case IDX_OPTIMIZE:
            line = "OPTIMIZE";
            break;
        case IDX_OPEN_READER:
            // No search connections here: every search stays on the one connection.
            line = "OPEN_READER";
            log << line << "\n" << std::flush;
            ++served;
            ch.write_int(-1);
            continue;
        case IDX_TEXT_FIELD:
            ch.read_string(a, limits.max_name);
            ch.read_string(b, limits.max_string);
            ch.read_int(s), ch.read_int(i), ch.read_int(t);
            line = "TEXT " + shown(a) + "=" + shown(b) + " " + std::to_string(s) +
                   std::to_string(i) + std::to_string(t);
            break;
        case IDX_TIME_FIELD:
            ch.read_string(a, limits.max_name);
            ch.read_int(n);
            ch.read_int(s), ch.read_int(i), ch.read_int(t);
            line = "TIME " + shown(a) + "=" + std::to_string(n) + " " + std::to_string(s) +
                   std::to_string(i) + std::to_string(t);
            break;
        case IDX_DELETE: {
            std::vector<index_term> items;
            read_items(ch, items, limits);
            line = "DELETE";
            for (const index_term& item : items)
                line += " " + std::to_string(item.op) + ":" + shown(item.value) + ":" +
                        shown(item.field);
            break;
        }
        default:
            line = "UNKNOWN " + std::to_string(command);
            answer = false;
            break;
        }
        log << line << "\n" << std::flush;
        ++served;
        if (command == IDX_QUIT) break;
        if (close_after >= 0 && served >= close_after) break;
        if (answer) ch.write_int(0);
    }
    ::close(sock);
    return 0;
}
