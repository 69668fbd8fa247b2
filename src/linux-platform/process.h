// Child processes through posix_spawn: an argument vector, an explicit environment, and no
// descriptor passed on beyond standard input, output and error.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace lumbrake::platform {

// Starts path with argv (argv[0] included) and envp ("NAME=value" entries). The child gets the
// default disposition for every signal and an empty signal mask. Returns the pid, or 0 with
// the error number in error_number.
pid_t spawn(const std::string& path, const std::vector<std::string>& argv,
            const std::vector<std::string>& envp, int& error_number);

// Waits for the child (retrying after interruptions). status: the exit code, or the number of
// the signal that ended the child times 256. Returns pid, or -1 with errno set.
pid_t wait_child(pid_t pid, int* status);

} // namespace lumbrake::platform
