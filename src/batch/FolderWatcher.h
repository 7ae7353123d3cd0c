#pragma once

#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace batch {

// Watches one folder and reports files that newly appear in it once they
// have settled: every change pushes a rescan to `latency` seconds after the
// last one, and the new, complete-looking files (no leading ".", no ".tmp",
// ".part" or ".crdownload" ending) go to the handler, sorted by file name
// byte by byte, through `poster` (the GUI thread's queue). Files present at
// start() are never reported, nor is a file deleted and created again.
//
// One thread per running watcher owns the inotify descriptor, the known
// files and the pending rescan, so start/stop/start can't race. stop() and
// the destructor join it. Posted calls hold the watcher weakly and do
// nothing once it is gone.
class FolderWatcher {
public:
    using Handler = std::function<void(std::vector<std::filesystem::path>)>;
    using Poster = std::function<void(std::function<void()>)>;

    FolderWatcher(std::filesystem::path folder, double latency, Handler onChange, Poster poster);
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    // Begins watching; does nothing while running. A folder that can't be
    // watched prints a line on standard output and leaves isRunning false.
    void start();
    // Stops watching and joins the thread; harmless when stopped.
    void stop();
    bool isRunning() const;

    const std::filesystem::path& watchedFolder() const { return folder_; }
    double latency() const { return latency_; }

    // Every regular file and folder under `folder` at any depth, hidden ones
    // (and what is inside hidden folders) skipped. Empty when the folder
    // can't be listed.
    static std::vector<std::filesystem::path> scanFolder(const std::filesystem::path& folder);
    // Whether a name is held back as not yet complete (or hidden).
    static bool isHeldBack(const std::string& fileName);

private:
    struct Shared;
    void run(int inotifyFd, int stopFd, std::promise<void> scanned);

    const std::filesystem::path folder_;
    const double latency_;
    const Poster poster_;
    std::shared_ptr<Shared> shared_;

    mutable std::mutex mutex_; // guards running_ and the thread handle
    bool running_ = false;
    int stopFd_ = -1;
    std::thread thread_;
};

} // namespace batch
