#include <gtest/gtest.h>

#include <ebur128.h>

#include <cmath>
#include <thread>

#include <fmt/format.h>

#include "audio/LoudnessNormalizer.h"
#include "audio/PCMStream.h"
#include "core/Numbers.h"
#include "support/TestSupport.h"

using audio::CleanupOptions;
using audio::LoudnessNormalizer;
using audio::LoudnessTarget;

namespace {

struct Reference {
    double lufs = 0;
    double truePeakDB = 0;
    double seconds = 0;
};

// Integrated loudness and true peak by libebur128.
Reference measureWithEbur128(const std::filesystem::path& file)
{
    const auto format = audio::PCMStream::format(file);
    ebur128_state* st = ebur128_init(static_cast<unsigned>(format.channels), static_cast<unsigned long>(core::toInt64(format.sampleRate).value()),
                                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    std::size_t frames = 0;
    audio::PCMStream::read(file, std::nullopt, std::nullopt, std::nullopt, [&](std::span<const float> s, std::size_t n) {
        ebur128_add_frames_float(st, s.data(), n);
        frames += n;
    });
    Reference r;
    ebur128_loudness_global(st, &r.lufs);
    double peak = 0;
    for (unsigned c = 0; c < static_cast<unsigned>(format.channels); ++c) {
        double p = 0;
        ebur128_true_peak(st, c, &p);
        peak = std::max(peak, p);
    }
    r.truePeakDB = 20 * std::log10(std::max(1e-9, peak));
    r.seconds = static_cast<double>(frames) / format.sampleRate;
    ebur128_destroy(&st);
    return r;
}

// Pink noise bursts with pauses, at roughly `lufs`.
void makeBursts(const std::filesystem::path& file, double amplitude, double seconds)
{
    testsupport::makeAudio(file,
                           "anoisesrc=color=pink:sample_rate=48000:amplitude=" + core::formatShortest(amplitude) +
                               ":seed=5",
                           {"-t", core::formatShortest(seconds), "-af",
                            "volume='if(lt(mod(t,2),1.4),1,0)':eval=frame", "-ac", "2"});
}

} // namespace

TEST(LoudnessNormalizer, BringsASourceToTheTargetWithinTolerance)
{
    testsupport::TempDir dir;
    makeBursts(dir / "in.wav", 0.05, 8);
    const LoudnessNormalizer n;
    const auto r = n.normalize(dir / "in.wav", dir / "out.wav", LoudnessTarget::stereoPodcast());
    const auto ref = measureWithEbur128(dir / "out.wav");
    EXPECT_NEAR(ref.lufs, -16, 0.3);
    EXPECT_NEAR(r.output.integratedLUFS, ref.lufs, 0.05);
    EXPECT_LE(ref.truePeakDB, -1.5 + 0.05);
    EXPECT_NEAR(r.gainDB, -16 - r.input.integratedLUFS, 1.0);
    EXPECT_EQ(r.input.sampleRate, 48000);
    EXPECT_EQ(r.input.channels, 2);
    EXPECT_NEAR(r.output.durationSeconds, 8, 1e-9);
    EXPECT_FALSE(r.acxReport.has_value());
    EXPECT_FALSE(r.humRemovedHz.has_value());
    EXPECT_EQ(r.secondsRemoved, 0);

    const auto probe = testsupport::runTool({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name",
                                             "-of", "csv=p=0", (dir / "out.wav").string()});
    EXPECT_EQ(probe.output, "pcm_s24le\n");
}

TEST(LoudnessNormalizer, SilentSourceFailsAndWritesNothing)
{
    testsupport::TempDir dir;
    testsupport::makeAudio(dir / "quiet take.wav", "anullsrc=r=44100:cl=stereo", {"-t", "2"});
    const LoudnessNormalizer n;
    try {
        n.normalize(dir / "quiet take.wav", dir / "out.wav", LoudnessTarget::stereoPodcast());
        FAIL() << "no error";
    } catch (const LoudnessNormalizer::NormalizerError& e) {
        EXPECT_STREQ(e.what(), "quiet take.wav is silent or too short to measure loudness.");
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
    EXPECT_EQ(n.measure(dir / "quiet take.wav").integratedLUFS, -70);
}

TEST(LoudnessNormalizer, ACXTargetIsMetOnRMSAndReported)
{
    testsupport::TempDir dir;
    makeBursts(dir / "in.wav", 0.05, 6);
    const LoudnessNormalizer n;
    const auto r = n.normalize(dir / "in.wav", dir / "out.wav", LoudnessTarget::audibleACX());
    ASSERT_TRUE(r.acxReport.has_value());
    EXPECT_NEAR(r.acxReport->rmsDB, -20, 0.3);
    EXPECT_EQ(r.acxReport->rmsDB, r.output.rmsDB);
    EXPECT_EQ(r.acxReport->peakDB, r.output.samplePeakDB);
    EXPECT_EQ(r.acxReport->sampleRate, 48000);
    // The room tone added at the ends spreads the same energy over more
    // frames, which the gain makes up for.
    const double added = 10 * std::log10(r.output.durationSeconds / r.input.durationSeconds);
    EXPECT_NEAR(r.gainDB, -20 - r.input.rmsDB + added, 1.0);
    EXPECT_LE(measureWithEbur128(dir / "out.wav").truePeakDB, -3.5 + 0.05);
}

TEST(LoudnessNormalizer, TrimmedOutputIsShorterBySecondsRemoved)
{
    testsupport::TempDir dir;
    // 3 s of silence, 3 s of noise, 3 s of silence.
    testsupport::makeAudio(dir / "in.wav", "anoisesrc=color=pink:sample_rate=48000:amplitude=0.1:seed=2",
                           {"-t", "9", "-af", "volume='between(t,3,6)':eval=frame", "-ac", "1"});
    const LoudnessNormalizer n;
    CleanupOptions o;
    o.trimSilence = true;
    const auto r = n.process(dir / "in.wav", dir / "out.wav", LoudnessTarget::monoPodcast(), o);
    EXPECT_NEAR(r.secondsRemoved, 5.4, 0.11);
    EXPECT_NEAR(r.output.durationSeconds, r.input.durationSeconds - r.secondsRemoved, 1e-9);
    EXPECT_NEAR(measureWithEbur128(dir / "out.wav").seconds, r.output.durationSeconds, 1e-9);
}

// Sparse full-scale clicks: the limiter takes most of the gain back, and the
// correction would need 40 dB or more, so the first pass's file stands. The
// result must describe that file and the gain that made it.
TEST(LoudnessNormalizer, RefusedCorrectionReportsTheWrittenFile)
{
    testsupport::TempDir dir;
    testsupport::makeAudio(dir / "clicks.wav", "aevalsrc='if(eq(mod(n\\,9600)\\,0)\\,0.99\\,0)':s=48000:d=4");
    const LoudnessNormalizer n;
    const auto r = n.normalize(dir / "clicks.wav", dir / "out.wav", LoudnessTarget::stereoPodcast());
    const auto ref = measureWithEbur128(dir / "out.wav");
    EXPECT_NEAR(r.output.integratedLUFS, ref.lufs, 0.05);
    EXPECT_LT(r.output.integratedLUFS, -16.3);   // stopped short of the target
    EXPECT_NEAR(r.gainDB, -16 - r.input.integratedLUFS, 1e-9);
    EXPECT_LT(r.limiterReductionDB, -10);
}

TEST(LoudnessNormalizer, NormalizeUsesNoCleanup)
{
    testsupport::TempDir dir;
    makeBursts(dir / "in.wav", 0.05, 6);
    const LoudnessNormalizer n;
    const auto a = n.normalize(dir / "in.wav", dir / "a.wav", LoudnessTarget::stereoPodcast());
    const auto b = n.process(dir / "in.wav", dir / "b.wav", LoudnessTarget::stereoPodcast(), CleanupOptions::none());
    EXPECT_EQ(a, b);
    EXPECT_EQ(core::readFile(dir / "a.wav"), core::readFile(dir / "b.wav"));
}

struct CorrectionCase {
    double gain, measured, target;
    std::optional<double> next;
};

class GainCorrection : public testing::TestWithParam<CorrectionCase> {};

TEST_P(GainCorrection, FollowsTheToleranceAndTheLimit)
{
    const auto& c = GetParam();
    const auto next = LoudnessNormalizer::correctedGain(c.gain, c.measured, c.target);
    ASSERT_EQ(next.has_value(), c.next.has_value());
    if (next) {
        EXPECT_NEAR(*next, *c.next, 1e-12);
    }
}

INSTANTIATE_TEST_SUITE_P(Examples, GainCorrection,
                         testing::Values(CorrectionCase{10, -16.2, -16, std::nullopt},   // within 0.3 dB
                                         CorrectionCase{10, -16.5, -16, 10.5},
                                         CorrectionCase{10, -15.2, -16, 9.2},
                                         CorrectionCase{38, -17.9, -16, 39.9},
                                         CorrectionCase{38, -18.0, -16, std::nullopt},   // would reach 40 dB
                                         CorrectionCase{-5, -30, -20, -5 + 10}));

// One engine, several episodes at once on their own threads: each result is
// what a call on its own gives.
TEST(LoudnessNormalizer, ParallelCallsDoNotInterfere)
{
    testsupport::TempDir dir;
    const std::vector<double> amplitudes{0.02, 0.05, 0.1, 0.2};
    for (std::size_t i = 0; i < amplitudes.size(); ++i) makeBursts(dir / fmt::format("in{}.wav", i), amplitudes[i], 4);
    const LoudnessNormalizer n;
    const CleanupOptions o(true, audio::HumMode::hz60, true, true, true, 0.5);
    std::vector<LoudnessNormalizer::Result> alone, together(amplitudes.size());
    for (std::size_t i = 0; i < amplitudes.size(); ++i)
        alone.push_back(n.process(dir / fmt::format("in{}.wav", i), dir / fmt::format("a{}.wav", i),
                                  LoudnessTarget::stereoPodcast(), o));
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < amplitudes.size(); ++i)
        threads.emplace_back([&, i] {
            together[i] = n.process(dir / fmt::format("in{}.wav", i), dir / fmt::format("b{}.wav", i),
                                    LoudnessTarget::stereoPodcast(), o);
        });
    for (auto& t : threads) t.join();
    for (std::size_t i = 0; i < amplitudes.size(); ++i) {
        EXPECT_EQ(together[i], alone[i]);
        EXPECT_EQ(core::readFile(dir / fmt::format("a{}.wav", i)), core::readFile(dir / fmt::format("b{}.wav", i)));
    }
}

TEST(LoudnessNormalizer, UnwritableDestinationFailsAndLeavesNothing)
{
    testsupport::TempDir dir;
    makeBursts(dir / "in.wav", 0.05, 2);
    std::filesystem::create_directory(dir / "taken.wav");   // a folder in the way
    EXPECT_THROW(LoudnessNormalizer().normalize(dir / "in.wav", dir / "taken.wav", LoudnessTarget::stereoPodcast()),
                 core::Error);
    EXPECT_TRUE(std::filesystem::is_directory(dir / "taken.wav"));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
    EXPECT_EQ(entries, 2u);   // the source and the folder, no temporary file
}
