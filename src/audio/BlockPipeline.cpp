#include "audio/BlockPipeline.h"

#include <utility>

namespace audio {

BlockPipeline::BlockPipeline(Consumer consumer, std::size_t depth)
    : consumer_(std::move(consumer)), depth_(depth < 1 ? 1 : depth), thread_([this] { run(); })
{
}

BlockPipeline::~BlockPipeline()
{
    {
        // Not finished: the stream was abandoned, so what still waits is dropped.
        std::lock_guard lock(mutex_);
        queue_.clear();
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void BlockPipeline::rethrowIfFailed()
{
    if (failure_) {
        auto failure = failure_;
        failure_ = nullptr;
        std::rethrow_exception(failure);
    }
}

void BlockPipeline::push(AudioBlock& block)
{
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queue_.size() < depth_ || failure_ || closing_; });
    rethrowIfFailed();
    if (closing_) return;
    queue_.push_back(std::move(block));
    block = AudioBlock{};
    if (!spare_.empty()) {
        block = std::move(spare_.back());
        spare_.pop_back();
    }
    block.samples.clear();
    block.frames = 0;
    lock.unlock();
    changed_.notify_all();
}

void BlockPipeline::finish()
{
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(mutex_);
    rethrowIfFailed();
}

void BlockPipeline::run()
{
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !queue_.empty() || closing_; });
        if (queue_.empty()) return;   // closing and drained
        AudioBlock block = std::move(queue_.front());
        queue_.pop_front();
        const bool failed = failure_ != nullptr;
        lock.unlock();
        changed_.notify_all();
        if (!failed) {
            try {
                consumer_(block);
            } catch (...) {
                std::lock_guard relock(mutex_);
                failure_ = std::current_exception();
            }
        }
        lock.lock();
        if (spare_.size() < depth_) spare_.push_back(std::move(block));
        changed_.notify_all();
    }
}

} // namespace audio
