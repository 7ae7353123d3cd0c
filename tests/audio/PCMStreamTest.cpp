#include "audio/PCMStream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <fmt/format.h>

#include "audio/MediaDiagnostics.h"
#include "support/TestSupport.h"
#include "audio/WAVWriter.h"
#include "core/Files.h"

using audio::PCMStream;
using testsupport::makeAudio;
using testsupport::TempDir;

namespace {

struct Read {
    PCMStream::Format format;
    std::vector<float> samples;
    std::size_t frames = 0;
    std::size_t chunks = 0;
};

Read readAll(const std::filesystem::path& file, std::optional<double> rate = std::nullopt,
             std::optional<int> channels = std::nullopt, std::optional<double> maxDuration = std::nullopt) {
    Read r;
    r.format = PCMStream::read(file, rate, channels, maxDuration, [&](std::span<const float> s, std::size_t frames) {
        r.samples.insert(r.samples.end(), s.begin(), s.end());
        r.frames += frames;
        ++r.chunks;
    });
    return r;
}

double rmsDB(const std::vector<float>& x) {
    double sum = 0;
    for (float v : x) sum += static_cast<double>(v) * v;
    return 10 * std::log10(sum / static_cast<double>(x.size()));
}

class ContainerRead : public ::testing::TestWithParam<std::tuple<std::string, std::vector<std::string>>> {};

TEST_P(ContainerRead, DecodesTheFirstAudioTrack) {
    const auto& [extension, args] = GetParam();
    TempDir dir;
    const auto file = dir / ("tone." + extension);
    makeAudio(file, "sine=frequency=440:sample_rate=44100:duration=2", args);
    const auto fmt = PCMStream::format(file);
    EXPECT_EQ(fmt.sampleRate, 44100);
    EXPECT_EQ(fmt.channels, 1);
    EXPECT_NEAR(fmt.durationSeconds, 2.0, 0.06);
    const Read r = readAll(file);
    EXPECT_EQ(r.format.sampleRate, 44100);
    EXPECT_EQ(r.format.channels, 1);
    EXPECT_NEAR(static_cast<double>(r.frames), 88200, 2300) << extension;
    // A sine of amplitude 1/8 has an RMS level of −21.07 dB.
    EXPECT_NEAR(rmsDB(r.samples), -21.07, 0.6) << extension;   // lossy codecs move it a little
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ContainerRead,
    ::testing::Values(std::make_tuple("wav", std::vector<std::string>{}),
                      std::make_tuple("aif", std::vector<std::string>{"-f", "aiff"}),
                      std::make_tuple("aiff", std::vector<std::string>{}),
                      std::make_tuple("mp3", std::vector<std::string>{"-c:a", "libmp3lame", "-b:a", "128k"}),
                      std::make_tuple("m4a", std::vector<std::string>{"-c:a", "aac", "-b:a", "128k"}),
                      std::make_tuple("flac", std::vector<std::string>{}),
                      std::make_tuple("caf", std::vector<std::string>{}),
                      std::make_tuple("mov", std::vector<std::string>{"-c:a", "pcm_s16le"}),
                      std::make_tuple("mp4", std::vector<std::string>{"-c:a", "aac"})),
    [](const auto& info) { return std::get<0>(info.param); });

TEST(PCMStream, VideoWithAudioReadsLikeAudio) {
    TempDir dir;
    const auto file = dir / "clip.mp4";
    testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                          "color=c=blue:s=64x64:r=10:d=1", "-f", "lavfi", "-i",
                          "sine=frequency=440:sample_rate=48000:duration=1", "-c:v", "libx264", "-c:a", "aac",
                          "-shortest", file.string()});
    const Read r = readAll(file);
    EXPECT_EQ(r.format.sampleRate, 48000);
    EXPECT_GT(r.frames, 40000u);
}

TEST(PCMStream, VideoWithoutAudioHasNoAudioTrack) {
    TempDir dir;
    const auto file = dir / "silent film.mp4";
    testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                          "color=c=red:s=64x64:r=10:d=1", "-c:v", "libx264", file.string()});
    try {
        readAll(file);
        FAIL() << "no error";
    } catch (const PCMStream::StreamError& e) {
        EXPECT_EQ(e.kind(), PCMStream::StreamError::Kind::noAudioTrack);
        EXPECT_STREQ(e.what(), "silent film.mp4 has no audio track.");
    }
    EXPECT_THROW(PCMStream::format(file), PCMStream::StreamError);
}

