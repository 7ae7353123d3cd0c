#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

#include "core/Numbers.h"
#include "audio/CleanupRender.h"

using audio::AudioBlock;
using audio::CleanupOptions;
using audio::CleanupPlan;
using audio::CleanupRender;
using audio::FrameRange;
using audio::GainStage;
using audio::LoudnessTarget;

namespace {

// Runs `input` through a fresh chain in chunks of `chunk` frames.
std::vector<float> renderInChunks(CleanupRender& r, const std::vector<float>& input, int channels, std::size_t chunk)
{
    std::vector<float> out;
    const std::size_t frames = input.size() / static_cast<std::size_t>(channels);
    AudioBlock block;
    for (std::size_t f = 0; f < frames; f += chunk) {
        const std::size_t n = std::min(chunk, frames - f);
        block.samples.assign(input.begin() + static_cast<std::ptrdiff_t>(f * channels),
                             input.begin() + static_cast<std::ptrdiff_t>((f + n) * channels));
        block.frames = n;
        r.process(block);
        out.insert(out.end(), block.samples.begin(), block.samples.end());
    }
    block.samples.clear();
    block.frames = 0;
    r.finish(block);
    out.insert(out.end(), block.samples.begin(), block.samples.end());
    return out;
}

// Three seconds of stereo "speech": bursts of noise and tone with hum and
// peaks well above the ceiling once the gain is applied.
std::vector<float> speechLike(double fs, int seconds)
{
    std::mt19937 rng(7);
    std::normal_distribution<float> noise(0, 1);
    const int frames = core::toInt(fs).value() * seconds;
    std::vector<float> v(static_cast<std::size_t>(frames) * 2);
    for (int i = 0; i < frames; ++i) {
        const double t = i / fs;
        const double envelope = std::max(0.0, std::sin(2 * std::numbers::pi * 1.7 * t));
        const double voice = envelope * (0.2 * std::sin(2 * std::numbers::pi * 220 * t) + 0.05 * noise(rng));
        const double hum = 0.01 * std::sin(2 * std::numbers::pi * 50 * t);
        v[2 * i] = static_cast<float>(voice + hum);
        v[2 * i + 1] = static_cast<float>(0.8 * voice + hum + 0.001 * noise(rng));
    }
    return v;
}

CleanupPlan busyPlan()
{
    CleanupPlan plan;
    plan.humFrequency = 50;
    plan.gateThresholdDB = -45;
    for (int i = 0; i < 30; ++i) plan.levelerGainsDB.push_back(std::sin(i * 0.7) * 5);
    plan.cuts = {{4000, 9000}, {30000, 30001}, {100000, 120000}};
    return plan;
}

} // namespace

class RenderChunks : public testing::TestWithParam<std::size_t> {};

TEST_P(RenderChunks, OutputIsIdenticalForAnyChunkSize)
{
    const double fs = 48000;
    const auto input = speechLike(fs, 3);
    const CleanupOptions options(true, audio::HumMode::autoDetect, true, true, true, 1);
    const auto plan = busyPlan();
    auto reference = CleanupRender::make(fs, 2, plan, options, 12, LoudnessTarget::stereoPodcast());
    const auto expected = renderInChunks(reference, input, 2, input.size());
    auto chunked = CleanupRender::make(fs, 2, plan, options, 12, LoudnessTarget::stereoPodcast());
    const auto got = renderInChunks(chunked, input, 2, GetParam());
    ASSERT_EQ(got.size(), expected.size());
    EXPECT_EQ(got, expected);
    EXPECT_EQ(chunked.result(), reference.result());
    EXPECT_LT(reference.result().limiterReductionDB, -1);   // the limiter did work
    EXPECT_EQ(reference.result().framesWritten, 3 * 48000 - 5000 - 1 - 20000);
}

INSTANTIATE_TEST_SUITE_P(Sizes, RenderChunks, testing::Values(1, 7, 240, 241, 1024, 4096, 48000));

struct ImpulseCase {
    float amplitude;
    std::size_t chunk;
};

class ImpulseTrain : public testing::TestWithParam<ImpulseCase> {};

