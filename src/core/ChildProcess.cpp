#include "core/ChildProcess.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

extern char** environ;

namespace core {

ChildResult runChildProcess(const std::vector<std::string>& argv, bool searchPath) {
    if (argv.empty()) throw ChildProcessError("No program to start.");
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        throw ChildProcessError(fmt::format("Could not start {}: {}", argv[0], std::strerror(errno)));

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 2);

    std::vector<char*> args;
    args.reserve(argv.size() + 1);
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = 0;
    int rc = searchPath ? ::posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ)
                        : ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        throw ChildProcessError(fmt::format("Could not start {}: {}", argv[0], std::strerror(rc)));
    }

    ChildResult result;
    char buf[65536];
    while (true) {
        ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n > 0) {
            result.output.append(buf, static_cast<size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            break;
        }
    }
    ::close(fds[0]);

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            result.signaled = true;
            return result;
        }
    }
    if (WIFSIGNALED(status)) {
        result.signaled = true;
        result.signal = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

} // namespace core