TEST(PCMStream, MissingFileFailsWithReadFailed) {
    TempDir dir;
    try {
        PCMStream::format(dir / "absent.wav");
        FAIL() << "a missing file was opened";
    } catch (const PCMStream::StreamError& e) {
        EXPECT_EQ(e.kind(), PCMStream::StreamError::Kind::readFailed);
        EXPECT_STREQ(e.what(), "Could not read audio from absent.wav: No such file or directory");
    }
}

struct NotAudioCase {
    const char* name;
    std::function<std::string()> bytes;
    const char* text;
    const char* libavSays; // what the log line carries; empty: no line
};
void PrintTo(const NotAudioCase& c, std::ostream* os) { *os << c.name; }

std::string randomBytes(std::size_t n) {
    std::mt19937 gen(20240611);
    std::string bytes(n, '\0');
    for (auto& b : bytes) b = static_cast<char>(gen() & 0xFF);
    return bytes;
}

// The first 30 % of an M4A written the default way, with its index (the
// moov atom) at the end: a recording or copy that stopped early.
std::string m4aCutBeforeItsIndex() {
    TempDir dir;
    makeAudio(dir / "whole.m4a", "sine=frequency=440:sample_rate=44100:duration=20", {"-c:a", "aac"});
    const std::string bytes = core::readFile(dir / "whole.m4a");
    return bytes.substr(0, bytes.size() * 3 / 10);
}

class NotAudio : public ::testing::TestWithParam<NotAudioCase> {};

// Whatever libav makes of them, files that are not audio say so in a
// user's words, name the file and carry none of libav's own texts, before
// any loudness is measured; libav's words are kept for the log.
TEST_P(NotAudio, SaysItHoldsNoDecodableAudio) {
    const auto& c = GetParam();
    TempDir dir;
    core::writeFileAtomically(dir / c.name, c.bytes());
    try {
        readAll(dir / c.name);
        FAIL() << c.name << " was read as audio";
    } catch (const PCMStream::StreamError& e) {
        EXPECT_EQ(e.kind(), PCMStream::StreamError::Kind::noDecodableAudio);
        EXPECT_STREQ(e.what(), c.text);
        const std::string said(c.libavSays);
        if (said.empty())
            EXPECT_EQ(e.libavLine(), "");
        else
            EXPECT_EQ(e.libavLine().rfind(fmt::format("{}: libav says \"{}", c.name, said), 0), 0u) << e.libavLine();
    }
}

INSTANTIATE_TEST_SUITE_P(
    PCMStream, NotAudio,
    ::testing::Values(
        NotAudioCase{"notes.mp3", [] { return std::string(40, 'x') + "\nThis is a text file, not audio.\n"; },
                     "notes.mp3 holds no audio that can be decoded (not an audio file, or damaged)",
                     "Failed to read frame size"},
        NotAudioCase{"noise.flac", [] { return randomBytes(20000); },
                     "noise.flac holds no audio that can be decoded (not an audio file, or damaged)", ""},
        NotAudioCase{"noise.wav", [] { return std::string("this is not audio at all"); },
                     "noise.wav holds no audio that can be decoded (not an audio file, or damaged)", ""},
        NotAudioCase{"cut30_ep_default.m4a", m4aCutBeforeItsIndex,
                     "cut30_ep_default.m4a holds no audio that can be decoded (the file was cut short before its "
                     "index was written)",
                     "moov atom not found"}),
    [](const ::testing::TestParamInfo<NotAudioCase>& info) { return std::to_string(info.index); });

class CutShort : public ::testing::TestWithParam<std::tuple<std::string, std::vector<std::string>>> {};

// A compressed file cut to 30 % of its bytes keeps the length its header
// gives; the reader says once how much is missing and reads the rest. The
// whole file says nothing.
TEST_P(CutShort, SaysOnceHowMuchOfTheStatedLengthIsMissing) {
    const auto& [name, codec] = GetParam();
    TempDir dir;
    makeAudio(dir / ("whole_" + name), "sine=frequency=440:sample_rate=44100:duration=20", codec);
    const std::string bytes = core::readFile(dir / ("whole_" + name));
    core::writeFileAtomically(dir / name, bytes.substr(0, bytes.size() * 3 / 10));

    std::vector<std::string> told;
    const audio::ReadWarnings warnings([&](const std::string& line) { told.push_back(line); });
    EXPECT_NEAR(readAll(dir / ("whole_" + name)).frames / 44100.0, 20.0, 0.1);
    EXPECT_TRUE(told.empty()) << told.front();
    const Read cut = readAll(dir / name);
    readAll(dir / name, 16000.0, 1); // read again, at another rate: no second line
    const double decoded = static_cast<double>(cut.frames) / 44100.0;
    EXPECT_GT(decoded, 4.0);
    EXPECT_LT(decoded, 8.0);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], fmt::format("{}: the audio ends {:.1f} s before its stated length (20.0 s); the rest is read.",
                                   name, cut.format.durationSeconds - decoded))
        << told[0];
}

