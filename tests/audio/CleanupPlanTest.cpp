#include <gtest/gtest.h>

#include <cmath>

#include "audio/CleanupPlan.h"

using audio::AudioAnalysis;
using audio::CleanupOptions;
using audio::CleanupPlan;
using audio::FrameRange;
using audio::HumMode;

namespace {

// An analysis at 1 kHz (100-frame blocks) with the given block levels; the
// weighted energies follow the levels.
AudioAnalysis analysisOf(const std::vector<double>& levels, double noiseFloor, std::optional<double> lufs = -20)
{
    AudioAnalysis a;
    a.sampleRate = 1000;
    a.channels = 1;
    a.frames = static_cast<std::int64_t>(levels.size()) * 100;
    a.blockRMSdB = levels;
    for (double l : levels) a.weightedEnergy.push_back(std::pow(10.0, l / 10));
    a.noiseFloorDB = noiseFloor;
    a.integratedLUFS = lufs;
    return a;
}

std::vector<double> run(std::vector<double> v, std::size_t n, double level)
{
    v.insert(v.end(), n, level);
    return v;
}

CleanupOptions gateOnly()
{
    CleanupOptions o;
    o.noiseGate = true;
    return o;
}

} // namespace

struct ThresholdCase {
    double blockLevel;
    double noiseFloor;
    double speech, upper, silence, gate;
};

class PlanThresholds : public testing::TestWithParam<ThresholdCase> {};

TEST_P(PlanThresholds, FollowSpeechLevelAndNoiseFloor)
{
    const auto& p = GetParam();
    const auto a = analysisOf(std::vector<double>(40, p.blockLevel), p.noiseFloor);
    const auto levels = CleanupPlan::levels(a);
    EXPECT_DOUBLE_EQ(levels.speechDB, p.speech);
    EXPECT_DOUBLE_EQ(levels.upperDB, p.upper);
    EXPECT_DOUBLE_EQ(levels.silenceDB, p.silence);
    const auto plan = CleanupPlan::make(a, gateOnly());
    ASSERT_TRUE(plan.gateThresholdDB.has_value());
    EXPECT_DOUBLE_EQ(*plan.gateThresholdDB, p.gate);
    EXPECT_FALSE(CleanupPlan::make(a, CleanupOptions::none()).gateThresholdDB.has_value());
}

INSTANTIATE_TEST_SUITE_P(Examples, PlanThresholds,
                         testing::Values(ThresholdCase{-20, -62, -20, -40, -52, -52},
                                         ThresholdCase{-80, -100, -30, -50, -62, -90}));

TEST(CleanupPlan, PercentileTruncatesTheIndex)
{
    const std::vector<double> v{5, 1, 4, 2, 3};
    EXPECT_EQ(CleanupPlan::percentile(v, 0.75), 4.0);   // index 3 of 1..5
    EXPECT_EQ(CleanupPlan::percentile(v, 0.7), 3.0);    // 2.8 truncates to 2
    EXPECT_EQ(CleanupPlan::percentile(v, 1.0), 5.0);
    EXPECT_FALSE(CleanupPlan::percentile({}, 0.5).has_value());
}

TEST(CleanupPlan, HumFrequencyFollowsTheMode)
{
    auto a = analysisOf({}, -100);
    a.humFrequency = 50;
    CleanupOptions o;
    o.humRemoval = HumMode::autoDetect;
    EXPECT_EQ(CleanupPlan::make(a, o).humFrequency, 50.0);
    o.humRemoval = HumMode::hz60;
    EXPECT_EQ(CleanupPlan::make(a, o).humFrequency, 60.0);
    o.humRemoval = HumMode::off;
    EXPECT_FALSE(CleanupPlan::make(a, o).humFrequency.has_value());
    // Without blocks nothing but the hum is planned.
    o = CleanupOptions(false, HumMode::hz50, true, true, true, 1.5);
    const auto plan = CleanupPlan::make(a, o);
    EXPECT_EQ(plan, (CleanupPlan{50.0, std::nullopt, {}, {}}));
}

TEST(CleanupPlan, LeadingSilenceOfTwoSecondsIsTrimmedToRoomTone)
{
    const auto a = analysisOf(run(run({}, 20, -90), 30, -20), -90);
    CleanupOptions o;
    o.trimSilence = true;
    const auto plan = CleanupPlan::make(a, o);
    ASSERT_EQ(plan.cuts.size(), 1u);
    EXPECT_EQ(plan.cuts[0], (FrameRange{0, 1700}));   // 2 s − 0.3 s at 1 kHz
}

TEST(CleanupPlan, ShortLeadingSilenceStaysWhole)
{
    CleanupOptions o;
    o.trimSilence = true;
    EXPECT_TRUE(CleanupPlan::make(analysisOf(run(run({}, 3, -90), 30, -20), -90), o).cuts.empty());
    EXPECT_TRUE(CleanupPlan::make(analysisOf(run(run({}, 2, -90), 30, -20), -90), o).cuts.empty());
}

