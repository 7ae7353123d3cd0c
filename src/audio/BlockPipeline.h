#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/RenderChain.h"

namespace audio {

// Hands blocks to a consumer that runs on a thread of its own, so that two
// groups of stages of one stream work at the same time. The consumer sees
// every block once and in order, so results are the same as running it
// inline. At most `depth` blocks wait, which bounds the memory in flight.
// A failure of the consumer is rethrown by the next push() or by finish();
// after a failure further blocks are dropped.
class BlockPipeline {
public:
    using Consumer = std::function<void(AudioBlock&)>;

    explicit BlockPipeline(Consumer consumer, std::size_t depth = 4);
    ~BlockPipeline();
    BlockPipeline(const BlockPipeline&) = delete;
    BlockPipeline& operator=(const BlockPipeline&) = delete;

    // Queues the block; `block` comes back as an empty block whose buffer may
    // be reused. Waits while the queue is full.
    void push(AudioBlock& block);
    // Waits until every queued block has been consumed and stops the thread.
    // Rethrows the consumer's failure. Safe to call more than once.
    void finish();

private:
    void run();
    void rethrowIfFailed();

    Consumer consumer_;
    std::size_t depth_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<AudioBlock> queue_;
    std::vector<AudioBlock> spare_;
    std::exception_ptr failure_;
    bool closing_ = false;
    std::thread thread_;
};

} // namespace audio