// Impulses every 1000 frames, a cut in the middle: every surviving impulse
// lands where the cut alone would put it, through the limiter's delay.
TEST_P(ImpulseTrain, CutPositionsStayOnTheSourceTimeline)
{
    const double fs = 48000;
    const int frames = 96000;
    std::vector<float> input(frames, 0.0f);
    for (int p = 500; p < frames; p += 1000) input[static_cast<std::size_t>(p)] = GetParam().amplitude;
    CleanupPlan plan;
    plan.cuts = {{10000, 20000}};
    auto r = CleanupRender::make(fs, 1, plan, CleanupOptions::none(), 0, LoudnessTarget::stereoPodcast());
    const auto out = renderInChunks(r, input, 1, GetParam().chunk);
    ASSERT_EQ(out.size(), static_cast<std::size_t>(frames - 10000));

    for (int p = 500; p < frames; p += 1000) {
        if (p >= 10000 && p < 20000) continue;
        const int at = p < 10000 ? p : p - 10000;
        // The loudest sample of the impulse's neighbourhood is the impulse.
        std::size_t loudest = static_cast<std::size_t>(at - 400);
        for (int i = at - 400; i < at + 400; ++i)
            if (std::abs(out[static_cast<std::size_t>(i)]) > std::abs(out[loudest])) loudest = static_cast<std::size_t>(i);
        EXPECT_EQ(loudest, static_cast<std::size_t>(at)) << "impulse from " << p;
        if (GetParam().amplitude < 0.8f) {
            EXPECT_EQ(out[static_cast<std::size_t>(at)], GetParam().amplitude);
        } else {
            EXPECT_LE(out[static_cast<std::size_t>(at)], std::pow(10.0f, -1.7f / 20) + 1e-4f);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Trains, ImpulseTrain,
                         testing::Values(ImpulseCase{0.5f, 1}, ImpulseCase{0.5f, 333}, ImpulseCase{0.5f, 96000},
                                         ImpulseCase{1.6f, 1}, ImpulseCase{1.6f, 777}));

TEST(RenderChain, EverythingOffAppliesTheStaticGainAlone)
{
    std::vector<float> input(4800 * 2);
    for (std::size_t i = 0; i < input.size(); ++i) input[i] = 0.1f * std::sin(static_cast<float>(i) * 0.01f);
    auto r = CleanupRender::make(48000, 2, CleanupPlan{}, CleanupOptions::none(), 6, LoudnessTarget::stereoPodcast());
    const auto out = renderInChunks(r, input, 2, 1000);
    ASSERT_EQ(out.size(), input.size());
    const auto factor = static_cast<float>(std::pow(10.0, 6.0 / 20));
    for (std::size_t i = 0; i < input.size(); ++i) ASSERT_EQ(out[i], input[i] * factor) << i;
    EXPECT_EQ(r.result().limiterReductionDB, 0);
}

TEST(RenderChain, LimiterCeilingKeepsAMarginExceptForACX)
{
    EXPECT_DOUBLE_EQ(CleanupRender::limiterCeilingDB(LoudnessTarget::stereoPodcast()), -1.7);
    EXPECT_DOUBLE_EQ(CleanupRender::limiterCeilingDB(LoudnessTarget::audibleACX()), -3.5);
}

TEST(RenderChain, LevelerInterpolatesBetweenBlockCentres)
{
    const std::vector<double> gains{0, 10};
    EXPECT_DOUBLE_EQ(GainStage::levelerDB(gains, 100, 0), 0);
    EXPECT_DOUBLE_EQ(GainStage::levelerDB(gains, 100, 50), 0);
    EXPECT_DOUBLE_EQ(GainStage::levelerDB(gains, 100, 100), 5);
    EXPECT_DOUBLE_EQ(GainStage::levelerDB(gains, 100, 150), 10);
    EXPECT_DOUBLE_EQ(GainStage::levelerDB(gains, 100, 100000), 10);
    EXPECT_DOUBLE_EQ(GainStage::levelerDB({}, 100, 10), 0);
}
