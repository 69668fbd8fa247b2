// Worker messages under libFuzzer: the input is read as a request (the worker's side) and as a
// reply (the daemon's side). Whatever a reader accepts must write back to bytes that read back
// to the very same bytes again; a reader must fail only by the framing's socket_error.
#include "millhand/millhand-serialize.h"

#include "ipc/socket_ipc.h"

#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using namespace lumbrake::millhand_wire;

template <typename Message>
void check(std::string_view input, void (*read)(wire_in&, Message&),
           void (*write)(wire_out&, const Message&)) {
    Message first;
    try {
        buffer_in in(input);
        read(in, first);
    } catch (const socket_ipc::socket_error&) {
        return; // cut short, or a string beyond the framing's limit
    }
    wire_out once;
    write(once, first);
    Message second;
    buffer_in again(once.bytes());
    try {
        read(again, second);
    } catch (const socket_ipc::socket_error&) {
        std::abort(); // what was written cannot be read back
    }
    if (again.remaining() != 0) std::abort();
    wire_out twice;
    write(twice, second);
    if (twice.bytes() != once.bytes()) std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    check<request>(input, read_request, write_request);
    check<reply>(input, read_reply, write_reply);
    return 0;
}
