#include "core/ChildProcess.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <mutex>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "core/StopSignal.h"

extern char** environ;

namespace core {

namespace {

// Live children by pid. A pid is listed from its spawn until just before it
// is reaped, so a kill never reaches a recycled pid.
struct ChildRegistry {
    std::mutex mutex;
    std::vector<pid_t> pids;
};

ChildRegistry& registry() {
    static ChildRegistry r;
    return r;
}

void forget(pid_t pid) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    std::erase(r.pids, pid);
}

} // namespace

std::vector<int> runningChildProcessIds() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    return {r.pids.begin(), r.pids.end()};
}

std::size_t terminateRunningChildProcesses() {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    for (pid_t pid : r.pids) ::kill(pid, SIGKILL);
    return r.pids.size();
}

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
    int rc = 0;
    bool stopped = false;
    {
        // Spawning under the registry's lock: a quit that kills the children
        // cannot miss one that is being started.
        auto& r = registry();
        std::lock_guard lock(r.mutex);
        stopped = isStopRequested();
        if (!stopped) {
            rc = searchPath ? ::posix_spawnp(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ)
                            : ::posix_spawn(&pid, argv[0].c_str(), &actions, nullptr, args.data(), environ);
            if (rc == 0) r.pids.push_back(pid);
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (stopped || rc != 0) {
        ::close(fds[0]);
        if (stopped) throw Stopped();
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

    // Wait without reaping, unlist, then reap: until it is reaped the pid
    // cannot be reused by another process.
    siginfo_t info{};
    while (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) < 0 && errno == EINTR) {
    }
    forget(pid);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            result.signaled = true;
            return result;
        }
    }
    if (WIFSIGNALED(status)) {
        // Ended by the stop, not by a fault of the program's.
        if (isStopRequested()) throw Stopped();
        result.signaled = true;
        result.signal = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

} // namespace core
