#include "batch/FolderWatcher.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <future>
#include <optional>
#include <set>
#include <string>
#include <system_error>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <fmt/core.h>

namespace batch {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// What the posted handler calls reach through a weak reference: gone with
// the watcher.
struct FolderWatcher::Shared {
    Handler handler;
};

namespace {

constexpr uint32_t kEventMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB |
                                IN_MODIFY | IN_CLOSE_WRITE | IN_DELETE_SELF | IN_MOVE_SELF;

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// Reads and discards every queued inotify event; true when there was one.
bool drainEvents(int fd) {
    alignas(struct inotify_event) char buffer[16384];
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            any = true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        return any;
    }
}

} // namespace

FolderWatcher::FolderWatcher(fs::path folder, double latency, Handler onChange, Poster poster)
    : folder_(std::move(folder)),
      latency_(latency > 0 && latency < 86400 ? latency : 0),
      poster_(std::move(poster)),
      shared_(std::make_shared<Shared>(Shared{std::move(onChange)})) {}

FolderWatcher::~FolderWatcher() { stop(); }

bool FolderWatcher::isRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

bool FolderWatcher::isHeldBack(const std::string& name) {
    return name.empty() || name.front() == '.' || endsWith(name, ".tmp") || endsWith(name, ".part") ||
           endsWith(name, ".crdownload");
}

std::vector<fs::path> FolderWatcher::scanFolder(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied, ec);
    if (ec) return found;
    for (const fs::recursive_directory_iterator end; it != end; it.increment(ec)) {
        if (ec) break;
        const fs::path& path = it->path();
        const std::string name = path.filename().string();
        if (!name.empty() && name.front() == '.') {
            if (it->is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        std::error_code typeError;
        const auto status = it->symlink_status(typeError);
        if (typeError) continue;
        if (fs::is_regular_file(status) || fs::is_directory(status)) found.push_back(path);
    }
    return found;
}

void FolderWatcher::start() {
    std::lock_guard lock(mutex_);
    if (running_) return;

    int inotifyFd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotifyFd < 0 || ::inotify_add_watch(inotifyFd, folder_.c_str(), kEventMask | IN_ONLYDIR) < 0) {
        closeFd(inotifyFd);
        std::fputs(fmt::format("FolderWatcher: Failed to open directory descriptor for {}\n", folder_.string()).c_str(),
                   stdout);
        std::fflush(stdout);
        return;
    }
    stopFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (stopFd_ < 0) {
        closeFd(inotifyFd);
        std::fputs(fmt::format("FolderWatcher: Failed to open directory descriptor for {}\n", folder_.string()).c_str(),
                   stdout);
        std::fflush(stdout);
        return;
    }
    // The first scan runs on the watcher's thread too; start() returns once
    // it is done, so anything created afterwards counts as new.
    std::promise<void> scanned;
    auto ready = scanned.get_future();
    thread_ = std::thread(&FolderWatcher::run, this, inotifyFd, stopFd_, std::move(scanned));
    ready.wait();
    running_ = true;
}

void FolderWatcher::stop() {
    std::thread thread;
    int stopFd = -1;
    {
        std::lock_guard lock(mutex_);
        if (!running_) return;
        running_ = false;
        thread = std::move(thread_);
        stopFd = stopFd_;
        stopFd_ = -1;
    }
    const uint64_t one = 1;
    if (stopFd >= 0) (void)!::write(stopFd, &one, sizeof one);
    if (thread.joinable()) thread.join();
    closeFd(stopFd);
}

void FolderWatcher::run(int inotifyFd, int stopFd, std::promise<void> scanned) {
    std::set<fs::path> known;
    for (auto& path : scanFolder(folder_)) known.insert(std::move(path));
    scanned.set_value();

    std::optional<Clock::time_point> due;
    const auto delay = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(latency_));
    std::weak_ptr<Shared> weak = shared_;

    auto checkForNewFiles = [&] {
        std::set<fs::path> current;
        for (auto& path : scanFolder(folder_)) current.insert(std::move(path));
        std::vector<fs::path> added;
        for (const auto& path : current)
            if (!known.count(path) && !isHeldBack(path.filename().string())) added.push_back(path);
        if (added.empty()) return; // held-back names are looked at again next time
        known.insert(current.begin(), current.end());
        std::sort(added.begin(), added.end(), [](const fs::path& a, const fs::path& b) {
            return a.filename().string() < b.filename().string();
        });
        if (!poster_) return;
        poster_([weak, files = std::move(added)]() mutable {
            if (auto shared = weak.lock(); shared && shared->handler) shared->handler(std::move(files));
        });
    };

    for (;;) {
        int timeout = -1;
        if (due) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*due - Clock::now()).count();
            timeout = static_cast<int>(std::clamp<long long>(left, 0, 86'400'000));
        }
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {inotifyFd, POLLIN, 0}};
        const int n = ::poll(fds, 2, timeout);
        if (n < 0 && errno != EINTR) break;
        if (n > 0 && (fds[0].revents & POLLIN)) break;
        if (n > 0 && (fds[1].revents & POLLIN) && drainEvents(inotifyFd)) due = Clock::now() + delay;
        if (due && Clock::now() >= *due) {
            due.reset();
            checkForNewFiles();
        }
    }
    ::close(inotifyFd);
}

} // namespace batch
