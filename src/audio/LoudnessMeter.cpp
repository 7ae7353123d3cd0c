#include "audio/LoudnessMeter.h"

#include <algorithm>
#include <cmath>

namespace audio {

namespace {

constexpr std::size_t kBlock = 1024;   // frames filtered per channel at a time

double blockLoudness(double z) { return -0.691 + 10.0 * std::log10(std::max(1e-12, z)); }

std::size_t framesPerSubBlock(double sampleRate) {
    const double n = std::round(sampleRate * 0.1);   // halves away from zero
    if (!std::isfinite(n) || n < 1) return 1;
    if (n > 1e15) return static_cast<std::size_t>(1e15);
    return static_cast<std::size_t>(n);
}

} // namespace

LoudnessMeter::LoudnessMeter(double sampleRate, int channels)
    : sampleRate_(sampleRate),
      channels_(std::max(0, channels)),
      filters_(static_cast<std::size_t>(channels_), KWeighting(sampleRate)),
      subBlockFrames_(framesPerSubBlock(sampleRate)),
      peak_(channels_) {}

void LoudnessMeter::process(const float* interleaved, std::size_t frames) {
    const std::size_t ch = static_cast<std::size_t>(channels_);
    scratch_.resize(kBlock);
    for (std::size_t start = 0; start < frames; start += kBlock) {
        const std::size_t n = std::min(kBlock, frames - start);
        double* sum = scratch_.data();
        std::fill(sum, sum + n, 0.0);
        for (std::size_t c = 0; c < ch; ++c) {
            KWeighting& kw = filters_[c];
            Biquad s1 = kw.s1;
            Biquad s2 = kw.s2;
            const float* x = interleaved + start * ch + c;
            for (std::size_t i = 0; i < n; ++i) {
                const double y = s2.process(s1.process(static_cast<double>(x[i * ch])));
                sum[i] += y * y;
            }
            kw.s1 = s1;
            kw.s2 = s2;
        }
        for (std::size_t i = 0; i < n; ++i) {
            subBlockAccumulator_ += sum[i];
            if (++subBlockCount_ == subBlockFrames_) {
                subBlocks_.push_back(subBlockAccumulator_ / static_cast<double>(subBlockFrames_));
                subBlockAccumulator_ = 0;
                subBlockCount_ = 0;
            }
        }
    }
    peak_.processBlock(interleaved, frames);
    framesProcessed_ += frames;
}

std::optional<double> LoudnessMeter::integratedLUFS() const { return integratedLUFS(subBlocks_); }

std::optional<double> LoudnessMeter::integratedLUFS(const std::vector<double>& sub) {
    if (sub.size() < 4) return std::nullopt;
    std::vector<double> kept;
    kept.reserve(sub.size() - 3);
    double sum = 0;
    for (std::size_t i = 3; i < sub.size(); ++i) {
        const double z = (sub[i] + sub[i - 1] + sub[i - 2] + sub[i - 3]) * 0.25;
        if (blockLoudness(z) > -70.0) {
            kept.push_back(z);
            sum += z;
        }
    }
    if (kept.empty()) return std::nullopt;
    const double threshold = blockLoudness(sum / static_cast<double>(kept.size())) - 10.0;
    double gatedSum = 0;
    std::size_t gated = 0;
    for (double z : kept) {
        if (blockLoudness(z) > threshold) {
            gatedSum += z;
            ++gated;
        }
    }
    if (gated == 0) return std::nullopt;
    return blockLoudness(gatedSum / static_cast<double>(gated));
}

double LoudnessMeter::truePeakDBTP() const {
    return 20.0 * std::log10(std::max(1e-9, static_cast<double>(peak_.maxPeak())));
}

} // namespace audio
