// The child processes of a process and their states, read from /proc: for tests that check
// which helper processes a program keeps and that they end with it.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace tn_test {

// The processes parent started that are still running or not yet reaped.
inline std::vector<pid_t> children_of(pid_t parent) {
    std::vector<pid_t> out;
    const std::filesystem::path tasks = "/proc/" + std::to_string(parent) + "/task";
    std::error_code ec;
    for (const auto& task : std::filesystem::directory_iterator(tasks, ec)) {
        std::ifstream in(task.path() / "children");
        pid_t pid;
        while (in >> pid)
            out.push_back(pid);
    }
    return out;
}

// Running ('R', 'S', ...), 'Z' once ended and not yet reaped, '?' once gone.
inline char process_state(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() ? '?' : stat[close + 2];
}

} // namespace tn_test
