// Runs a test server script (python3) that prints its port on its first output line and ends
// when its standard input closes.
#pragma once

#include <csignal>
#include <fcntl.h>
#include <cstdio>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class script_server {
public:
    explicit script_server(const std::vector<std::string>& args) {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            std::vector<char*> argv;
            for (const std::string& a : args)
                argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            ::execvp(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        stdin_ = in[1];
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n')
            line += c;
        ::close(out[0]);
        port_ = line.empty() ? 0 : std::stoi(line);
    }
    ~script_server() {
        if (stdin_ >= 0) ::close(stdin_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    script_server(const script_server&) = delete;
    script_server& operator=(const script_server&) = delete;

    int port() const { return port_; }

private:
    pid_t pid_ = -1;
    int stdin_ = -1;
    int port_ = 0;
};
