#pragma once

#include <atomic>
#include <chrono>
#include <cctype>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "batch/BatchPreset.h"
#include "batch/BatchSkip.h"
#include "core/Error.h"
#include "ui/WorkspacePorts.h"

namespace uitest {

// The GUI thread of a test: closures posted from any thread wait here until
// the test drains them.
class FakePoster {
public:
    ui::Poster poster() {
        return [this](std::function<void()> fn) {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(fn));
            wake_.notify_all();
        };
    }
    // Runs posted closures until `done` holds (or 10 s pass). Returns `done`.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        auto deadline = std::chrono::steady_clock::now() + timeout;
        while (!done()) {
            std::function<void()> fn;
            {
                std::unique_lock lock(mutex_);
                if (!wake_.wait_until(lock, deadline, [this] { return !queue_.empty(); })) return done();
                fn = std::move(queue_.front());
                queue_.pop_front();
            }
            fn();
        }
        return true;
    }
    // Runs whatever is posted within `ms` milliseconds.
    void pumpFor(int ms) {
        pumpUntil([] { return false; }, std::chrono::milliseconds(ms));
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
};

// A scheduler whose clock the test moves by hand.
class FakeScheduler : public ui::Scheduler {
public:
    Token schedule(double seconds, std::function<void()> action) override {
        Token t = next_++;
        pending_[t] = {now_ + seconds, std::move(action)};
        ++scheduled;
        return t;
    }
    void cancel(Token token) override { pending_.erase(token); }
    void advance(double seconds) {
        double target = now_ + seconds;
        while (true) {
            auto due = pending_.end();
            for (auto it = pending_.begin(); it != pending_.end(); ++it)
                if (it->second.first <= target + 1e-9 && (due == pending_.end() || it->second.first < due->second.first))
                    due = it;
            if (due == pending_.end()) break;
            now_ = due->second.first;
            auto action = std::move(due->second.second);
            pending_.erase(due);
            action();
        }
        now_ = target;
    }
    std::size_t pendingCount() const { return pending_.size(); }
    int scheduled = 0;

private:
    double now_ = 0;
    Token next_ = 1;
    std::map<Token, std::pair<double, std::function<void()>>> pending_;
};

// What a scripted preset saw and how it behaves. Shared by all copies.
struct Script {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> processed;       // file names, in start order
    std::vector<std::string> patterns;        // naming pattern of each call
    std::set<std::string> failNames;          // fail these items
    bool holdItems = false;                   // block until released
    std::optional<double> reportProgress;     // reported before holding
    int running = 0;
    int maxRunning = 0;

    void release() {
        std::lock_guard lock(mutex);
        holdItems = false;
        changed.notify_all();
    }
};

class ScriptedPreset : public batch::BatchPreset {
public:
    explicit ScriptedPreset(std::shared_ptr<Script> script) : script_(std::move(script)) {}
    std::string id() const override { return "com.test.scripted"; }
    std::string displayName() const override { return "Scripted"; }
    std::string verticalName() const override { return "Test"; }
    std::string description() const override { return "Test preset"; }
    std::string systemIconName() const override { return "gear"; }
    std::set<std::string> supportedExtensions() const override { return {"wav", "mp3"}; }
    std::string defaultNamingPattern() const override { return "{name}_scripted"; }
    std::vector<std::filesystem::path> process(const batch::BatchItem& item,
                                               const batch::ProcessingContext& context) const override {
        std::unique_lock lock(script_->mutex);
        script_->processed.push_back(item.sourceURL.filename().string());
        script_->patterns.push_back(context.configuration.namingPattern);
        ++script_->running;
        script_->maxRunning = std::max(script_->maxRunning, script_->running);
        script_->changed.notify_all();
        if (script_->reportProgress) context.onProgressUpdate(*script_->reportProgress, std::nullopt);
        script_->changed.wait(lock, [this] { return !script_->holdItems; });
        --script_->running;
        if (script_->failNames.count(item.sourceURL.filename().string())) throw core::Error("scripted failure");
        return {item.sourceURL};
    }
    bool operator==(const ScriptedPreset&) const = default;

private:
    std::shared_ptr<Script> script_;
};

// A log line without its "[HH:mm:ss] " prefix; a line without one comes
// back unchanged, to fail the comparison.
inline std::string untimed(const std::string& line) {
    auto digits = [&](std::size_t at) {
        return std::isdigit(static_cast<unsigned char>(line[at])) && std::isdigit(static_cast<unsigned char>(line[at + 1]));
    };
    const bool timed = line.size() >= 11 && line[0] == '[' && digits(1) && line[3] == ':' && digits(4) &&
                       line[6] == ':' && digits(7) && line[9] == ']' && line[10] == ' ';
    return timed ? line.substr(11) : line;
}

} // namespace uitest
