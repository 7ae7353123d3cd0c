#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "audio/TruePeakDetector.h"

namespace audio {

// Keeps a stream under a true-peak ceiling. Every frame goes in through
// step() and comes out delayed, multiplied by a smoothed gain; flush() drains
// the tail. The first frames' outputs are suppressed, so after flush() the
// output is aligned with the input and has exactly its length.
//
// The gain for a frame is computed from that frame's own true peak (the
// detector's interpolation delay is compensated: audio waits in the delay
// line for lookahead + TruePeakDetector::kLatency frames). The required gain
// ceiling/peak is held as a sliding-window minimum over 2 × lookahead frames,
// smoothed by a lookahead-frame moving average, applied at once when it falls
// and released with the release time constant when it rises.
class LookaheadLimiter {
public:
    // lookahead = max(2, trunc(sampleRate × lookaheadMs / 1000)) frames;
    // ceiling = 10^(ceilingDBTP/20); release = exp(−1 / (sampleRate × releaseMs / 1000)).
    LookaheadLimiter(double sampleRate, int channels, double ceilingDBTP, double lookaheadMs,
                     double releaseMs);

    // Feeds frame `frame` of an interleaved buffer and appends either nothing
    // (while output is still suppressed) or exactly one frame to `out`.
    void step(const float* interleaved, std::size_t frame, std::vector<float>& out);
    // Feeds `frames` frames; appends what step() would.
    void process(const float* interleaved, std::size_t frames, std::vector<float>& out);
    // Appends the frames still in the delay line. Call once at the end.
    void flush(std::vector<float>& out);

    // Lowest gain applied so far, in dB (0 or negative).
    float maxReductionDB() const { return maxReductionDB_; }
    int channels() const { return channels_; }
    int lookahead() const { return lookahead_; }
    float ceiling() const { return ceiling_; }
    float release() const { return release_; }
    // Total delay of the line in frames (lookahead + detector latency).
    int delayFrames() const { return delayFrames_; }

private:

    int channels_;
    int lookahead_;
    int delayFrames_;
    float ceiling_;
    float release_;
    TruePeakDetector detector_;
    std::vector<float> delay_;
    std::size_t delayPos_ = 0;
    std::vector<std::int64_t> dequeIndex_;
    std::vector<float> dequeValue_;
    std::size_t dequeHead_ = 0;
    std::vector<float> avgRing_;
    std::size_t avgPos_ = 0;
    double avgSum_;
    float env_ = 1.0f;
    std::int64_t frameIndex_ = 0;
    std::int64_t pendingSkip_;
    float maxReductionDB_ = 0;
    std::vector<float> zeros_;
};

} // namespace audio
