#pragma once

// The GUI thread of a bench: closures posted from any thread wait here until
// the bench drains them.

#include <deque>
#include <functional>
#include <mutex>
#include <utility>

#include "ui/WorkspacePorts.h"

class Mailbox {
public:
    ui::Poster poster() {
        return [this](std::function<void()> fn) {
            std::lock_guard lock(mutex_);
            queue_.push_back(std::move(fn));
        };
    }
    std::deque<std::function<void()>> take() {
        std::lock_guard lock(mutex_);
        return std::exchange(queue_, {});
    }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> queue_;
};
