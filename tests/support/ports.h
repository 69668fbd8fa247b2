// Ports for the servers a test starts that bind their port themselves (the daemon, nginx, a
// script): reserve_port().
//
// Binding port 0, reading the port and closing the socket races under parallel ctest: the kernel
// hands the same ephemeral port to the next bind to port 0 or outgoing connection of another
// test before the server has bound it. The ports here lie below the kernel's ephemeral range, so
// no bind to port 0 and no outgoing connection gets them, and each is reserved across test
// programs by an exclusive lock on a file named after it, held until this program ends.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>

namespace tn_test {

namespace ports_detail {

// True when 127.0.0.1:port can be bound right now.
inline bool bindable(int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<std::uint16_t>(port));
    bool ok = ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// The first port of the kernel's ephemeral range.
inline int ephemeral_low() {
    std::ifstream in("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 0;
    if (!(in >> low) || low < 12000) low = 32768;
    return low;
}

} // namespace ports_detail

// A port on 127.0.0.1 that no other test program holds and that nothing listens on now.
inline int reserve_port() {
    static std::mutex mutex;
    std::lock_guard<std::mutex> lock(mutex);
    const std::string dir = "/tmp/trawlnest-test-ports";
    ::mkdir(dir.c_str(), 01777);
    const int high = ports_detail::ephemeral_low(); // exclusive
    const int low = high - 10000;
    const int span = high - low;
    // Programs start at different places, so they rarely try the same files.
    const int start = static_cast<int>(::getpid() % span);
    for (int i = 0; i < span; ++i) {
        const int port = low + (start + i) % span;
        const std::string path = dir + "/" + std::to_string(port);
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) continue;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ports_detail::bindable(port))
            return port; // fd stays open: the lock lasts as long as this program
        ::close(fd);
    }
    throw std::runtime_error("no free port below the ephemeral range");
}

} // namespace tn_test
