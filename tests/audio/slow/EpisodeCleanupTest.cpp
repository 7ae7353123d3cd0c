// End to end: a spoken episode at about −30 LUFS with 50 Hz hum, background
// noise and long pauses goes through the whole clean-up and normalisation;
// libebur128 checks the result.

#include <gtest/gtest.h>

#include <ebur128.h>

#include <cmath>

#include "audio/LoudnessNormalizer.h"
#include "audio/PCMStream.h"
#include "core/Numbers.h"
#include "support/TestSupport.h"

using audio::CleanupOptions;
using audio::HumMode;
using audio::LoudnessNormalizer;
using audio::LoudnessTarget;
namespace fs = std::filesystem;

namespace {

struct FileLevels {
    double lufs = 0;
    double truePeakDB = 0;
    double rmsDB = 0;
    double samplePeakDB = 0;
    double seconds = 0;
    std::vector<double> blockDB;   // 100 ms blocks
};

FileLevels levelsOf(const fs::path& file)
{
    const auto format = audio::PCMStream::format(file);
    const auto channels = static_cast<std::size_t>(format.channels);
    ebur128_state* st = ebur128_init(static_cast<unsigned>(channels), static_cast<unsigned long>(core::toInt64(format.sampleRate).value()),
                                     EBUR128_MODE_I | EBUR128_MODE_TRUE_PEAK);
    FileLevels l;
    double total = 0, peak = 0, block = 0;
    std::size_t frames = 0, inBlock = 0;
    const auto blockFrames = static_cast<std::size_t>(core::toInt64(format.sampleRate / 10).value());
    audio::PCMStream::read(file, std::nullopt, std::nullopt, std::nullopt, [&](std::span<const float> s, std::size_t n) {
        ebur128_add_frames_float(st, s.data(), n);
        for (std::size_t f = 0; f < n; ++f) {
            double sum = 0;
            for (std::size_t c = 0; c < channels; ++c) {
                const double x = s[f * channels + c];
                sum += x * x;
                peak = std::max(peak, std::abs(x));
            }
            total += sum;
            block += sum;
            if (++inBlock == blockFrames) {
                l.blockDB.push_back(10 * std::log10(std::max(1e-12, block / static_cast<double>(blockFrames * channels))));
                block = 0;
                inBlock = 0;
            }
        }
        frames += n;
    });
    ebur128_loudness_global(st, &l.lufs);
    double tp = 0;
    for (unsigned c = 0; c < channels; ++c) {
        double p = 0;
        ebur128_true_peak(st, c, &p);
        tp = std::max(tp, p);
    }
    ebur128_destroy(&st);
    l.truePeakDB = 20 * std::log10(std::max(1e-9, tp));
    l.rmsDB = 10 * std::log10(std::max(1e-12, total / static_cast<double>(std::max<std::size_t>(1, frames * channels))));
    l.samplePeakDB = 20 * std::log10(std::max(1e-9, peak));
    l.seconds = static_cast<double>(frames) / format.sampleRate;
    return l;
}

void say(const fs::path& out, const std::string& text)
{
    testsupport::runTool({"espeak-ng", "-v", "en", "-s", "150", "-w", out.string(), text});
}

// 2 s of room, speech, a 5 s pause, speech, 2 s of room; then hum and noise
// over the whole length, the speech scaled so the mix is about −30 LUFS.
fs::path makeEpisode(const testsupport::TempDir& dir)
{
    say(dir / "one.wav", "Welcome back to the show. Today we talk about recording at home, and why the room "
                         "matters more than the microphone you buy.");
    say(dir / "two.wav", "After the break, our guest explains how she treats a small bedroom studio with "
                         "blankets, books and a little patience.");
    const std::string speech =
        "[0:a]aresample=48000,apad=pad_dur=5[a];[1:a]aresample=48000,apad=pad_dur=2[b];"
        "[a][b]concat=n=2:v=0:a=1,adelay=delays=2000:all=1";
    testsupport::runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i",
                          (dir / "one.wav").string(), "-i", (dir / "two.wav").string(), "-filter_complex", speech,
                          "-c:a", "pcm_f32le", (dir / "speech.wav").string()});
    const double speechLUFS = levelsOf(dir / "speech.wav").lufs;
    const double volumeDB = -30 - speechLUFS;

    const auto episode = dir / "episode.wav";
    const std::string mix =
        "[0:a]volume=" + core::formatFixed(volumeDB, 2) + "dB[s];"
        "aevalsrc='0.0035*sin(2*PI*50*t)+0.0015*sin(2*PI*100*t)+0.001*sin(2*PI*150*t)':s=48000:d=120[h];"
        "anoisesrc=color=pink:amplitude=0.0006:sample_rate=48000:seed=11:d=120[n];"
        "[s][h][n]amix=inputs=3:normalize=0:duration=first,aformat=channel_layouts=stereo";
    testsupport::runTool({"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y", "-i",
                          (dir / "speech.wav").string(), "-filter_complex", mix, "-c:a", "pcm_s24le",
                          episode.string()});
    return episode;
}

