// robots.txt rules under libFuzzer + ASan/UBSan. The first byte picks the robot name, the rest
// is the text. Every text must compile (all its characters are literal but "*"), and a rule
// set matching a path must match every longer path that starts with it: the rules are
// anchored prefixes with wildcards and nothing else.
#include "robotschecker/robotstxt.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    static const char* const robots[] = {"lumbrakebot", "a", "Googlebot/2.1", "*"};
    const char* robot = robots[data[0] % 4];
    std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    lumbrake::robotstxt rules(text, robot);
    if (!rules.compiled()) std::abort();
    if (rules.expression().rfind("^I'm not an URL$", 0) != 0) std::abort();

    // Paths: fixed ones and the tail of the input (often a piece of a rule).
    std::string tail = "/";
    tail.append(text.substr(text.size() > 48 ? text.size() - 48 : 0));
    std::size_t nul = tail.find('\0');
    if (nul != std::string::npos) tail.resize(nul);
    for (const std::string& path : {std::string("/"), std::string("/a"), tail}) {
        if (rules.matches(path) && !rules.matches(path + "x/.*$\\")) std::abort();
    }
    return 0;
}
