#pragma once
// Runs a program with arguments, in a directory and environment of the
// test's choosing, and collects its exit status and output (bounded in time).

#include <cerrno>
#include <chrono>
#include <csignal>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tolvan::testing {

struct RunResult {
    int status = -1;  // exit status, or -1 when killed at the deadline
    std::string out;
    std::string err;
    double seconds = 0;
};

inline RunResult runTool(const std::string& program, const std::vector<std::string>& args, const std::string& cwd = "",
                         const std::map<std::string, std::string>& env = {},
                         std::chrono::seconds limit = std::chrono::seconds(60))
{
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        return {};
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0)
            _exit(127);
        for (const auto& [k, v] : env)
            setenv(k.c_str(), v.c_str(), 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    RunResult r;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    int open = 2;
    bool killed = false;
    while (open > 0) {
        const auto left = limit - (std::chrono::steady_clock::now() - start);
        const int ms = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(left).count());
        if (ms <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds, 2, ms) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            char buf[4096];
            const ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n <= 0) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            } else {
                (i == 0 ? r.out : r.err).append(buf, static_cast<std::size_t>(n));
            }
        }
    }
    for (auto& f : fds)
        if (f.fd >= 0)
            close(f.fd);
    int status = 0;
    waitpid(pid, &status, 0);
    r.status = (!killed && WIFEXITED(status)) ? WEXITSTATUS(status) : -1;
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
}

}  // namespace tolvan::testing