TEST(CleanupPlan, TrailingSilenceKeepsRoomToneAfterTheSpeech)
{
    const auto a = analysisOf(run(run({}, 30, -20), 20, -90), -90);
    CleanupOptions o;
    o.trimSilence = true;
    const auto plan = CleanupPlan::make(a, o);
    ASSERT_EQ(plan.cuts.size(), 1u);
    EXPECT_EQ(plan.cuts[0], (FrameRange{3300, 5000}));
}

TEST(CleanupPlan, LongPauseKeepsHalfTheLimitOnEachSide)
{
    // 5 s pause, 1.5 s limit: M = 15 blocks, 7 kept on each side, 3.6 s cut.
    const auto a = analysisOf(run(run(run({}, 10, -20), 50, -90), 10, -20), -90);
    CleanupOptions o;
    o.maxPauseSeconds = 1.5;
    const auto plan = CleanupPlan::make(a, o);
    ASSERT_EQ(plan.cuts.size(), 1u);
    EXPECT_EQ(plan.cuts[0], (FrameRange{1700, 5300}));
    EXPECT_EQ(plan.cuts[0].start - 1000, 700);   // 0.7 s kept after the speech
    EXPECT_EQ(6000 - plan.cuts[0].end, 700);     // 0.7 s kept before it resumes
    EXPECT_EQ(plan.cuts[0].length(), 3600);
}

TEST(CleanupPlan, PausesAtTheEndsAreOnlyTrimmedNeverShortened)
{
    const auto a = analysisOf(run(run(run({}, 40, -90), 10, -20), 40, -90), -90);
    CleanupOptions o;
    o.maxPauseSeconds = 1.0;
    EXPECT_TRUE(CleanupPlan::make(a, o).cuts.empty());
    o.trimSilence = true;
    const auto plan = CleanupPlan::make(a, o);
    EXPECT_EQ(plan.cuts, (std::vector<FrameRange>{{0, 3700}, {5300, 9000}}));
}

TEST(CleanupPlan, PauseWithinTheLimitStays)
{
    const auto a = analysisOf(run(run(run({}, 10, -20), 15, -90), 10, -20), -90);
    CleanupOptions o;
    o.maxPauseSeconds = 1.5;
    EXPECT_TRUE(CleanupPlan::make(a, o).cuts.empty());
}

TEST(CleanupPlan, FewerThanTenBlocksGiveNoLeveler)
{
    CleanupOptions o;
    o.leveler = true;
    EXPECT_TRUE(CleanupPlan::make(analysisOf(std::vector<double>(9, -20), -90), o).levelerGainsDB.empty());
    EXPECT_EQ(CleanupPlan::make(analysisOf(std::vector<double>(10, -20), -90), o).levelerGainsDB.size(), 10u);
    // Without an integrated loudness there is no curve either.
    EXPECT_TRUE(CleanupPlan::make(analysisOf(std::vector<double>(40, -20), -90, std::nullopt), o).levelerGainsDB.empty());
}

TEST(CleanupPlan, LevelerLiftsQuietPassagesAndHoldsThroughPauses)
{
    // 8 s at −30 dB (K-weighted −30.7 LUFS) with integrated −20: +8 dB at most.
    CleanupOptions o;
    o.leveler = true;
    auto a = analysisOf(std::vector<double>(80, -30), -90, -20.0);
    auto gains = CleanupPlan::make(a, o).levelerGainsDB;
    ASSERT_EQ(gains.size(), 80u);
    for (double g : gains) EXPECT_DOUBLE_EQ(g, 8.0);

    // A loud passage is turned down; the silent blocks after it keep the gain.
    a = analysisOf(run(run({}, 40, -12), 40, -95), -95, -20.0);
    gains = CleanupPlan::make(a, o).levelerGainsDB;
    EXPECT_DOUBLE_EQ(gains[10], -6.0);   // −20 − (−12.691) clamped to −6
    // Block 39 is the last one above the silence threshold; its 3 s window
    // holds 16 loud blocks of 30.
    const double lastGain = -20 - (-0.691 + 10 * std::log10(16.0 / 30 * std::pow(10.0, -1.2)));
    EXPECT_NEAR(gains[79], lastGain, 1e-6);
    EXPECT_NEAR(gains[60], lastGain, 1e-6);
}

TEST(CleanupPlan, CutsAreSortedAndClampedToTheFile)
{
    auto a = analysisOf(run(run(run(run({}, 20, -90), 10, -20), 50, -90), 10, -20), -90);
    a.frames = 8950;   // a last partial block
    CleanupOptions o(false, HumMode::off, false, false, true, 1.5);
    const auto plan = CleanupPlan::make(a, o);
    ASSERT_EQ(plan.cuts.size(), 2u);
    EXPECT_LT(plan.cuts[0].end, plan.cuts[1].start);
    for (const auto& c : plan.cuts) {
        EXPECT_GE(c.start, 0);
        EXPECT_LE(c.end, a.frames);
        EXPECT_GT(c.length(), 0);
    }
}
