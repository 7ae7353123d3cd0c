#include "core/StopSignal.h"

#include <atomic>

#include "core/ChildProcess.h"

namespace core {

namespace {

std::atomic<bool>& stopFlag() {
    static std::atomic<bool> flag{false};
    return flag;
}

} // namespace

const char* Stopped::what() const noexcept { return "The application is quitting."; }

void requestStop() {
    // Raised first: a child started after this sees it under the registry's
    // lock and is refused, one started before is listed and ended here.
    stopFlag().store(true);
    terminateRunningChildProcesses();
}

void clearStopRequest() { stopFlag().store(false); }

bool isStopRequested() { return stopFlag().load(std::memory_order_relaxed); }

void throwIfStopRequested() {
    if (isStopRequested()) throw Stopped();
}

} // namespace core
