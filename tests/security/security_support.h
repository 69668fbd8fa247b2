// Shared by the security tests: a scratch folder, commands run through the shell (curl,
// python3, chromium) with their output, and the daemon's SOAP envelopes written by hand.
#pragma once

#include "../support/live_daemon.h"

#include <sys/wait.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace sec {

// Keep `name` short: the daemon's notification socket path below it must fit a socket address.
inline std::filesystem::path scratch(const char* name) {
    const char* tmp = std::getenv("TEST_TMPDIR");
    auto p = std::filesystem::path(tmp ? tmp : "/tmp/") / name;
    std::filesystem::remove_all(p);
    std::filesystem::create_directories(p);
    return p;
}

struct command_result {
    int status = -1; // exit status; 128 + signal for a signal death
    std::string out; // standard output
    double seconds = 0;
};

// Runs `command` under /bin/sh; standard error goes where the command sends it.
inline command_result run(const std::string& command) {
    command_result r;
    const auto started = std::chrono::steady_clock::now();
    FILE* p = ::popen(command.c_str(), "r");
    if (!p) return r;
    std::array<char, 65536> buffer;
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), p)) > 0)
        r.out.append(buffer.data(), n);
    int status = ::pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return r;
}

inline std::string quote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Put in front of every Python program: one request on a fresh connection to the daemon.
inline constexpr const char* PYTHON_PRELUDE = R"PY(
import socket
def exchange(port, request, timeout=30, read=True):
    """The whole answer to `request` (bytes); b"" when not read, "<timeout>" appended."""
    s = socket.create_connection(("127.0.0.1", port), timeout=timeout)
    if not read:
        # Held back until the close, so the request and its end arrive together: the server
        # sees the client gone however late this process runs again.
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_CORK, 1)
    s.sendall(request)
    data = b""
    try:
        while read:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    except socket.timeout:
        data += b"<timeout>"
    s.close()
    return data
)PY";

// A Python program (after the prelude) written to `dir`/name.py and run with the arguments.
inline command_result python(const std::filesystem::path& dir, const std::string& name,
                             const std::string& program, const std::string& args = "") {
    const auto file = dir / (name + ".py");
    tn_test::live_daemon::write(file, PYTHON_PRELUDE + program);
    return run("python3 " + quote(file.string()) + " " + args);
}

// The DOM after the page has loaded, as headless Chromium builds it (a fresh profile each time).
inline std::string chromium_dom(const std::filesystem::path& dir, const std::string& url) {
    static int n = 0;
    const auto profile = dir / ("chromium-profile-" + std::to_string(++n));
    std::filesystem::create_directories(profile);
    return run("timeout 60 chromium --headless --no-sandbox --disable-gpu --disable-quic "
               "--no-first-run --disable-background-networking --disable-component-update "
               "--disable-sync --user-data-dir=" +
               quote(profile.string()) + " --virtual-time-budget=1000 --dump-dom " + quote(url) +
               " 2>/dev/null")
        .out;
}

inline std::string envelope(const std::string& method, const std::string& params) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
           "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
           "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
           "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><SOAP-ENV:Body><m:" +
           method + " xmlns:m=\"http://trawlnest.lumbrake.net/search/\">" + params + "</m:" +
           method + "></SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

inline std::string add_user_envelope(const std::string& name, bool admin) {
    return envelope("AddUser", "<username xsi:type=\"xsd:string\">" + name +
                                   "</username><password xsi:type=\"xsd:string\">pw</password>"
                                   "<admin xsi:type=\"xsd:boolean\">" +
                                   (admin ? "true" : "false") + "</admin>");
}

// The status code of the first status line in curl's output of -i (or -w), or 0.
inline int status_of(const std::string& answer) {
    auto p = answer.find("HTTP/1.1 ");
    return p == std::string::npos ? 0 : std::atoi(answer.c_str() + p + 9);
}

} // namespace sec
