// Clean-up and editing on real recordings: espeak-ng speech with 50 Hz hum
// and noise added by sox, an MP3 intro whose header promises more than it
// holds, and WAV files cut short.

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio/LoudnessNormalizer.h"
#include "audio/MediaDiagnostics.h"
#include "audio/PCMStream.h"
#include "core/Files.h"
#include "support/TestSupport.h"

namespace fs = std::filesystem;
using audio::CleanupOptions;
using audio::HumMode;

namespace {

std::vector<float> readAll(const fs::path& file, double rate, int channels)
{
    std::vector<float> out;
    audio::PCMStream::read(file, rate, channels, std::nullopt,
                           [&](std::span<const float> x, std::size_t) { out.insert(out.end(), x.begin(), x.end()); });
    return out;
}

// 2 s of room, a sentence, a 5 s pause, a sentence, 2 s of room; 50 Hz hum
// at -30 dBFS and pink noise at about -55 dBFS throughout.
fs::path humSpeech(const testsupport::TempDir& dir)
{
    testsupport::runTool({"espeak-ng", "-v", "en-us", "-s", "150", "-w", (dir / "a.wav").string(),
                          "Welcome to the garden show, today we plant some trees."});
    testsupport::runTool({"espeak-ng", "-v", "en-us", "-s", "150", "-w", (dir / "b.wav").string(),
                          "Thank you for listening, see you next week."});
    testsupport::runTool({"sox", (dir / "a.wav").string(), "-r", "48000", (dir / "a48.wav").string(), "pad", "2", "5"});
    testsupport::runTool({"sox", (dir / "b.wav").string(), "-r", "48000", (dir / "b48.wav").string(), "pad", "0", "2"});
    testsupport::runTool({"sox", (dir / "a48.wav").string(), (dir / "b48.wav").string(), (dir / "speech.wav").string()});
    const auto length = audio::PCMStream::format(dir / "speech.wav").durationSeconds;
    const std::string seconds = std::to_string(length);
    testsupport::runTool({"sox", "-n", "-r", "48000", "-c", "1", (dir / "hum.wav").string(), "synth", seconds, "sine",
                          "50", "vol", "0.032"});
    testsupport::runTool({"sox", "-n", "-r", "48000", "-c", "1", (dir / "noise.wav").string(), "synth", seconds,
                          "pinknoise", "vol", "0.004"});
    const auto out = dir / "episode.wav";
    testsupport::runTool({"sox", "-m", (dir / "speech.wav").string(), (dir / "hum.wav").string(),
                          (dir / "noise.wav").string(), "-c", "2", out.string()});
    return out;
}

} // namespace

class HumTrimming : public ::testing::TestWithParam<HumMode> {};

TEST_P(HumTrimming, PausesAreShortenedAndEndsTrimmedUnderHum)
{
    const testsupport::TempDir dir;
    const auto source = humSpeech(dir);
    const double before = audio::PCMStream::format(source).durationSeconds;
    // Rumble filter, hum notches, trim, pauses over 1.5 s shortened.
    const CleanupOptions options(true, GetParam(), false, false, true, 1.5);
    const auto result = audio::LoudnessNormalizer().process(source, dir / "out.wav",
                                                           audio::LoudnessTarget::stereoPodcast(), options);
    ASSERT_TRUE(result.humRemovedHz.has_value());
    // Head and tail: 2 s each down to 0.3 s; the 5 s pause (plus espeak's own
    // tail) down to 1.4 s.
    EXPECT_GT(result.secondsRemoved, 6.0);
    EXPECT_LT(result.secondsRemoved, 9.0);
    EXPECT_NEAR(audio::PCMStream::format(dir / "out.wav").durationSeconds, before - result.secondsRemoved, 0.05);
}

INSTANTIATE_TEST_SUITE_P(NoisyRecording, HumTrimming, ::testing::Values(HumMode::hz50, HumMode::autoDetect));

TEST(NoisyRecording, AnalysisMeasuresTheDecisionLevelsAfterTheNotches)
{
    const testsupport::TempDir dir;
    const auto source = humSpeech(dir);
    const auto plain = audio::AudioAnalysis::analyze(source, false);
    EXPECT_TRUE(plain.filteredBlockRMSdB.empty());
    const auto filtered = audio::AudioAnalysis::analyze(source, CleanupOptions(true, HumMode::hz50, false, false, true, 0));
    ASSERT_EQ(filtered.filteredBlockRMSdB.size(), filtered.blockRMSdB.size());
    // The hum sets the plain floor; without it the noise does.
    EXPECT_LT(filtered.decisionNoiseFloorDB(), plain.noiseFloorDB - 10);
}

