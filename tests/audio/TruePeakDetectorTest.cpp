#include "audio/TruePeakDetector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <random>
#include <tuple>
#include <vector>

#include "audio/LoudnessMeter.h"
#include "Signals.h"

using audio::TruePeakDetector;
using audiotest::Signal;

namespace {

constexpr double kPi = std::numbers::pi;

double truePeakDB(const Signal& s) {
    audio::LoudnessMeter m(s.sampleRate, s.channels);
    m.process(s.samples.data(), s.frames());
    return m.truePeakDBTP();
}

// A stereo signal from a function of time in samples, faded in and out
// over 20 ms so the tone starts and stops without a step (a step would ring
// above the tone's own crest in any band-limited reconstruction).
template <typename F> Signal fromFunction(double rate, double seconds, F f, bool fade = true) {
    Signal s{rate, 2, {}};
    const auto n = static_cast<std::size_t>(seconds * rate);
    const double fadeLength = 0.02 * rate;
    for (std::size_t i = 0; i < n; ++i) {
        const double edge = std::min(static_cast<double>(i), static_cast<double>(n - 1 - i));
        const double g = !fade || edge >= fadeLength ? 1.0 : 0.5 * (1 - std::cos(kPi * edge / fadeLength));
        const auto v = static_cast<float>(g * f(static_cast<double>(i)));
        s.samples.push_back(v);
        s.samples.push_back(v);
    }
    return s;
}

// EBU Tech 3341 true-peak signals 15–19 (frequencies relative to the rate,
// phase of the first sample) and four further 0 dBTP signals (20–23) whose
// crests fall between samples: a quarter-rate sine with its crest an
// eighth of a sample after a sample (the worst case of 4× oversampling), a
// sixth-rate sine with its crest 0.3 of a sample off, a band-limited pulse
// centred halfway between two samples and a two-tone signal.
Signal truePeakCase(int number, double rate) {
    const double a6 = audiotest::dbToLinear(-6);
    switch (number) {
    case 15: return fromFunction(rate, 1, [&](double n) { return a6 * std::sin(2 * kPi * n / 4); });
    case 16: return fromFunction(rate, 1, [&](double n) { return a6 * std::sin(2 * kPi * n / 4 + kPi / 4); });
    case 17: return fromFunction(rate, 1, [&](double n) { return a6 * std::sin(2 * kPi * n / 6 + kPi / 3); });
    case 18: return fromFunction(rate, 1, [&](double n) { return a6 * std::sin(2 * kPi * n / 8 + 3 * kPi / 8); });
    case 19:
        return fromFunction(rate, 1, [&](double n) { return audiotest::dbToLinear(3) * std::sin(2 * kPi * n / 4 + kPi / 4); });
    case 20: return fromFunction(rate, 1, [&](double n) { return std::cos(2 * kPi * (n - 0.125) / 4); });
    case 21: return fromFunction(rate, 1, [&](double n) { return std::cos(2 * kPi * (n - 0.3) / 6); });
    case 22:
        return fromFunction(rate, 0.5, [&](double n) {
            const double t = n - 1000.5;
            if (std::fabs(t) > 400) return 0.0;
            const double w = 0.5 * (1 + std::cos(kPi * t / 400));
            return w * std::sin(kPi * t / 2) / (kPi * t / 2);
        }, false);
    default: {
        auto f = [](double t) { return 0.6 * std::sin(2 * kPi * t / 10) + 0.5 * std::sin(2 * kPi * t / 5 + 1.1); };
        double peak = 0;
        for (double t = 0; t < 10; t += 1e-4) peak = std::max(peak, std::fabs(f(t)));
        return fromFunction(rate, 1, [&](double n) { return f(n) / peak; });
    }
    }
}

double expectedDBTP(int number) { return number < 19 ? -6.0 : number == 19 ? 3.0 : 0.0; }

class Tech3341TruePeak : public ::testing::TestWithParam<std::tuple<int, double>> {};

TEST_P(Tech3341TruePeak, WithinTolerance) {
    const auto [number, rate] = GetParam();
    const double dbtp = truePeakDB(truePeakCase(number, rate));
    EXPECT_LE(dbtp, expectedDBTP(number) + 0.2) << "case " << number;
    EXPECT_GE(dbtp, expectedDBTP(number) - 0.4) << "case " << number;
}

INSTANTIATE_TEST_SUITE_P(Cases, Tech3341TruePeak,
                         ::testing::Combine(::testing::Range(15, 24), ::testing::Values(44100.0, 48000.0, 96000.0)));

TEST(TruePeakDetector, QuarterRateSineAt45DegreesIsNotUnderRead) {
    // Samples sit 3 dB under the crest; a detector that only looked at the
    // samples (or interpolated with a cubic) would read far too low.
    const double dbtp = truePeakDB(truePeakCase(16, 48000));
    EXPECT_NEAR(dbtp, -6.0, 0.05);
}

TEST(TruePeakDetector, SingleFullScaleSampleIsExactlyZeroDBTP) {
    Signal s{48000, 1, std::vector<float>(100, 0.0f)};
    s.samples[50] = 1.0f;
    EXPECT_EQ(truePeakDB(s), 0.0);
    Signal last{48000, 1, std::vector<float>(10, 0.0f)};
    last.samples[9] = -1.0f;   // still inside the interpolator at the end
    EXPECT_EQ(truePeakDB(last), 0.0);
}

TEST(TruePeakDetector, NyquistAlternationReadsItsSamplePeak) {
    // Faded in and out: an abrupt start at the Nyquist rate really does
    // overshoot in the reconstructed waveform.
    const Signal s = fromFunction(48000, 0.2, [](double n) { return std::cos(kPi * n) * 0.5; });
    EXPECT_NEAR(truePeakDB(s), 20 * std::log10(0.5), 0.1);
}

TEST(TruePeakDetector, ProcessReportsEachFrameAfterTheLatency) {
    TruePeakDetector d(2);
    std::vector<float> frames(2 * 40, 0.0f);
    frames[2 * 20 + 1] = 0.8f;   // frame 20, right channel
    std::vector<float> peaks;
    for (std::size_t f = 0; f < 40; ++f) peaks.push_back(d.process(frames.data(), f));
    const std::size_t at = 20 + TruePeakDetector::kLatency;
    EXPECT_FLOAT_EQ(peaks[at], 0.8f);
    for (std::size_t f = 0; f < 40; ++f) {
        if (f != at) {
            EXPECT_LT(peaks[f], 0.8f) << f;
        }
    }
    EXPECT_FLOAT_EQ(d.maxPeak(), 0.8f);
}

TEST(TruePeakDetector, BlockAndFramePathsAgreeBitForBit) {
    std::mt19937 gen(4);
    std::uniform_real_distribution<float> dist(-1, 1);
    std::vector<float> x(3 * 5000);
    for (auto& v : x) v = dist(gen);
    TruePeakDetector perFrame(3), perBlock(3);
    for (std::size_t f = 0; f < 5000; ++f) perFrame.process(x.data(), f);
    for (std::size_t f = 0; f < 5000; f += 777) perBlock.processBlock(x.data() + 3 * f, std::min<std::size_t>(777, 5000 - f));
    EXPECT_EQ(perFrame.maxPeak(), perBlock.maxPeak());
}

TEST(TruePeakDetector, NoChannelsGiveZero) {
    TruePeakDetector d(0);
    const float none[1] = {0};
    EXPECT_EQ(d.process(none, 0), 0.0f);
    EXPECT_EQ(d.maxPeak(), 0.0f);
}

} // namespace
