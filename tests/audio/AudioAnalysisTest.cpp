#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "core/Numbers.h"
#include "audio/AudioAnalysis.h"
#include "support/TestSupport.h"

using audio::AudioAnalysis;

namespace {

// Mono samples: mains hum with harmonics under white noise, or noise alone.
std::vector<float> humOrNoise(double mains, double fs, double seconds)
{
    std::mt19937 rng(3);
    std::normal_distribution<float> noise(0, 0.05f);
    std::vector<float> v(static_cast<std::size_t>(core::toInt64(fs * seconds).value()));
    for (std::size_t i = 0; i < v.size(); ++i) {
        const double t = static_cast<double>(i) / fs;
        double x = noise(rng);
        for (int k = 1; k <= 4 && mains > 0; ++k) x += 0.02 / k * std::sin(2 * std::numbers::pi * k * mains * t);
        v[i] = static_cast<float>(x);
    }
    return v;
}

} // namespace

struct HumCase {
    double mains;
    std::optional<double> expected;
};

class HumDetection : public testing::TestWithParam<HumCase> {};

TEST_P(HumDetection, FindsTheMainsFrequency)
{
    const auto samples = humOrNoise(GetParam().mains, 8000, 9);
    EXPECT_EQ(AudioAnalysis::detectHum(samples, 8000), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Signals, HumDetection,
                         testing::Values(HumCase{50, 50.0}, HumCase{60, 60.0}, HumCase{0, std::nullopt}));

TEST(AudioAnalysis, OneSecondIsTooShortForHumDetection)
{
    const auto samples = humOrNoise(50, 8000, 1);
    ASSERT_EQ(samples.size(), 8000u);
    EXPECT_FALSE(AudioAnalysis::detectHum(samples, 8000).has_value());
    EXPECT_EQ(AudioAnalysis::detectHum(humOrNoise(50, 8000, 1.01), 8000), 50.0);
}

struct FloorCase {
    std::vector<double> levels;
    double expected;
};

class NoiseFloor : public testing::TestWithParam<FloorCase> {};

TEST_P(NoiseFloor, IsTheQuietestHalfSecond)
{
    EXPECT_NEAR(AudioAnalysis::noiseFloor(GetParam().levels), GetParam().expected, 1e-9);
}

INSTANTIATE_TEST_SUITE_P(
    Levels, NoiseFloor,
    testing::Values(FloorCase{{}, -100}, FloorCase{{-50, -70, -60}, -70}, FloorCase{{-120, -30}, -100},
                    FloorCase{{-20, -20, -20, -20, -20, -90, -90, -90, -90, -90}, -90},
                    // one loud block in an otherwise silent half second, averaged in energy
                    FloorCase{{-10, -100, -100, -100, -100}, 10 * std::log10((0.1 + 4e-10) / 5)}));

TEST(AudioAnalysis, BlockFramesRoundHalvesAway)
{
    EXPECT_EQ(AudioAnalysis::blockFrames(48000), 4800);
    EXPECT_EQ(AudioAnalysis::blockFrames(44100), 4410);
    EXPECT_EQ(AudioAnalysis::blockFrames(22055), 2206);   // 2205.5
    EXPECT_EQ(AudioAnalysis::blockFrames(4), 1);
}

TEST(AudioAnalysis, SineFileLevels)
{
    testsupport::TempDir dir;
    const auto file = dir / "sine.wav";
    testsupport::makeAudio(file, "aevalsrc='0.5*sin(2*PI*1000*t)|0.5*sin(2*PI*1000*t)':s=48000:d=2.05", {"-c:a", "pcm_f32le"});
    const auto a = AudioAnalysis::analyze(file, false);
    EXPECT_EQ(a.sampleRate, 48000);
    EXPECT_EQ(a.channels, 2);
    EXPECT_EQ(a.frames, 98400);
    ASSERT_EQ(a.blockRMSdB.size(), 20u);   // the last 50 ms make no block
    EXPECT_EQ(a.weightedEnergy.size(), 20u);
    EXPECT_NEAR(a.samplePeak, -6.02, 0.02);
    EXPECT_NEAR(a.rmsDB, -9.03, 0.02);
    EXPECT_NEAR(a.blockRMSdB[10], -9.03, 0.02);
    EXPECT_NEAR(a.noiseFloorDB, -9.03, 0.05);
    ASSERT_TRUE(a.integratedLUFS.has_value());
    // 1 kHz at −6 dBFS in both channels: about −3.01 − 6.02 + 3.01 LUFS.
    EXPECT_NEAR(*a.integratedLUFS, -6.0, 0.1);
    EXPECT_GE(a.truePeak, a.samplePeak - 0.01);
    EXPECT_FALSE(a.humFrequency.has_value());
}

TEST(AudioAnalysis, SilenceAndShortFiles)
{
    testsupport::TempDir dir;
    testsupport::makeAudio(dir / "silence.wav", "anullsrc=r=48000:cl=mono", {"-t", "1"});
    const auto silent = AudioAnalysis::analyze(dir / "silence.wav", true);
    ASSERT_EQ(silent.blockRMSdB.size(), 10u);
    for (double l : silent.blockRMSdB) EXPECT_DOUBLE_EQ(l, -120);
    EXPECT_DOUBLE_EQ(silent.noiseFloorDB, -100);
    EXPECT_FALSE(silent.integratedLUFS.has_value());
    EXPECT_FALSE(silent.humFrequency.has_value());

    testsupport::makeAudio(dir / "short.wav", "sine=frequency=440:sample_rate=44100:duration=0.05");
    const auto shortFile = AudioAnalysis::analyze(dir / "short.wav", false);
    EXPECT_TRUE(shortFile.blockRMSdB.empty());
    EXPECT_TRUE(shortFile.weightedEnergy.empty());
    EXPECT_DOUBLE_EQ(shortFile.noiseFloorDB, -100);
    EXPECT_EQ(shortFile.frames, 2205);
}

TEST(AudioAnalysis, HumInAFileIsFoundOnlyWhenAskedFor)
{
    testsupport::TempDir dir;
    const auto file = dir / "hum.wav";
    testsupport::makeAudio(file,
                           "aevalsrc='0.03*sin(2*PI*60*t)+0.015*sin(2*PI*120*t)+0.01*sin(2*PI*180*t)+0.05*(random(0)-0.5)'"
                           ":s=16000:d=6");
    EXPECT_EQ(AudioAnalysis::analyze(file, true).humFrequency, 60.0);
    EXPECT_FALSE(AudioAnalysis::analyze(file, false).humFrequency.has_value());
}