TEST(NoisyRecording, JoinedMP3IntroFadesOutAtItsDecodedEnd)
{
    const testsupport::TempDir dir;
    testsupport::makeAudio(dir / "full.mp3", "sine=frequency=440:sample_rate=48000:duration=4", {"-c:a", "libmp3lame", "-b:a", "128k"});
    // Cut the file to half: the Xing header still promises 4 s.
    const std::string bytes = core::readFile(dir / "full.mp3");
    core::writeFileAtomically(dir / "intro.mp3", bytes.substr(0, bytes.size() / 2));
    ASSERT_GT(audio::PCMStream::format(dir / "intro.mp3").durationSeconds, 3.5);
    const auto decoded = readAll(dir / "intro.mp3", 48000, 1);
    const std::size_t introFrames = decoded.size();
    ASSERT_LT(introFrames, 48000u * 3);
    testsupport::makeAudio(dir / "episode.wav", "sine=frequency=220:sample_rate=48000:duration=1");

    audio::LoudnessNormalizer().concatenate({dir / "intro.mp3", dir / "episode.wav"}, dir / "joined.wav", 48000, 1);
    const auto joined = readAll(dir / "joined.wav", 48000, 1);
    ASSERT_EQ(joined.size(), introFrames + 48000);
    auto peak = [&](std::size_t from, std::size_t to) {
        float p = 0;
        for (std::size_t i = from; i < to; ++i) p = std::max(p, std::abs(joined[i]));
        return p;
    };
    const std::size_t fade = 720; // 15 ms
    EXPECT_GT(peak(introFrames - 3 * fade, introFrames - 2 * fade), 0.05f);
    EXPECT_LT(peak(introFrames - 40, introFrames), peak(introFrames - 3 * fade, introFrames - 2 * fade) * 0.06f);
    EXPECT_EQ(joined[introFrames], 0.0f); // the episode fades in from silence
}

TEST(NoisyRecording, AWavCutShortIsReadAndToldOnce)
{
    const testsupport::TempDir dir;
    testsupport::makeAudio(dir / "whole.wav", "sine=frequency=440:sample_rate=48000:duration=10", {"-c:a", "pcm_s16le"});
    const std::string bytes = core::readFile(dir / "whole.wav");
    const std::size_t header = bytes.find("data") + 8; // ffmpeg writes a LIST chunk before it
    core::writeFileAtomically(dir / "cut.wav", bytes.substr(0, header + 48000 * 2 * 4)); // 4 of 10 s
    core::writeFileAtomically(dir / "empty.wav", bytes.substr(0, header));
    core::writeFileAtomically(dir / "zero.wav", "");

    EXPECT_FALSE(audio::wavShortfall(dir / "whole.wav").has_value());
    const auto shortfall = audio::wavShortfall(dir / "cut.wav");
    ASSERT_TRUE(shortfall.has_value());
    EXPECT_EQ(shortfall->missingBytes, 48000u * 2 * 6);
    EXPECT_NEAR(shortfall->missingSeconds, 6.0, 1e-9);

    std::vector<std::string> told;
    {
        const audio::ReadWarnings warnings([&](const std::string& line) { told.push_back(line); });
        EXPECT_EQ(readAll(dir / "cut.wav", 48000, 1).size(), 48000u * 4);
        readAll(dir / "cut.wav", 48000, 1); // the same file again: said once
        readAll(dir / "whole.wav", 48000, 1);
    }
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "cut.wav: the audio data ends 6.0 s early (576000 bytes missing); the rest is read.");

    // A header without data is read as nothing and said so; a file of no
    // bytes cannot be read at all, and the reason says why.
    told.clear();
    {
        const audio::ReadWarnings warnings([&](const std::string& line) { told.push_back(line); });
        EXPECT_TRUE(readAll(dir / "empty.wav", 48000, 1).empty());
    }
    EXPECT_EQ(told, (std::vector<std::string>{"empty.wav holds no audio data (its header gives 10.0 s)."}));
    try {
        audio::PCMStream::format(dir / "zero.wav");
        ADD_FAILURE() << "an empty file was read";
    } catch (const audio::PCMStream::StreamError& e) {
        EXPECT_EQ(std::string(e.what()), "Could not read audio from zero.wav: the file is empty");
    }
}
