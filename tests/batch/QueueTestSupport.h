#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <variant>
#include <vector>

#include "batch/BatchQueueManager.h"

namespace queuetest {

namespace fs = std::filesystem;

// One event as a listener saw it, in the order the queue delivered them.
struct StatusEvent {
    core::Uuid jobID;
    core::Uuid itemID;
    batch::ProcessingStatus status;
    double progress;
    std::optional<std::string> message;
};
struct LogEvent {
    std::string line;
};
struct OutputEvent {
    core::Uuid itemID;
    std::vector<fs::path> files;
};
using Event = std::variant<StatusEvent, LogEvent, OutputEvent>;

// Collects every event of one manager; safe to read from the test thread.
class Recorder {
public:
    void attach(batch::BatchQueueManager& manager) {
        manager.addStatusListener([this](const core::Uuid& job, const core::Uuid& item, batch::ProcessingStatus s,
                                         double p, const std::optional<std::string>& m) {
            push(StatusEvent{job, item, s, p, m});
        });
        manager.addLogListener([this](const std::string& line) { push(LogEvent{line}); });
        manager.addOutputListener(
            [this](const core::Uuid& item, const std::vector<fs::path>& files) { push(OutputEvent{item, files}); });
    }

    std::vector<Event> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }

    // Log lines with their "[HH:mm:ss] " prefix checked and removed.
    std::vector<std::string> logTexts() const {
        static const std::regex prefix(R"(^\[([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\] )");
        std::vector<std::string> out;
        for (const auto& e : events())
            if (auto* log = std::get_if<LogEvent>(&e)) {
                if (!std::regex_search(log->line, prefix)) out.push_back("<no prefix> " + log->line);
                else out.push_back(log->line.substr(11));
            }
        return out;
    }

    std::vector<StatusEvent> statusEvents(std::optional<core::Uuid> item = std::nullopt) const {
        std::vector<StatusEvent> out;
        for (const auto& e : events())
            if (auto* s = std::get_if<StatusEvent>(&e))
                if (!item || s->itemID == *item) out.push_back(*s);
        return out;
    }

    // Waits until `predicate` holds for the events (at most 10 s).
    bool waitFor(const std::function<bool(const std::vector<Event>&)>& predicate) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return predicate(events_); });
    }

private:
    void push(Event e) {
        {
            std::lock_guard lock(mutex_);
            events_.push_back(std::move(e));
        }
        changed_.notify_all();
    }

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<Event> events_;
};

// A preset whose work is a function given by the test.
class FunctionPreset : public batch::BatchPreset {
public:
    using Work = std::function<std::vector<fs::path>(const batch::BatchItem&, const batch::ProcessingContext&)>;
    explicit FunctionPreset(Work work) : work_(std::move(work)) {}

    std::string id() const override { return "test.preset"; }
    std::string displayName() const override { return "Test Preset"; }
    std::string verticalName() const override { return "Tests"; }
    std::string description() const override { return "Runs a function"; }
    std::string systemIconName() const override { return "gear"; }
    std::set<std::string> supportedExtensions() const override { return {"wav"}; }
    std::string defaultNamingPattern() const override { return "{name}"; }
    std::vector<fs::path> process(const batch::BatchItem& item, const batch::ProcessingContext& context) const override {
        int now = ++inFlight_;
        int seen = maxInFlight_.load();
        while (now > seen && !maxInFlight_.compare_exchange_weak(seen, now)) {
        }
        struct Leave {
            std::atomic<int>& n;
            ~Leave() { --n; }
        } leave{inFlight_};
        return work_(item, context);
    }

    int maxInFlight() const { return maxInFlight_.load(); }

private:
    Work work_;
    mutable std::atomic<int> inFlight_{0};
    mutable std::atomic<int> maxInFlight_{0};
};

// A gate that presets wait on until the test opens it.
class Gate {
public:
    void open() {
        {
            std::lock_guard lock(mutex_);
            open_ = true;
        }
        cv_.notify_all();
    }
    bool wait() {
        std::unique_lock lock(mutex_);
        return cv_.wait_for(lock, std::chrono::seconds(10), [&] { return open_; });
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

} // namespace queuetest
