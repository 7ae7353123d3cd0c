#include "audio/TruePeakDetector.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

namespace audio {

namespace {

constexpr int kTaps = 12;              // per interpolated phase
constexpr int kHistory = kTaps;        // input samples the filter looks at
constexpr std::size_t kBlock = 256;    // frames per inner block of processBlock

// Phases 1…3 of a 49-tap Hann-windowed sinc interpolator for 4× oversampling
// (cut-off at the input Nyquist frequency). Phase 0 is a pure delay of
// kLatency samples (the sinc is 0 at every other integer), so the original
// samples are passed exactly. kPhases[p-1][j] multiplies x[n − j] and gives
// the value at time n − kLatency + p/4. Each phase is normalised to unit DC
// gain, so a constant signal is reproduced exactly.
struct Coefficients {
    std::array<std::array<float, kTaps>, 3> phase{};
    Coefficients() {
        constexpr int length = 49;
        constexpr double centre = (length - 1) / 2.0;   // 24 = 4 × kLatency
        for (int p = 1; p <= 3; ++p) {
            std::array<double, kTaps> h{};
            double sum = 0;
            for (int j = 0; j < kTaps; ++j) {
                const int m = 4 * j + p;
                const double t = (m - centre) / 4.0;
                const double sinc = std::sin(std::numbers::pi * t) / (std::numbers::pi * t);
                const double window = 0.5 * (1 - std::cos(2 * std::numbers::pi * m / (length - 1)));
                h[static_cast<std::size_t>(j)] = sinc * window;
                sum += h[static_cast<std::size_t>(j)];
            }
            for (int j = 0; j < kTaps; ++j)
                phase[static_cast<std::size_t>(p - 1)][static_cast<std::size_t>(j)] =
                    static_cast<float>(h[static_cast<std::size_t>(j)] / sum);
        }
    }
};

const Coefficients& coefficients() {
    static const Coefficients c;
    return c;
}

// Peak of the frame kLatency samples behind the newest of `w`, where
// w[0] is the newest sample and w[-j] the one j samples older.
inline float windowPeak(const float* w) {
    const auto& c = coefficients().phase;
    float peak = std::fabs(w[-TruePeakDetector::kLatency]);
    for (std::size_t p = 0; p < 3; ++p) {
        float acc = 0;
        for (int j = 0; j < kTaps; ++j) acc += c[p][static_cast<std::size_t>(j)] * w[-j];
        peak = std::max(peak, std::fabs(acc));
    }
    return peak;
}

// Four lanes of floats (one SSE register on a baseline x86-64 build).
typedef float Lanes __attribute__((vector_size(16)));
typedef std::int32_t LaneBits __attribute__((vector_size(16)));

inline Lanes loadLanes(const float* p) {
    Lanes v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline Lanes absLanes(Lanes v) {
    const LaneBits mask = {0x7fffffff, 0x7fffffff, 0x7fffffff, 0x7fffffff};
    return reinterpret_cast<Lanes>(reinterpret_cast<LaneBits>(v) & mask);
}

inline Lanes maxLanes(Lanes a, Lanes b) { return a > b ? a : b; }

// Largest peak of the frames belonging to samples x[0 … n−1], where x[-1]
// … x[-(kTaps-1)] hold the history. Each output is summed over the taps in
// the same order as windowPeak(), so both paths give identical results.
float blockPeak(const std::array<std::array<float, kTaps>, 3>& c, const float* x, std::size_t n) {
    const Lanes zero = {0, 0, 0, 0};
    Lanes best = zero;
    std::size_t i = 0;
    // Eight outputs per round, as two groups of four lanes, for parallelism.
    for (; i + 8 <= n; i += 8) {
        Lanes a0 = zero, a1 = zero, a2 = zero, b0 = zero, b1 = zero, b2 = zero;
        for (int j = 0; j < kTaps; ++j) {
            const Lanes v = loadLanes(x + i - j);
            const Lanes w = loadLanes(x + i + 4 - j);
            const auto jj = static_cast<std::size_t>(j);
            a0 += c[0][jj] * v;
            a1 += c[1][jj] * v;
            a2 += c[2][jj] * v;
            b0 += c[0][jj] * w;
            b1 += c[1][jj] * w;
            b2 += c[2][jj] * w;
        }
        best = maxLanes(best, absLanes(loadLanes(x + i - TruePeakDetector::kLatency)));
        best = maxLanes(best, absLanes(loadLanes(x + i + 4 - TruePeakDetector::kLatency)));
        best = maxLanes(best, maxLanes(absLanes(a0), absLanes(b0)));
        best = maxLanes(best, maxLanes(absLanes(a1), absLanes(b1)));
        best = maxLanes(best, maxLanes(absLanes(a2), absLanes(b2)));
    }
    float peak = 0;
    for (int k = 0; k < 4; ++k) peak = std::max(peak, best[k]);
    for (; i < n; ++i) peak = std::max(peak, windowPeak(x + i));
    return peak;
}

} // namespace

TruePeakDetector::TruePeakDetector(int channels)
    : channels_(std::max(0, channels)),
      history_(static_cast<std::size_t>(channels_) * 2 * kHistory, 0.0f) {
    (void)coefficients();
}

float TruePeakDetector::framePeakAt(std::size_t pos) const {
    // pos is the ring slot of the newest sample; the copy at pos + kHistory
    // has the kHistory − 1 older samples contiguous before it.
    float peak = 0;
    for (int c = 0; c < channels_; ++c) {
        const float* ring = history_.data() + static_cast<std::size_t>(c) * 2 * kHistory;
        peak = std::max(peak, windowPeak(ring + pos + kHistory));
    }
    return peak;
}

float TruePeakDetector::process(const float* interleaved, std::size_t frame) {
    if (channels_ == 0) return 0;
    pos_ = (pos_ + 1) % kHistory;
    const float* in = interleaved + frame * static_cast<std::size_t>(channels_);
    for (int c = 0; c < channels_; ++c) {
        float* ring = history_.data() + static_cast<std::size_t>(c) * 2 * kHistory;
        ring[pos_] = in[c];
        ring[pos_ + kHistory] = in[c];
    }
    const float peak = framePeakAt(pos_);
    maxPeak_ = std::max(maxPeak_, peak);
    return peak;
}

void TruePeakDetector::processBlock(const float* interleaved, std::size_t frames) {
    if (channels_ == 0 || frames == 0) return;
    const auto& coef = coefficients().phase;
    const std::size_t ch = static_cast<std::size_t>(channels_);
    // scratch: kHistory − 1 samples of history, then up to kBlock new ones.
    scratch_.resize(kHistory - 1 + kBlock);
    float peak = maxPeak_;
    for (std::size_t c = 0; c < ch; ++c) {
        float* ring = history_.data() + c * 2 * kHistory;
        std::size_t pos = pos_;
        // Oldest-first history into the front of the scratch buffer.
        float* buf = scratch_.data();
        for (int k = 0; k < kHistory - 1; ++k) buf[k] = ring[pos + 2 + static_cast<std::size_t>(k)];
        for (std::size_t start = 0; start < frames; start += kBlock) {
            const std::size_t n = std::min(kBlock, frames - start);
            float* fresh = buf + (kHistory - 1);
            const float* src = interleaved + start * ch + c;
            for (std::size_t i = 0; i < n; ++i) fresh[i] = src[i * ch];
            peak = std::max(peak, blockPeak(coef, fresh, n));
            // Keep the newest kHistory − 1 samples as history for the next block.
            for (int k = 0; k < kHistory - 1; ++k) buf[k] = buf[n + static_cast<std::size_t>(k)];
            pos = (pos + n) % kHistory;
        }
        // Back into the ring: the newest sample at slot pos, older ones before it.
        for (int k = 0; k < kHistory - 1; ++k) {
            const std::size_t slot = (pos + 2 + static_cast<std::size_t>(k)) % kHistory;
            ring[slot] = buf[k];
            ring[slot + kHistory] = buf[k];
        }
    }
    pos_ = (pos_ + frames) % kHistory;
    maxPeak_ = peak;
}

float TruePeakDetector::maxPeak() const {
    // The last kLatency frames are still inside the interpolator: run a
    // copy on as many frames of silence.
    if (channels_ == 0) return maxPeak_;
    TruePeakDetector tail(*this);
    tail.scratch_.clear();
    const std::vector<float> zeros(static_cast<std::size_t>(channels_), 0.0f);
    for (int i = 0; i < kLatency; ++i) tail.process(zeros.data(), 0);
    return tail.maxPeak_;
}

} // namespace audio
