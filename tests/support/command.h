// Running a command line of a real tool (sqlite3, iconv, curl, python3, perl scripts) and
// taking what it prints.
#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace tn_test {

// Everything the command writes on stdout (callers add " 2>&1" for stderr too), and its exit
// code in `exit_code`: -1 when it could not be started or did not exit by itself.
inline std::string command_output_with_status(const std::string& command, int& exit_code) {
    std::string out;
    exit_code = -1;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) return out;
    char buffer[65536];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    const int w = ::pclose(p);
    if (w != -1 && WIFEXITED(w)) exit_code = WEXITSTATUS(w);
    return out;
}

// Everything the command writes on stdout, whatever its exit code.
inline std::string command_output(const std::string& command) {
    int ignored;
    return command_output_with_status(command, ignored);
}

// What the sqlite3 shell prints (stderr included) for a statement on the database file.
inline std::string sqlite_output(const std::string& file, const std::string& statement,
                                 const std::string& options = "") {
    return command_output("sqlite3 " + options + " '" + file + "' \"" + statement + "\" 2>&1");
}

// Whether the shell finds the program (tests of real tools skip without them).
inline bool have_program(const std::string& name) {
    int status = -1;
    command_output_with_status("command -v '" + name + "' >/dev/null 2>&1", status);
    return status == 0;
}

} // namespace tn_test
