#include "audio/LookaheadLimiter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "audio/LoudnessMeter.h"
#include "audio/TruePeakDetector.h"
#include "Signals.h"

using audio::LookaheadLimiter;
using audio::TruePeakDetector;

namespace {

std::vector<float> limit(LookaheadLimiter& l, const std::vector<float>& in, std::size_t chunk = 0) {
    std::vector<float> out;
    const auto ch = static_cast<std::size_t>(l.channels());
    const std::size_t frames = in.size() / ch;
    if (chunk == 0) {
        for (std::size_t f = 0; f < frames; ++f) l.step(in.data(), f, out);
    } else {
        for (std::size_t f = 0; f < frames; f += chunk) l.process(in.data() + f * ch, std::min(chunk, frames - f), out);
    }
    l.flush(out);
    return out;
}

// The same limiter written the slow, obvious way: every required gain is
// kept, the window minimum is found by scanning, the delay line is the
// whole input. Only the running sum of the moving average is kept as a sum,
// because that sum is part of the limiter's definition.
std::vector<float> referenceLimit(const std::vector<float>& in, int channels, double rate, double ceilingDB,
                                  double lookaheadMs, double releaseMs, float* maxReduction) {
    const auto ch = static_cast<std::size_t>(channels);
    const std::size_t frames = in.size() / ch;
    const int L = std::max(2, static_cast<int>(rate * lookaheadMs / 1000));
    const int D = L + TruePeakDetector::kLatency;
    const float ceiling = static_cast<float>(std::pow(10.0, ceilingDB / 20));
    const float release = static_cast<float>(std::exp(-1.0 / (rate * releaseMs / 1000)));
    TruePeakDetector det(channels);
    std::vector<float> padded = in;
    padded.resize((frames + static_cast<std::size_t>(D)) * ch, 0.0f);
    std::vector<float> need;   // need[g + kLatency] for frame g (g may be negative)
    std::vector<float> ring(static_cast<std::size_t>(L), 1.0f);
    double sum = L;
    float env = 1.0f;
    *maxReduction = 0;
    std::vector<float> out;
    for (std::size_t t = 0; t < frames + static_cast<std::size_t>(D); ++t) {
        const float p = det.process(padded.data(), t);
        need.push_back(p > ceiling ? ceiling / p : 1.0f);
        const std::int64_t g = static_cast<std::int64_t>(t) - TruePeakDetector::kLatency;
        float m = 1.0f;
        for (std::int64_t k = std::max<std::int64_t>(g - 2 * L + 1, -TruePeakDetector::kLatency); k <= g; ++k)
            m = std::min(m, need[static_cast<std::size_t>(k + TruePeakDetector::kLatency)]);
        const std::size_t slot = t % static_cast<std::size_t>(L);
        sum += static_cast<double>(m) - static_cast<double>(ring[slot]);
        ring[slot] = m;
        const float target = static_cast<float>(sum / L);
        env = env > target ? target : target + (env - target) * release;
        *maxReduction = std::min(*maxReduction, 20.0f * std::log10(std::max(1e-6f, env)));
        if (t >= static_cast<std::size_t>(D))
            for (std::size_t c = 0; c < ch; ++c) out.push_back(padded[(t - static_cast<std::size_t>(D)) * ch + c] * env);
    }
    return out;
}

TEST(LookaheadLimiter, DerivesItsConstants) {
    const LookaheadLimiter l(48000, 2, -1.7, 5, 80);
    EXPECT_EQ(l.lookahead(), 240);
    EXPECT_EQ(l.release(), static_cast<float>(std::exp(-1.0 / 3840)));
    EXPECT_EQ(l.ceiling(), static_cast<float>(std::pow(10.0, -1.7 / 20)));
    EXPECT_EQ(l.delayFrames(), 240 + TruePeakDetector::kLatency);
    EXPECT_EQ(LookaheadLimiter(8000, 1, 0, 0.1, 80).lookahead(), 2);
}

TEST(LookaheadLimiter, SignalUnderTheCeilingPassesUnchangedAndAligned) {
    const auto s = audiotest::noise(48000, 2, 0.3, 1, 9);
    LookaheadLimiter l(48000, 2, -1, 5, 80);
    EXPECT_EQ(limit(l, s.samples, 333), s.samples);
    EXPECT_EQ(l.maxReductionDB(), 0.0f);
}

TEST(LookaheadLimiter, PeakAtTwiceTheCeilingLeavesAtHalfGain) {
    std::vector<float> in(4000, 0.0f);
    in[1000] = 1.0f;
    LookaheadLimiter l(48000, 1, 20 * std::log10(0.5), 5, 80);
    const auto out = limit(l, in);
    ASSERT_EQ(out.size(), in.size());
    EXPECT_EQ(out[1000], 0.5f);
    EXPECT_NEAR(l.maxReductionDB(), -6.0206, 0.001);
}

TEST(LookaheadLimiter, GainRampsInBeforeAndHoldsAfterAPeak) {
    // A quiet carrier lets the gain be seen on every frame.
    std::vector<float> in(6000, 0.01f);
    in[3000] = 1.0f;
    LookaheadLimiter l(48000, 1, 20 * std::log10(0.5), 5, 80);
    const auto out = limit(l, in);
    const int L = l.lookahead();
    auto gain = [&](int f) { return out[static_cast<std::size_t>(f)] / 0.01f; };
    EXPECT_NEAR(gain(3000 - L - 20), 1.0f, 1e-6);
    EXPECT_LT(gain(3000 - L / 2), 0.85f);   // ramping in
    EXPECT_GT(gain(3000 - L / 2), 0.6f);
    EXPECT_NEAR(gain(3000 + L - 10), 0.5f, 0.01);   // held after the peak
    EXPECT_GT(gain(3000 + 3 * L), 0.52f);   // releasing
    EXPECT_GT(gain(5999), gain(3000 + 3 * L));
}

TEST(LookaheadLimiter, OutputLengthEqualsInputLength) {
    for (std::size_t frames : {0u, 1u, 5u, 239u, 240u, 241u, 10000u}) {
        const auto s = audiotest::noise(48000, 2, 1.5, static_cast<double>(frames) / 48000, 2);
        LookaheadLimiter l(48000, 2, -1, 5, 80);
        EXPECT_EQ(limit(l, s.samples).size(), s.samples.size()) << frames;
    }
    LookaheadLimiter none(48000, 0, -1, 5, 80);
    std::vector<float> out;
    const float x[1] = {0.5f};
    none.step(x, 0, out);
    none.flush(out);
    EXPECT_TRUE(out.empty());
}

TEST(LookaheadLimiter, MatchesTheSlowReferenceBitForBit) {
    // Loud bursts over a random carrier; a short look-ahead makes the
    // minimum queue expire (and compact) thousands of entries.
    std::mt19937 gen(17);
    std::uniform_real_distribution<float> u(-1, 1);
    for (const auto& [channels, lookaheadMs] : {std::pair{2, 1.0}, std::pair{1, 5.0}}) {
        const std::size_t frames = 120000;
        std::vector<float> in(frames * static_cast<std::size_t>(channels));
        for (std::size_t i = 0; i < in.size(); ++i) {
            const bool burst = (i / 5000) % 3 == 1;
            in[i] = u(gen) * (burst ? 1.8f : 0.4f);
        }
        LookaheadLimiter l(44100, channels, -1.5, lookaheadMs, 80);
        const auto ours = limit(l, in, 4097);
        float refReduction = 0;
        const auto ref = referenceLimit(in, channels, 44100, -1.5, lookaheadMs, 80, &refReduction);
        ASSERT_EQ(ours.size(), ref.size());
        EXPECT_EQ(ours, ref);
        EXPECT_EQ(l.maxReductionDB(), refReduction);
        EXPECT_LT(refReduction, -3.0f);
    }
}

TEST(LookaheadLimiter, LimitedOutputStaysUnderTheCeiling) {
    // Quarter-rate tones whose crests fall between samples, boosted 6 dB
    // over the ceiling.
    for (double rate : {44100.0, 48000.0}) {
        auto s = audiotest::sine(rate, 2, rate / 4, 1.4, 1, 0.785398);
        const auto speech = audiotest::speechLike(rate, 2, 1, 3);
        for (std::size_t i = 0; i < s.samples.size(); ++i) s.samples[i] = 0.5f * s.samples[i] + 4 * speech.samples[i];
        LookaheadLimiter l(rate, 2, -1.5, 5, 80);
        const auto out = limit(l, s.samples, 1000);
        audio::LoudnessMeter m(rate, 2);
        m.process(out.data(), out.size() / 2);
        EXPECT_LE(m.truePeakDBTP(), -1.5 + 0.05) << rate;
        EXPECT_GT(m.truePeakDBTP(), -6.0) << rate;
    }
}

} // namespace