INSTANTIATE_TEST_SUITE_P(
    PCMStream, CutShort,
    ::testing::Values(std::make_tuple(std::string("cut.mp3"), std::vector<std::string>{"-c:a", "libmp3lame", "-b:a", "128k"}),
                      // The sample table first, as streaming writers put it.
                      std::make_tuple(std::string("cut.m4a"),
                                      std::vector<std::string>{"-c:a", "aac", "-movflags", "+faststart"})),
    [](const ::testing::TestParamInfo<CutShort::ParamType>& info) { return std::to_string(info.index); });

TEST(PCMStream, PlaylistsAreNotFollowed) {
    TempDir dir;
    makeAudio(dir / "inner.wav", "sine=frequency=440:sample_rate=8000:duration=1");
    core::writeFileAtomically(dir / "list.m3u8", "#EXTM3U\n#EXTINF:1,\ninner.wav\n");
    core::writeFileAtomically(dir / "list.txt", "ffconcat version 1.0\nfile 'inner.wav'\n");
    EXPECT_THROW(PCMStream::format(dir / "list.m3u8"), PCMStream::StreamError);
    EXPECT_THROW(PCMStream::format(dir / "list.txt"), PCMStream::StreamError);
}

TEST(PCMStream, StereoAt48kReadAsMonoAt16kHasExactLengthAndLevel) {
    TempDir dir;
    const auto file = dir / "stereo.wav";
    makeAudio(file, "aevalsrc=0.125*sin(2*PI*1000*t)|0.125*sin(2*PI*1000*t):s=48000:d=3");
    ASSERT_EQ(PCMStream::format(file).channels, 2);
    const Read r = readAll(file, 16000, 1);
    EXPECT_EQ(r.format.sampleRate, 16000);
    EXPECT_EQ(r.format.channels, 1);
    EXPECT_NEAR(r.format.durationSeconds, 3.0, 1e-6);
    EXPECT_EQ(r.frames, 48000u);
    EXPECT_NEAR(rmsDB(r.samples), -21.07, 0.05);   // mean of two equal channels keeps the level
}

TEST(PCMStream, ResampledFrameCountsAreExact) {
    TempDir dir;
    const auto file = dir / "one.wav";
    makeAudio(file, "sine=frequency=300:sample_rate=44100:duration=1");
    EXPECT_EQ(readAll(file, 16000).frames, 16000u);
    EXPECT_EQ(readAll(file, 48000).frames, 48000u);
    EXPECT_EQ(readAll(file, 22050).frames, 22050u);
}

TEST(PCMStream, MonoToStereoCopiesAndStereoToMonoAverages) {
    TempDir dir;
    const auto mono = dir / "mono.wav";
    makeAudio(mono, "sine=frequency=200:sample_rate=8000:duration=0.5");
    const Read plain = readAll(mono);
    const Read stereo = readAll(mono, std::nullopt, 2);
    ASSERT_EQ(stereo.frames, plain.frames);
    for (std::size_t f = 0; f < plain.frames; ++f) {
        ASSERT_EQ(stereo.samples[2 * f], plain.samples[f]);
        ASSERT_EQ(stereo.samples[2 * f + 1], plain.samples[f]);
    }
    const auto lr = dir / "lr.wav";
    {
        audio::WAVWriter w(lr, 8000, 2, 16);
        const std::vector<float> frames = {0.5f, 0.25f, -0.5f, 0.0f, 0.125f, 0.125f};
        w.write(frames, 3);
        w.close();
    }
    const Read down = readAll(lr, std::nullopt, 1);
    EXPECT_EQ(down.samples, (std::vector<float>{0.375f, -0.25f, 0.125f}));
}

TEST(PCMStream, FiveOneIsDescribedAsStereo) {
    TempDir dir;
    const auto file = dir / "surround.wav";
    makeAudio(file, "sine=frequency=440:sample_rate=48000:duration=1", {"-ac", "6"});
    EXPECT_EQ(PCMStream::format(file).channels, 2);
    const Read r = readAll(file);
    EXPECT_EQ(r.format.channels, 2);
    EXPECT_EQ(r.frames, 48000u);
}

