#include "batch/FolderWatcher.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <atomic>
#include <fstream>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using batch::FolderWatcher;
using namespace std::chrono_literals;

// Stands in for the GUI thread: posted closures wait here until the test
// runs them, as the event loop would.
class MainQueue {
public:
    FolderWatcher::Poster poster() {
        return [this](std::function<void()> fn) {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(fn));
            wake_.notify_all();
        };
    }
    // Runs posted closures for `duration`.
    void pump(std::chrono::milliseconds duration) {
        const auto end = std::chrono::steady_clock::now() + duration;
        for (;;) {
            std::unique_lock lock(mutex_);
            if (!wake_.wait_until(lock, end, [&] { return !queue_.empty(); })) return;
            auto fn = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            fn();
        }
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
};

struct Calls {
    std::vector<std::vector<std::string>> names;
    FolderWatcher::Handler handler() {
        return [this](std::vector<fs::path> files) {
            std::vector<std::string> call;
            for (const auto& f : files) call.push_back(f.filename().string());
            names.push_back(call);
        };
    }
};

void write(const fs::path& path, const std::string& text = "data") {
    std::ofstream(path, std::ios::binary) << text;
}

class FolderWatcherTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    MainQueue main;
    Calls calls;
    std::unique_ptr<FolderWatcher> make(double latency) {
        return std::make_unique<FolderWatcher>(dir.path(), latency, calls.handler(), main.poster());
    }
};

TEST_F(FolderWatcherTest, BurstWithinLatencyIsOneCallSortedByteWise) {
    auto watcher = make(0.3);
    watcher->start();
    ASSERT_TRUE(watcher->isRunning());
    write(dir / "a.wav");
    write(dir / "B.wav");
    write(dir / "c.wav");
    main.pump(900ms);
    ASSERT_EQ(calls.names.size(), 1u);
    EXPECT_EQ(calls.names[0], (std::vector<std::string>{"B.wav", "a.wav", "c.wav"}));
}

TEST_F(FolderWatcherTest, DownloadIsReportedOnceUnderItsFinalName) {
    auto watcher = make(0.15);
    watcher->start();
    write(dir / "x.mp3.crdownload", "partial");
    main.pump(400ms);
    EXPECT_TRUE(calls.names.empty());
    fs::rename(dir / "x.mp3.crdownload", dir / "x.mp3");
    main.pump(400ms);
    ASSERT_EQ(calls.names.size(), 1u);
    EXPECT_EQ(calls.names[0], (std::vector<std::string>{"x.mp3"}));
    write(dir / "x.mp3", "touched again");
    main.pump(400ms);
    EXPECT_EQ(calls.names.size(), 1u);
}

TEST_F(FolderWatcherTest, HiddenAndPresentFilesAreNeverReported) {
    write(dir / "before.wav");
    auto watcher = make(0.1);
    watcher->start();
    write(dir / ".hidden.wav");
    write(dir / "edit.tmp");
    write(dir / "chunk.part");
    write(dir / "before.wav", "changed");
    main.pump(400ms);
    EXPECT_TRUE(calls.names.empty());
}

TEST_F(FolderWatcherTest, WritesPushTheRescanBack) {
    // A file written in chunks over three latencies: nothing is reported
    // while it grows, and the one report comes after the last write.
    const auto latency = 400ms;
    auto watcher = make(0.4);
    watcher->start();
    std::atomic<bool> done{false};
    std::uintmax_t written = 0;
    std::thread writer([&] {
        std::ofstream out(dir / "growing.wav", std::ios::binary);
        for (int i = 0; i < 24; ++i) {
            out << std::string(4096, 'y') << std::flush;
            std::this_thread::sleep_for(latency / 8); // 24 x 50 ms = 3 x latency
        }
        written = 24 * 4096;
        done = true;
    });
    std::vector<std::uintmax_t> sizesSeen;
    while (!done) {
        main.pump(20ms);
        for (size_t i = sizesSeen.size(); i < calls.names.size(); ++i) sizesSeen.push_back(fs::file_size(dir / "growing.wav"));
    }
    writer.join();
    main.pump(900ms);
    ASSERT_EQ(calls.names.size(), 1u);
    EXPECT_TRUE(sizesSeen.empty()) << "reported while still being written";
    EXPECT_EQ(fs::file_size(dir / "growing.wav"), written);
}

TEST_F(FolderWatcherTest, StartTwiceStopTwiceAndRestart) {
    auto watcher = make(0.05);
    watcher->start();
    watcher->start();
    EXPECT_TRUE(watcher->isRunning());
    watcher->stop();
    watcher->stop();
    EXPECT_FALSE(watcher->isRunning());
    write(dir / "while-stopped.wav");
    watcher->start(); // rescans: the file above is now known
    write(dir / "after.wav");
    main.pump(300ms);
    ASSERT_EQ(calls.names.size(), 1u);
    EXPECT_EQ(calls.names[0], (std::vector<std::string>{"after.wav"}));
}

TEST_F(FolderWatcherTest, SubfolderFilesAtNextRescanAndNoRepeatAfterDelete) {
    auto watcher = make(0.05);
    watcher->start();
    fs::create_directory(dir / "sub");
    write(dir / "sub" / "inner.wav");
    main.pump(250ms);
    ASSERT_EQ(calls.names.size(), 1u);
    EXPECT_EQ(calls.names[0], (std::vector<std::string>{"inner.wav", "sub"}));

    write(dir / "again.wav");
    main.pump(250ms);
    ASSERT_EQ(calls.names.size(), 2u);
    fs::remove(dir / "again.wav");
    write(dir / "again.wav");
    write(dir / "new.wav");
    main.pump(250ms);
    ASSERT_EQ(calls.names.size(), 3u);
    EXPECT_EQ(calls.names[2], (std::vector<std::string>{"new.wav"}));
}

TEST_F(FolderWatcherTest, ZeroLatencyRescansAtOnce) {
    auto watcher = make(0);
    watcher->start();
    write(dir / "now.wav");
    main.pump(150ms);
    ASSERT_FALSE(calls.names.empty());
    EXPECT_EQ(calls.names[0], (std::vector<std::string>{"now.wav"}));
}

TEST(FolderWatcher, MissingFolderPrintsTheLineAndIsNotRunning) {
    testsupport::TempDir dir;
    const fs::path missing = dir / "nope";
    FolderWatcher watcher(missing, 0.1, [](std::vector<fs::path>) {}, [](std::function<void()>) {});
    testing::internal::CaptureStdout();
    watcher.start();
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "FolderWatcher: Failed to open directory descriptor for " + missing.string() + "\n");
    EXPECT_FALSE(watcher.isRunning());
}

TEST(FolderWatcher, DroppingARunningWatcherStopsItAndItsPostsDoNothing) {
    testsupport::TempDir dir;
    MainQueue main;
    int called = 0;
    {
        FolderWatcher watcher(dir.path(), 0.0, [&](std::vector<fs::path>) { ++called; }, main.poster());
        watcher.start();
        write(dir / "late.wav");
        std::this_thread::sleep_for(150ms); // the post is queued, not yet run
    }
    main.pump(100ms);
    EXPECT_EQ(called, 0);
}

TEST(FolderWatcher, HeldBackNames) {
    for (const char* name : {".x", "a.tmp", "a.part", "a.crdownload", ""}) EXPECT_TRUE(FolderWatcher::isHeldBack(name)) << name;
    for (const char* name : {"a.wav", "a.partial", "tmp", "x.PART"}) EXPECT_FALSE(FolderWatcher::isHeldBack(name)) << name;
}

} // namespace
