#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <type_traits>

namespace core {

// Runs closures one at a time, in the order posted, on a thread of its own.
// This is how an actor's state is owned: every change to it is a closure
// posted here. A closure that throws is contained; the executor goes on.
// The destructor runs what is already queued, then stops.
class SerialExecutor {
public:
    SerialExecutor();
    ~SerialExecutor();
    SerialExecutor(const SerialExecutor&) = delete;
    SerialExecutor& operator=(const SerialExecutor&) = delete;

    void post(std::function<void()> task);

    // Posts `fn` and returns a future of its result.
    template <typename Fn> auto submit(Fn fn) -> std::future<std::invoke_result_t<Fn>> {
        using R = std::invoke_result_t<Fn>;
        auto task = std::make_shared<std::packaged_task<R()>>(std::move(fn));
        auto future = task->get_future();
        post([task] { (*task)(); });
        return future;
    }

    // True when called from the executor's own thread.
    bool isCurrent() const { return std::this_thread::get_id() == thread_.get_id(); }

private:
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace core
