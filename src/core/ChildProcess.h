#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "core/Error.h"

namespace core {

class ChildProcessError : public Error {
public:
    using Error::Error;
};

// How a child process ended.
struct ChildResult {
    int exitCode = -1;      // valid when !signaled
    bool signaled = false;  // killed by a signal: always a failure
    int signal = 0;
    std::string output;     // standard output and error, interleaved as written

    bool succeeded() const { return !signaled && exitCode == 0; }
};

// Starts `argv[0]` (a path, not looked up in PATH unless `searchPath`) with
// posix_spawn and an argument vector — never a shell. Standard input is
// /dev/null; standard output and error share one close-on-exec pipe that is
// read to the end. Blocks until the child ends. Throws ChildProcessError when
// the program cannot be started. While a stop is requested (StopSignal.h)
// it starts nothing, and a child ended by a signal meanwhile is no result:
// both throw Stopped.
ChildResult runChildProcess(const std::vector<std::string>& argv, bool searchPath = false);

// The children runChildProcess has started and not yet reaped, so that an
// application that quits mid-run can end them by their process ids.
std::vector<int> runningChildProcessIds();
// Kills (SIGKILL) every child listed above; their runChildProcess calls
// then return a signaled result. Returns how many were signalled.
// requestStop() calls it.
std::size_t terminateRunningChildProcesses();

} // namespace core
