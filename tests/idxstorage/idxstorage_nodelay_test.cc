// Starting the index server when the listening socket refuses TCP_NODELAY: only a matter of
// latency, so the start goes on (the refusal is logged). setsockopt is interposed in this
// program only.
#include "idx_test_env.h"

#include "idxstorage/idxstorage.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>

namespace {
std::atomic<int> refused{0};
}

extern "C" int setsockopt(int fd, int level, int name, const void* value, socklen_t length) {
    if (level == IPPROTO_TCP && name == TCP_NODELAY) {
        ++refused;
        errno = ENOPROTOOPT;
        return -1;
    }
    using real_t = int (*)(int, int, int, const void*, socklen_t);
    static real_t real = reinterpret_cast<real_t>(::dlsym(RTLD_NEXT, "setsockopt"));
    return real(fd, level, name, value, length);
}

namespace {

TEST(IndexServerStart, RefusedNoDelayIsNotFatal) {
    idx_test::scratch_deploy deploy(TN_SIFTVAULT);
    lumbrake::index_connection connection;
    std::string error;
    ASSERT_TRUE(connection.start_index_server(error)) << error;
    EXPECT_GT(refused.load(), 0);
    EXPECT_EQ(connection.request(lumbrake::IDX_FLUSH), 0);
}

} // namespace