TEST(PCMStream, MaxDurationTrimsToTheFrameAndKeepsTheFullDuration) {
    TempDir dir;
    const auto file = dir / "long.flac";
    makeAudio(file, "sine=frequency=440:sample_rate=44100:duration=40");
    const Read r = readAll(file, std::nullopt, std::nullopt, 30.0);
    EXPECT_EQ(r.frames, 30u * 44100u);
    EXPECT_NEAR(r.format.durationSeconds, 40.0, 0.01);
    EXPECT_EQ(readAll(file, 16000, std::nullopt, 1.25).frames, 20000u);
    EXPECT_EQ(readAll(file, std::nullopt, std::nullopt, 100.0).frames, 40u * 44100u);
}

TEST(PCMStream, ChunkFailureStopsTheRead) {
    TempDir dir;
    const auto file = dir / "a.wav";
    makeAudio(file, "sine=frequency=440:sample_rate=44100:duration=2");
    int calls = 0;
    EXPECT_THROW(PCMStream::read(file, std::nullopt, std::nullopt, std::nullopt,
                                 [&](std::span<const float>, std::size_t) {
                                     ++calls;
                                     throw std::runtime_error("stop");
                                 }),
                 std::runtime_error);
    EXPECT_EQ(calls, 1);
}

TEST(PCMStream, TwentyFourBitWavRoundTripsBitExactly) {
    TempDir dir;
    const auto source = dir / "source.wav";
    makeAudio(source, "anoisesrc=color=pink:sample_rate=48000:amplitude=0.5:duration=2", {"-ac", "2", "-c:a", "pcm_s24le"});
    const auto copy = dir / "copy.wav";
    {
        audio::WAVWriter w(copy, 48000, 2, 24);
        PCMStream::read(source, std::nullopt, std::nullopt, std::nullopt,
                        [&](std::span<const float> s, std::size_t frames) { w.write(s, frames); });
        w.close();
    }
    // Same PCM payload: compare the decoded integers through ffmpeg's md5.
    auto md5 = [](const std::filesystem::path& f) {
        return testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-i", f.string(), "-map", "0:a",
                                     "-c:a", "pcm_s24le", "-f", "md5", "-"})
            .output;
    };
    EXPECT_EQ(md5(source), md5(copy));
    EXPECT_EQ(readAll(source).samples, readAll(copy).samples);
}

TEST(PCMStream, NonFiniteSamplesBecomeZero) {
    TempDir dir;
    const auto file = dir / "nan.wav";
    // A float WAV with NaN and infinity written by hand.
    std::string bytes = "RIFF";
    auto le = [&](std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i) bytes.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const std::vector<float> samples = {0.5f, NAN, INFINITY, -0.25f};
    le(36 + 16, 4);
    bytes += "WAVEfmt ";
    le(16, 4), le(3, 2), le(1, 2), le(8000, 4), le(32000, 4), le(4, 2), le(32, 2);
    bytes += "data";
    le(16, 4);
    bytes.append(reinterpret_cast<const char*>(samples.data()), 16);
    core::writeFileAtomically(file, bytes);
    EXPECT_EQ(readAll(file).samples, (std::vector<float>{0.5f, 0.0f, 0.0f, -0.25f}));
}

} // namespace

namespace {

TEST(PCMStream, RateChangeMidStreamRebuildsTheResampler) {
    // Two chained Ogg streams, the second at half the rate of the first.
    TempDir dir;
    makeAudio(dir / "a.ogg", "sine=frequency=440:sample_rate=44100:duration=1", {"-c:a", "flac"});
    makeAudio(dir / "b.ogg", "sine=frequency=440:sample_rate=22050:duration=1", {"-c:a", "flac"});
    const std::string joined = core::readFile(dir / "a.ogg") + core::readFile(dir / "b.ogg");
    core::writeFileAtomically(dir / "ab.ogg", joined);
    const Read r = readAll(dir / "ab.ogg");
    EXPECT_EQ(r.format.sampleRate, 44100);
    EXPECT_EQ(r.frames, 88200u);
    // Both halves keep the tone's level.
    const std::vector<float> second(r.samples.begin() + 44100 + 2000, r.samples.end() - 2000);
    EXPECT_NEAR(rmsDB(second), -21.07, 0.1);
}

} // namespace
