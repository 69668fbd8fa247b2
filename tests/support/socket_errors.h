// The message of the socket_error a call throws, for tests of the socket framing and of the
// worker messages over it.
#pragma once

#include "ipc/socket_ipc.h"

#include <functional>
#include <string>

namespace tn_test {

// what() of the socket_error thrown by f; "(nothing thrown)" when f returns. Any other
// exception passes through and fails the test.
inline std::string thrown_text(const std::function<void()>& f) {
    try {
        f();
    } catch (const socket_ipc::socket_error& e) {
        return e.what();
    }
    return "(nothing thrown)";
}

} // namespace tn_test
