#include "linux-platform/process.h"

#include <cerrno>
#include <csignal>
#include <spawn.h>
#include <sys/wait.h>

namespace lumbrake::platform {

pid_t spawn(const std::string& path, const std::vector<std::string>& argv,
            const std::vector<std::string>& envp, int& error_number) {
    std::vector<char*> args, env;
    args.reserve(argv.size() + 1);
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    env.reserve(envp.size() + 1);
    for (const std::string& e : envp)
        env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    // Whatever another thread opened without close-on-exec stays with us.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    // Ignored signals (SIGPIPE) and a blocked mask would otherwise be inherited across exec.
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    int rc = posix_spawn(&pid, path.c_str(), &actions, &attr, args.data(), env.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    if (rc != 0) {
        error_number = rc;
        return 0;
    }
    error_number = 0;
    return pid;
}

pid_t wait_child(pid_t pid, int* status) {
    int raw = 0;
    pid_t r;
    do {
        r = ::waitpid(pid, &raw, 0);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return -1;
    int code = 0;
    if (WIFEXITED(raw))
        code = WEXITSTATUS(raw);
    else if (WIFSIGNALED(raw))
        code = WTERMSIG(raw) * 256;
    if (status) *status = code;
    return r;
}

} // namespace lumbrake::platform
