#include "audio/LookaheadLimiter.h"

#include <algorithm>
#include <cmath>

namespace audio {

namespace {

int lookaheadFrames(double sampleRate, double lookaheadMs) {
    const double n = sampleRate * lookaheadMs / 1000.0;
    if (!std::isfinite(n) || n < 2) return 2;
    if (n > 1e8) return 100000000;
    return std::max(2, static_cast<int>(n));
}

} // namespace

LookaheadLimiter::LookaheadLimiter(double sampleRate, int channels, double ceilingDBTP, double lookaheadMs,
                                   double releaseMs)
    : channels_(std::max(0, channels)),
      lookahead_(lookaheadFrames(sampleRate, lookaheadMs)),
      delayFrames_(lookahead_ + TruePeakDetector::kLatency),
      ceiling_(static_cast<float>(std::pow(10.0, ceilingDBTP / 20.0))),
      release_(static_cast<float>(std::exp(-1.0 / (sampleRate * releaseMs / 1000.0)))),
      detector_(channels_),
      delay_(static_cast<std::size_t>(delayFrames_) * static_cast<std::size_t>(channels_), 0.0f),
      avgRing_(static_cast<std::size_t>(lookahead_), 1.0f),
      avgSum_(static_cast<double>(lookahead_)),
      pendingSkip_(delayFrames_),
      zeros_(static_cast<std::size_t>(channels_), 0.0f) {}

void LookaheadLimiter::step(const float* interleaved, std::size_t frame, std::vector<float>& out) {
    if (channels_ == 0) return;
    const std::size_t ch = static_cast<std::size_t>(channels_);
    // The detector answers for the frame kLatency steps back; that frame's
    // number is g. Frames before the stream (g < 0) need no reduction.
    const float p = detector_.process(interleaved, frame);
    const std::int64_t g = frameIndex_ - TruePeakDetector::kLatency;
    const float need = p > ceiling_ ? ceiling_ / p : 1.0f;

    while (dequeHead_ < dequeValue_.size() && dequeValue_.back() >= need) {
        dequeValue_.pop_back();
        dequeIndex_.pop_back();
    }
    dequeIndex_.push_back(g);
    dequeValue_.push_back(need);
    while (dequeIndex_[dequeHead_] <= g - 2 * static_cast<std::int64_t>(lookahead_)) ++dequeHead_;
    if (dequeHead_ > 4096) {
        dequeIndex_.erase(dequeIndex_.begin(), dequeIndex_.begin() + static_cast<std::ptrdiff_t>(dequeHead_));
        dequeValue_.erase(dequeValue_.begin(), dequeValue_.begin() + static_cast<std::ptrdiff_t>(dequeHead_));
        dequeHead_ = 0;
    }
    const float m = dequeValue_[dequeHead_];

    avgSum_ += static_cast<double>(m) - static_cast<double>(avgRing_[avgPos_]);
    avgRing_[avgPos_] = m;
    avgPos_ = (avgPos_ + 1) % static_cast<std::size_t>(lookahead_);
    const float target = static_cast<float>(avgSum_ / static_cast<double>(lookahead_));

    if (env_ > target)
        env_ = target;
    else
        env_ = target + (env_ - target) * release_;
    maxReductionDB_ = std::min(maxReductionDB_, 20.0f * std::log10(std::max(1e-6f, env_)));

    float* slot = delay_.data() + delayPos_ * ch;
    if (pendingSkip_ > 0) {
        --pendingSkip_;
    } else {
        for (std::size_t c = 0; c < ch; ++c) out.push_back(slot[c] * env_);
    }
    const float* in = interleaved + frame * ch;
    for (std::size_t c = 0; c < ch; ++c) slot[c] = in[c];
    delayPos_ = (delayPos_ + 1) % static_cast<std::size_t>(delayFrames_);
    ++frameIndex_;
}

void LookaheadLimiter::process(const float* interleaved, std::size_t frames, std::vector<float>& out) {
    out.reserve(out.size() + frames * static_cast<std::size_t>(channels_));
    for (std::size_t f = 0; f < frames; ++f) step(interleaved, f, out);
}

void LookaheadLimiter::flush(std::vector<float>& out) {
    for (int i = 0; i < delayFrames_; ++i) step(zeros_.data(), 0, out);
}

} // namespace audio
