#include <gtest/gtest.h>

#include <cmath>

#include "audio/LoudnessNormalizer.h"
#include "audio/PCMStream.h"
#include "core/Numbers.h"
#include "support/TestSupport.h"

using audio::LoudnessNormalizer;
using audio::TimeRange;

namespace {

struct Samples {
    audio::PCMStream::Format format;
    std::vector<float> data;
};

Samples readAll(const std::filesystem::path& file)
{
    Samples s;
    s.format = audio::PCMStream::read(file, std::nullopt, std::nullopt, std::nullopt,
                                      [&](std::span<const float> x, std::size_t) { s.data.insert(s.data.end(), x.begin(), x.end()); });
    return s;
}

std::string codecOf(const std::filesystem::path& file)
{
    return testsupport::runTool({"ffprobe", "-v", "error", "-show_entries", "stream=codec_name", "-of", "csv=p=0",
                                 file.string()})
        .output;
}

// A 1 s 8 kHz mono ramp of small steps, exact in 16 and 24 bits.
void makeRamp(const std::filesystem::path& file, double seconds = 1)
{
    testsupport::makeAudio(file, "aevalsrc='0.25+0.5*mod(n\\,100)/100':s=8000:d=" + core::formatShortest(seconds));
}

} // namespace

TEST(AudioEditing, CutWithoutRangesCopiesEveryFrame)
{
    testsupport::TempDir dir;
    makeRamp(dir / "in.wav");
    LoudnessNormalizer().cut(dir / "in.wav", dir / "out.wav", {});
    const auto in = readAll(dir / "in.wav");
    const auto out = readAll(dir / "out.wav");
    EXPECT_EQ(out.data, in.data);
    EXPECT_EQ(codecOf(dir / "out.wav"), "pcm_s24le\n");
}

TEST(AudioEditing, CutFromTheStartBeginsWithTheFadeIn)
{
    testsupport::TempDir dir;
    makeRamp(dir / "in.wav");
    // Unsorted and overlapping on purpose: they are merged before use.
    LoudnessNormalizer().cut(dir / "in.wav", dir / "out.wav", {{0.5, 0.6}, {0, 0.1}, {0.55, 0.7}});
    const auto in = readAll(dir / "in.wav");
    const auto out = readAll(dir / "out.wav");
    ASSERT_EQ(out.data.size(), 8000u - 800u - 1600u);
    const int fade = 48;   // 6 ms at 8 kHz
    EXPECT_NEAR(out.data[0], in.data[800] * (1.0f / fade), 1e-6);
    EXPECT_NEAR(out.data[47], in.data[847], 1e-6);
    // Fade-out before the cut at 0.5 s, fade-in after it ends at 0.7 s.
    EXPECT_NEAR(out.data[3199], in.data[3999] * (1.0f / fade), 1e-6);
    EXPECT_NEAR(out.data[3200], in.data[5600] * (1.0f / fade), 1e-6);
}

TEST(AudioEditing, ExcerptFadesAndStopsAtTheEnd)
{
    testsupport::TempDir dir;
    makeRamp(dir / "in.wav");
    const LoudnessNormalizer n;
    const auto in = readAll(dir / "in.wav");

    n.excerpt(dir / "in.wav", dir / "mid.wav", 0.25, 0.5);
    auto out = readAll(dir / "mid.wav");
    ASSERT_EQ(out.data.size(), 4000u);
    const int fade = 160;   // 20 ms at 8 kHz
    EXPECT_NEAR(out.data[0], in.data[2000] / fade, 1e-6);
    EXPECT_NEAR(out.data[200], in.data[2200], 1e-6);
    EXPECT_NEAR(out.data[3999], in.data[5999] / fade, 1e-6);

    n.excerpt(dir / "in.wav", dir / "tail.wav", 0.9, 0.5);
    out = readAll(dir / "tail.wav");
    ASSERT_EQ(out.data.size(), 800u);   // only what exists, no fade-out
    EXPECT_NEAR(out.data[799], in.data[7999], 1e-6);

    n.excerpt(dir / "in.wav", dir / "none.wav", 2, 1);
    EXPECT_TRUE(readAll(dir / "none.wav").data.empty());
}

TEST(AudioEditing, ConcatenateFadesEachFile)
{
    testsupport::TempDir dir;
    makeRamp(dir / "a.wav");
    const LoudnessNormalizer n;
    n.concatenate({dir / "a.wav", dir / "a.wav"}, dir / "out.wav", 8000, 1);
    const auto in = readAll(dir / "a.wav");
    const auto out = readAll(dir / "out.wav");
    ASSERT_EQ(out.data.size(), 16000u);
    const int fade = 120;   // 15 ms at 8 kHz
    EXPECT_EQ(out.data[0], 0.0f);
    EXPECT_NEAR(out.data[1], in.data[1] / fade, 1e-6);
    EXPECT_NEAR(out.data[500], in.data[500], 1e-6);
    EXPECT_NEAR(out.data[7999], in.data[7999] / fade, 1e-6);
    EXPECT_EQ(out.data[8000], 0.0f);
    EXPECT_EQ(out.format.channels, 1);

    n.concatenate({}, dir / "empty.wav", 8000, 1);
    EXPECT_TRUE(readAll(dir / "empty.wav").data.empty());
    EXPECT_EQ(codecOf(dir / "empty.wav"), "pcm_s24le\n");
}

TEST(AudioEditing, LevelsPerStep)
{
    testsupport::TempDir dir;
    testsupport::makeAudio(dir / "in.wav", "aevalsrc='0.5':s=8000:d=1.05");
    const LoudnessNormalizer n;
    const auto levels = n.levels(dir / "in.wav", 0.1);
    ASSERT_EQ(levels.size(), 10u);
    EXPECT_NEAR(levels[3], 0.5f, 1e-4);
    EXPECT_TRUE(n.levels(dir / "in.wav", 0.0001).empty());
}

TEST(AudioEditing, SpeechFramesOfSilenceAndTone)
{
    testsupport::TempDir dir;
    testsupport::makeAudio(dir / "silence.wav", "anullsrc=r=16000:cl=mono", {"-t", "1"});
    const LoudnessNormalizer n;
    const auto frames = n.speechFrames(dir / "silence.wav");
    ASSERT_EQ(frames.size(), 50u);
    EXPECT_EQ(frames[7], audio::SpeechFrame(-100, 0));

    // A high tone is brighter than a low one at the same level.
    testsupport::makeAudio(dir / "low.wav", "aevalsrc='0.5*sin(2*PI*200*t)':s=16000:d=1.01");
    testsupport::makeAudio(dir / "high.wav", "aevalsrc='0.5*sin(2*PI*4000*t)':s=16000:d=1.01");
    const auto low = n.speechFrames(dir / "low.wav");
    const auto high = n.speechFrames(dir / "high.wav");
    ASSERT_EQ(low.size(), 50u);   // the last 10 ms make no frame
    EXPECT_NEAR(low[10].levelDB, -9.03f, 0.05f);
    EXPECT_NEAR(high[10].levelDB, -9.03f, 0.05f);
    EXPECT_GT(high[10].brightnessDB, low[10].brightnessDB + 20);
}

TEST(AudioEditing, MissingFileFailsWithTheReaderError)
{
    testsupport::TempDir dir;
    EXPECT_THROW(LoudnessNormalizer().cut(dir / "nope.wav", dir / "out.wav", {}), audio::PCMStream::StreamError);
    EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
}
