#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "core/Numbers.h"
#include "audio/CleanupFilters.h"

using audio::Biquad;
using audio::CutRenderer;
using audio::FrameRange;
using audio::NoiseGate;

namespace {

// Steady-state amplitude of a sine after the sections.
double gainAt(std::vector<Biquad> sections, double frequency, double sampleRate)
{
    double peak = 0;
    const int n = core::toInt(sampleRate).value() * 4;
    for (int i = 0; i < n; ++i) {
        double x = std::sin(2 * std::numbers::pi * frequency * i / sampleRate);
        for (auto& b : sections) x = b.process(x);
        if (i > n / 2) peak = std::max(peak, std::abs(x));
    }
    return peak;
}

} // namespace

TEST(CleanupFilters, NotchSetAtEightKilohertz)
{
    EXPECT_EQ(audio::notchFrequencies(60, 8000), (std::vector<double>{60, 120, 180, 240, 300, 360}));
    // Harmonics at or above fs/2 − 100 are skipped, later ones still tried.
    EXPECT_EQ(audio::notchFrequencies(50, 400), (std::vector<double>{50}));
    EXPECT_EQ(audio::notchFrequencies(60, 500), (std::vector<double>{60, 120}));
    EXPECT_EQ(audio::cleanupSections(false, std::nullopt, 44100).size(), 0u);
    EXPECT_EQ(audio::cleanupSections(true, 60.0, 8000).size(), 7u);
}

TEST(CleanupFilters, NotchRemovesItsFrequencyAndPassesSpeech)
{
    const double fs = 48000;
    EXPECT_LT(gainAt({audio::notchSection(50, fs)}, 50, fs), 0.01);
    EXPECT_NEAR(gainAt({audio::notchSection(50, fs)}, 1000, fs), 1.0, 0.01);
}

TEST(CleanupFilters, RumbleHighPassCutsBelowEightyHertz)
{
    const double fs = 48000;
    const auto hp = audio::highPassSection(80, fs, 0.7071);
    EXPECT_NEAR(gainAt({hp}, 80, fs), std::sqrt(0.5), 0.01);   // −3 dB at the corner
    EXPECT_LT(gainAt({hp}, 20, fs), 0.07);
    EXPECT_NEAR(gainAt({hp}, 2000, fs), 1.0, 0.01);
}

TEST(CutRenderer, FadeValuesAroundACut)
{
    CutRenderer r({{1000, 2000}}, 441);
    EXPECT_EQ(r.gain(0), 1.0f);
    EXPECT_EQ(r.gain(558), 1.0f);
    EXPECT_EQ(r.gain(559), 1.0f);                // 441 / 441
    EXPECT_FLOAT_EQ(*r.gain(560), 440.0f / 441);
    EXPECT_FLOAT_EQ(*r.gain(999), 1.0f / 441);
    EXPECT_FALSE(r.gain(1000).has_value());
    EXPECT_FALSE(r.gain(1999).has_value());
    EXPECT_FLOAT_EQ(*r.gain(2000), 1.0f / 441);  // fade-in after the cut
    EXPECT_FLOAT_EQ(*r.gain(2439), 440.0f / 441);
    EXPECT_EQ(r.gain(2440), 1.0f);
}

TEST(CutRenderer, ZeroFadeIsOneFrame)
{
    CutRenderer r({{10, 20}}, 0);
    EXPECT_EQ(r.fade, 1);
    EXPECT_EQ(r.gain(9), 1.0f);
    EXPECT_FALSE(r.gain(10).has_value());
    EXPECT_EQ(r.gain(20), 1.0f);
}

TEST(CutRenderer, UnsortedAndOverlappingRangesAreMerged)
{
    CutRenderer r({{50, 60}, {10, 20}, {15, 30}, {-5, 2}, {40, 40}}, 1);
    EXPECT_EQ(r.cuts, (std::vector<FrameRange>{{0, 2}, {10, 30}, {50, 60}}));
    int kept = 0;
    for (int q = 0; q < 70; ++q)
        if (r.gain(q)) ++kept;
    EXPECT_EQ(kept, 70 - 2 - 20 - 10);
}

TEST(CutRenderer, FadeShorterThanTheGapBetweenTwoCutsTakesTheSmaller)
{
    CutRenderer r({{100, 110}, {114, 120}}, 10);
    // Frame 112: 3/10 into the fade-in, 2/10 before the next cut.
    for (int q = 0; q < 112; ++q) (void)r.gain(q);
    EXPECT_FLOAT_EQ(*r.gain(112), 0.2f);
}

TEST(NoiseGate, OpensQuicklyAndClosesSlowly)
{
    const double fs = 48000;
    NoiseGate gate(-40, fs);
    EXPECT_FLOAT_EQ(gate.threshold, 0.01f);
    EXPECT_FLOAT_EQ(gate.attackCoefficient, static_cast<float>(std::exp(-1 / (0.003 * fs))));
    EXPECT_FLOAT_EQ(gate.releaseCoefficient, static_cast<float>(std::exp(-1 / (0.15 * fs))));

    // Quiet input: the gain falls towards 0.25 with the 150 ms coefficient.
    float g = 1;
    for (int i = 0; i < 100; ++i) g = gate.process(0.001f);
    const float expectedClosed = 0.25f + 0.75f * std::pow(gate.releaseCoefficient, 100.0f);
    EXPECT_NEAR(g, expectedClosed, 1e-4);
    for (int i = 0; i < 4 * 48000; ++i) g = gate.process(0.001f);
    EXPECT_NEAR(g, 0.25f, 2e-4);   // single precision settles within a few ulps × 1/(1 − coefficient)

    // A frame at the threshold opens it at once; the gain rises with 3 ms.
    const float before = g;
    g = gate.process(0.01f);
    EXPECT_FLOAT_EQ(g, 1 + (before - 1) * gate.attackCoefficient);
    for (int i = 0; i < 1440; ++i) g = gate.process(0.02f);   // 30 ms
    EXPECT_GT(g, 0.9999f);
}
