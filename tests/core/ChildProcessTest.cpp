#include <chrono>
#include <csignal>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "core/ChildProcess.h"
#include "core/StopSignal.h"
#include "support/TestSupport.h"

namespace {

// Waits until `count` children are listed as running (or 10 s pass).
bool waitForChildren(std::size_t count) {
    for (int i = 0; i < 1000; ++i) {
        if (core::runningChildProcessIds().size() == count) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

} // namespace

TEST(ChildProcess, RunningChildrenAreListedAndEndedByTheirIds) {
    ASSERT_TRUE(core::runningChildProcessIds().empty());
    auto first = std::async(std::launch::async, [] { return core::runChildProcess({"/bin/sleep", "60"}); });
    auto second = std::async(std::launch::async, [] { return core::runChildProcess({"sleep", "60"}, true); });
    ASSERT_TRUE(waitForChildren(2));
    const auto pids = core::runningChildProcessIds();
    EXPECT_EQ(core::terminateRunningChildProcesses(), 2u);
    ASSERT_EQ(first.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    ASSERT_EQ(second.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    for (auto* f : {&first, &second}) {
        auto result = f->get();
        EXPECT_TRUE(result.signaled);
        EXPECT_EQ(result.signal, SIGKILL);
        EXPECT_FALSE(result.succeeded());
    }
    // Reaped and unlisted: the ids name no process any more.
    EXPECT_TRUE(core::runningChildProcessIds().empty());
    for (int pid : pids) EXPECT_NE(::kill(pid, 0), 0);
}

TEST(ChildProcess, AFinishedChildIsUnlistedAndNothingIsLeftToEnd) {
    auto result = core::runChildProcess({"/bin/sh", "-c", "echo done"});
    EXPECT_TRUE(result.succeeded());
    EXPECT_EQ(result.output, "done\n");
    EXPECT_TRUE(core::runningChildProcessIds().empty());
    EXPECT_EQ(core::terminateRunningChildProcesses(), 0u);
}

// A stop ends the running child and refuses the next one, both as Stopped:
// neither is the program's failure.
TEST(ChildProcess, AStopEndsTheRunningChildAndStartsNoOther) {
    auto running = std::async(std::launch::async, [] { return core::runChildProcess({"/bin/sleep", "60"}); });
    ASSERT_TRUE(waitForChildren(1));
    const testsupport::StopLoweredAtExit lower;
    core::requestStop();
    ASSERT_EQ(running.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_THROW(running.get(), core::Stopped);
    EXPECT_TRUE(core::runningChildProcessIds().empty());
    EXPECT_THROW(core::runChildProcess({"/bin/true"}), core::Stopped);
    core::clearStopRequest();
    EXPECT_TRUE(core::runChildProcess({"/bin/true"}).succeeded());
}