// Seconds of audio before the first block above `thresholdDB`.
double leadingSilence(const FileLevels& l, double thresholdDB)
{
    for (std::size_t i = 0; i < l.blockDB.size(); ++i)
        if (l.blockDB[i] > thresholdDB) return static_cast<double>(i) / 10;
    return l.seconds;
}

} // namespace

TEST(EpisodeCleanup, SpeechWithHumAndPausesReachesTheTarget)
{
    testsupport::TempDir dir;
    const auto episode = makeEpisode(dir);
    const auto source = levelsOf(episode);
    ASSERT_NEAR(source.lufs, -30, 1.5);

    const CleanupOptions cleanup(true, HumMode::autoDetect, true, true, true, 1.5);
    const auto r = LoudnessNormalizer().process(episode, dir / "master.wav", LoudnessTarget::stereoPodcast(), cleanup);
    const auto out = levelsOf(dir / "master.wav");

    EXPECT_NEAR(out.lufs, -16, 0.3);
    EXPECT_LE(out.truePeakDB, -1.0);
    EXPECT_NEAR(r.output.integratedLUFS, out.lufs, 0.1);
    EXPECT_EQ(r.humRemovedHz, 50.0);
    EXPECT_NEAR(r.input.integratedLUFS, source.lufs, 0.1);

    // Leading 2 s trimmed to about 0.3 s; the 5 s pause and the tail shortened.
    EXPECT_GT(r.secondsRemoved, 6.0);
    EXPECT_NEAR(out.seconds, source.seconds - r.secondsRemoved, 1e-6);
    EXPECT_NEAR(r.output.durationSeconds, out.seconds, 1e-6);
    const double lead = leadingSilence(out, -40);
    EXPECT_GE(lead, 0.2);
    EXPECT_LE(lead, 0.5);
}

TEST(EpisodeCleanup, ACXTargetGivesTheReportWithTheRightVerdict)
{
    testsupport::TempDir dir;
    const auto episode = makeEpisode(dir);
    const CleanupOptions cleanup(true, HumMode::hz50, true, false, true, 1.5);
    const auto r = LoudnessNormalizer().process(episode, dir / "acx.wav", LoudnessTarget::audibleACX(), cleanup);
    ASSERT_TRUE(r.acxReport.has_value());
    const auto out = levelsOf(dir / "acx.wav");
    const auto& report = *r.acxReport;
    EXPECT_NEAR(report.rmsDB, out.rmsDB, 0.01);
    EXPECT_NEAR(report.peakDB, out.samplePeakDB, 0.01);
    EXPECT_NEAR(report.noiseFloorDB, LoudnessNormalizer::noiseFloor(out.blockDB), 0.05);
    EXPECT_NEAR(report.rmsDB, -20, 0.3);
    EXPECT_LE(out.truePeakDB, -3.5 + 0.05);
    EXPECT_EQ(report.sampleRate, 48000);

    const bool passes = out.rmsDB >= -23 && out.rmsDB <= -18 && out.samplePeakDB <= -3 &&
                        LoudnessNormalizer::noiseFloor(out.blockDB) <= -60;
    const std::string text = report.text();
    EXPECT_NE(text.find("Audible / ACX audio check\n"), std::string::npos);
    EXPECT_NE(text.find("PASS  RMS level"), std::string::npos) << text;
    EXPECT_NE(text.find("PASS  Peak level"), std::string::npos) << text;
    EXPECT_NE(text.find("Sample rate    48000 Hz"), std::string::npos) << text;
    EXPECT_NE(text.find(passes ? "Overall: PASSES the ACX audio requirements.\n"
                               : "Overall: Does NOT pass yet. See the FAIL lines above.\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(report.passes(), passes);
    EXPECT_TRUE(passes) << text;   // hum notched and the gate on: the floor is low enough
}
