#include "audio/LoudnessMeter.h"

#include <gtest/gtest.h>

#include <ebur128.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <tuple>
#include <vector>

#include "Signals.h"

using audio::LoudnessMeter;
using audiotest::Signal;

namespace {

LoudnessMeter measure(const Signal& s, std::size_t chunk = 4096) {
    LoudnessMeter m(s.sampleRate, s.channels);
    const std::size_t ch = static_cast<std::size_t>(s.channels);
    for (std::size_t f = 0; f < s.frames(); f += chunk)
        m.process(s.samples.data() + f * ch, std::min(chunk, s.frames() - f));
    return m;
}

// EBU Tech 3341 cases 1–5: stereo 1 kHz sines, (level dBFS, seconds) steps.
struct Step {
    double dbfs;
    double seconds;
};
struct LoudnessCase {
    int number;
    std::vector<Step> steps;
    double expected;
};

const std::vector<LoudnessCase>& loudnessCases() {
    static const std::vector<LoudnessCase> cases = {
        {1, {{-23, 20}}, -23},
        {2, {{-33, 20}}, -33},
        {3, {{-36, 10}, {-23, 60}, {-36, 10}}, -23},
        {4, {{-72, 10}, {-36, 10}, {-23, 60}, {-36, 10}, {-72, 10}}, -23},
        {5, {{-26, 20}, {-20, 20.1}, {-26, 20}}, -23},
    };
    return cases;
}

class Tech3341Loudness : public ::testing::TestWithParam<std::tuple<int, double>> {};

TEST_P(Tech3341Loudness, IntegratedWithinATenthOfALU) {
    const auto [index, rate] = GetParam();
    const LoudnessCase& c = loudnessCases()[static_cast<std::size_t>(index)];
    Signal s{rate, 2, {}};
    for (const Step& step : c.steps) s.append(audiotest::sine(rate, 2, 1000, audiotest::dbToLinear(step.dbfs), step.seconds));
    const auto lufs = measure(s).integratedLUFS();
    ASSERT_TRUE(lufs.has_value()) << "case " << c.number;
    EXPECT_NEAR(*lufs, c.expected, 0.1) << "case " << c.number << " at " << rate;
}

INSTANTIATE_TEST_SUITE_P(Cases, Tech3341Loudness,
                         ::testing::Combine(::testing::Range(0, 5), ::testing::Values(44100.0, 48000.0, 96000.0)));

// Agreement with libebur128 (integrated loudness) on the same frames.
double referenceLUFS(const Signal& s) {
    std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> st(
        ebur128_init(static_cast<unsigned>(s.channels), static_cast<unsigned long>(s.sampleRate), EBUR128_MODE_I),
        [](ebur128_state* p) { ebur128_destroy(&p); });
    ebur128_add_frames_float(st.get(), s.samples.data(), s.frames());
    double out = 0;
    ebur128_loudness_global(st.get(), &out);
    return out;
}

class AgreesWithLibebur128 : public ::testing::TestWithParam<std::tuple<int, double>> {};

TEST_P(AgreesWithLibebur128, WithinOneHundredthOfALU) {
    const auto [kind, rate] = GetParam();
    const Signal s = kind == 0   ? audiotest::noise(rate, 2, 0.1, 12, 3)
                     : kind == 1 ? audiotest::speechLike(rate, 2, 30, 11)
                                 : audiotest::speechLike(rate, 1, 20, 5);
    const auto ours = measure(s, 1000).integratedLUFS();
    ASSERT_TRUE(ours.has_value());
    EXPECT_NEAR(*ours, referenceLUFS(s), 0.01);
}

INSTANTIATE_TEST_SUITE_P(Signals, AgreesWithLibebur128,
                         ::testing::Combine(::testing::Values(0, 1, 2), ::testing::Values(44100.0, 48000.0)));

TEST(LoudnessMeter, ResultsDoNotDependOnChunkSize) {
    const Signal s = audiotest::speechLike(44100, 2, 5, 3);
    const LoudnessMeter whole = measure(s, s.frames());
    for (std::size_t chunk : {1u, 7u, 441u, 1023u, 4410u}) {
        const LoudnessMeter m = measure(s, chunk);
        EXPECT_EQ(m.integratedLUFS(), whole.integratedLUFS()) << chunk;
        EXPECT_EQ(m.truePeakDBTP(), whole.truePeakDBTP()) << chunk;
        EXPECT_EQ(m.subBlocks(), whole.subBlocks()) << chunk;
        EXPECT_EQ(m.framesProcessed(), s.frames());
    }
}

TEST(LoudnessMeter, NeedsFourSubBlocks) {
    const Signal s399 = audiotest::sine(48000, 2, 997, 0.5, 0.399);
    const LoudnessMeter short_ = measure(s399);
    EXPECT_EQ(short_.subBlockFrames(), 4800u);
    EXPECT_EQ(short_.subBlocks().size(), 3u);
    EXPECT_FALSE(short_.integratedLUFS().has_value());
    const LoudnessMeter enough = measure(audiotest::sine(48000, 2, 997, 0.5, 0.4));
    EXPECT_EQ(enough.subBlocks().size(), 4u);
    EXPECT_TRUE(enough.integratedLUFS().has_value());
}

TEST(LoudnessMeter, LastPartialSubBlockIsIgnored) {
    const LoudnessMeter m = measure(audiotest::sine(48000, 1, 997, 0.5, 1.05));
    EXPECT_EQ(m.subBlocks().size(), 10u);
    EXPECT_EQ(m.framesProcessed(), 50400u);
}

TEST(LoudnessMeter, SilenceHasNoLoudnessAndMinus180DBTP) {
    Signal s{48000, 2, std::vector<float>(2 * 48000 * 2, 0.0f)};
    const LoudnessMeter m = measure(s);
    EXPECT_FALSE(m.integratedLUFS().has_value());
    EXPECT_DOUBLE_EQ(m.truePeakDBTP(), -180.0);
}

TEST(LoudnessMeter, FullScaleSineInOneOrBothChannels) {
    Signal one = audiotest::sine(48000, 2, 997, 1.0, 3);
    for (std::size_t i = 1; i < one.samples.size(); i += 2) one.samples[i] = 0;
    const auto single = measure(one).integratedLUFS();
    const auto both = measure(audiotest::sine(48000, 2, 997, 1.0, 3)).integratedLUFS();
    ASSERT_TRUE(single && both);
    EXPECT_NEAR(*single, -3.01, 0.02);
    EXPECT_NEAR(*both - *single, 10 * std::log10(2.0), 0.001);
}

TEST(LoudnessMeter, GatesCompareStrictly) {
    // Four sub-blocks whose block sits exactly on −70 LUFS are dropped.
    const double atMinus70 = std::pow(10.0, (-70.0 + 0.691) / 10.0);
    EXPECT_FALSE(LoudnessMeter::integratedLUFS({atMinus70, atMinus70, atMinus70, atMinus70}).has_value());
    // Relative gate: a block exactly 10 LU under the absolute-gated mean is
    // dropped; one just above it stays.
    const std::vector<double> loud(4, 1e-2);
    auto withQuiet = loud;
    withQuiet.insert(withQuiet.end(), 4, 1e-4);
    const auto lufs = LoudnessMeter::integratedLUFS(withQuiet);
    ASSERT_TRUE(lufs.has_value());
    // Blocks straddling the step are partly loud; the quiet-only block
    // (30 dB down) is gated out, the loud-only block remains.
    EXPECT_GT(*lufs, -0.691 + 10 * std::log10(1e-2) - 3);
}

TEST(LoudnessMeter, SubBlocksAreMeanSquaredKWeightedEnergy) {
    // A 1 kHz sine gains about +0.69 dB through the K-weighting; two
    // channels add. The mean square of amplitude A is A²/2 per channel.
    const LoudnessMeter m = measure(audiotest::sine(48000, 2, 1000, 0.1, 1));
    ASSERT_EQ(m.subBlocks().size(), 10u);
    const double expected = 2 * 0.01 / 2;
    for (std::size_t i = 2; i < 10; ++i) EXPECT_NEAR(10 * std::log10(m.subBlocks()[i] / expected), 0.691, 0.01);
}

} // namespace
