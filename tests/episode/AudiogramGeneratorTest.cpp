#include "episode/AudiogramGenerator.h"

#include <fstream>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "MediaProbe.h"
#include "audio/PCMStream.h"
#include "support/TestSupport.h"

namespace {

using episode::AudiogramGenerator;
using episode::CaptionWord;
using Config = AudiogramGenerator::AudiogramConfig;
using Error = AudiogramGenerator::AudiogramError;
namespace fs = std::filesystem;

Config config(std::optional<double> maxSeconds = std::nullopt, int fps = 30, std::vector<CaptionWord> words = {},
              AudiogramGenerator::AspectRatio shape = AudiogramGenerator::AspectRatio::square) {
    return Config(shape, maxSeconds, "#3B82F6", std::nullopt, fps, std::move(words), std::string("Show"));
}

void tone(const fs::path& out, double seconds) {
    testsupport::makeAudio(out, "sine=frequency=300:sample_rate=48000:duration=" + core::formatShortest(seconds),
                           {"-ac", "2"});
}

std::vector<std::string> names(const fs::path& dir) {
    std::vector<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(AudiogramEnvelope, NormalisesBySquareRootOfThePeak) {
    EXPECT_EQ(AudiogramGenerator::normalizeEnvelope({0.0f, 0.25f, 1.0f, 0.04f}),
              (std::vector<float>{0.0f, 0.5f, 1.0f, 0.2f}));
    EXPECT_EQ(AudiogramGenerator::normalizeEnvelope({0.0f, 0.0f}), (std::vector<float>{0.0f, 0.0f}));
    EXPECT_TRUE(AudiogramGenerator::normalizeEnvelope({}).empty());
    const auto quiet = AudiogramGenerator::normalizeEnvelope({0.00001f, 0.00004f}); // below the 0.0001 floor
    EXPECT_NEAR(quiet[1], 0.632456, 1e-5);
}

struct BlockCase {
    int fps;
    std::size_t blocks; // complete blocks of 16000 / fps samples in one second
};
void PrintTo(const BlockCase& c, std::ostream* os) { *os << fmt::format("fps{}", c.fps); }

class AudiogramBlocks : public testing::TestWithParam<BlockCase> {};

TEST_P(AudiogramBlocks, OneValuePerCompleteBlock) {
    testsupport::TempDir dir;
    tone(dir / "a.wav", 1.0);
    const auto env = AudiogramGenerator::levelEnvelope(dir / "a.wav", GetParam().fps, 1.0);
    ASSERT_EQ(env.size(), GetParam().blocks);
    if (GetParam().fps > 100) return; // single-sample blocks follow the waveform
    for (float v : env) EXPECT_NEAR(v, 1.0f, 0.02f); // a steady tone is at its peak everywhere
}

INSTANTIATE_TEST_SUITE_P(Rates, AudiogramBlocks,
                         testing::Values(BlockCase{30, 30}, BlockCase{7, 7}, BlockCase{1, 1}, BlockCase{24, 24},
                                         BlockCase{16000, 16000}));

TEST(AudiogramEnvelope, CaptionCuesOnlyForWordsStartingInTheVideo) {
    const std::vector<CaptionWord> words{{"one", 0.5, 0.8}, {"two", 1.0, 1.99}, {"three", 2.0, 2.4}};
    const auto cues = AudiogramGenerator::captionCues(words, 2.0);
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_EQ(cues[0].text(), "one two");
    EXPECT_TRUE(AudiogramGenerator::captionCues(words, 0.5).empty());
}

class AudiogramFiles : public testing::Test {
protected:
    testsupport::TempDir dir;
    AudiogramGenerator generator;
};

TEST_F(AudiogramFiles, HalfASecondIsTooShort) {
    tone(dir / "short.wav", 0.5);
    tone(dir / "long.wav", 2.0);
    for (const auto& [file, max] : {std::pair{dir / "short.wav", std::optional<double>{}},
                                    std::pair{dir / "long.wav", std::optional<double>{0.5}}}) {
        try {
            generator.generate(file, dir / "out.mp4", config(max));
            FAIL() << "no error";
        } catch (const Error& e) {
            EXPECT_EQ(e.kind(), Error::Kind::audioTooShort);
            EXPECT_STREQ(e.what(), "Audio is too short for an audiogram.");
        }
    }
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"long.wav", "short.wav"}));
}

class AudiogramFrameRate : public AudiogramFiles, public testing::WithParamInterface<int> {};

TEST_P(AudiogramFrameRate, IsRefusedBeforeAnythingIsRead) {
    try {
        generator.generate(dir / "missing.wav", dir / "out.mp4", config(std::nullopt, GetParam()));
        FAIL() << "no error";
    } catch (const Error& e) {
        EXPECT_EQ(e.kind(), Error::Kind::invalidFrameRate);
        EXPECT_NE(std::string(e.what()).find("frame rate"), std::string::npos);
    }
    EXPECT_FALSE(fs::exists(dir / "out.mp4"));
}

INSTANTIATE_TEST_SUITE_P(Rates, AudiogramFrameRate, testing::Values(0, -30, 16001, INT32_MAX));

TEST_F(AudiogramFiles, VideoAndSoundHaveTheSameLength) {
    tone(dir / "a.wav", 3.0);
    generator.generate(dir / "a.wav", dir / "out.mp4", config(1.5, 30, {}, AudiogramGenerator::AspectRatio::vertical));
    const auto info = mediaprobe::probe(dir / "out.mp4", {"-count_frames"});
    const auto* video = mediaprobe::streamOf(info, "video");
    const auto* audio = mediaprobe::streamOf(info, "audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ((*video)["codec_name"], "h264");
    EXPECT_EQ((*video)["pix_fmt"], "yuv420p");
    EXPECT_EQ((*video)["width"], 1080);
    EXPECT_EQ((*video)["height"], 1920);
    EXPECT_EQ((*video)["color_primaries"], "bt709");
    EXPECT_EQ((*video)["color_transfer"], "bt709");
    EXPECT_EQ((*video)["color_space"], "bt709");
    EXPECT_EQ((*video)["nb_read_frames"], "45");
    EXPECT_EQ((*video)["avg_frame_rate"], "30/1");
    EXPECT_EQ((*audio)["codec_name"], "aac");
    EXPECT_EQ((*audio)["sample_rate"], "44100");
    EXPECT_EQ((*audio)["channels"], 2);
    EXPECT_NEAR(mediaprobe::number((*audio)["duration"]), 1.5, 0.03);
    EXPECT_EQ(mediaprobe::tag(info["format"]["tags"], "major_brand"), "isom");
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"a.wav", "out.mp4"}));
}

TEST_F(AudiogramFiles, ShortClipFrameCountFollowsTheEnvelope) {
    tone(dir / "a.wav", 0.6);
    generator.generate(dir / "a.wav", dir / "out.mp4", config(std::nullopt, 10));
    const auto info = mediaprobe::probe(dir / "out.mp4", {"-count_frames"});
    EXPECT_EQ((*mediaprobe::streamOf(info, "video"))["nb_read_frames"], "6");
}

TEST_F(AudiogramFiles, PixelsShowWaveformProgressAndTimedCaptions) {
    // Silence, then a loud tone from 1 s: the bars grow; one caption word at 1.0 to 1.6 s.
    testsupport::makeAudio(dir / "a.wav", "sine=frequency=300:sample_rate=48000:duration=3",
                           {"-af", "volume=enable='lt(t,1)':volume=0", "-ac", "1"});
    const std::vector<CaptionWord> words{{"Hello", 1.0, 1.3}, {"world.", 1.3, 1.6}};
    generator.generate(dir / "a.wav", dir / "out.mp4", config(std::nullopt, 30, words));
    const mediaprobe::RGB blue{0x3B, 0x82, 0xF6}, background{17, 17, 22};
    const double W = 1080, H = 1080;
    auto brightInCaptionBand = [&](const mediaprobe::DecodedFrame& f) {
        int n = 0;
        for (int y = static_cast<int>(0.72 * H); y < static_cast<int>(0.80 * H); ++y)
            for (int x = 0; x < 1080; ++x)
                if (f.at(x, y).r > 150 && f.at(x, y).g > 150) ++n;
        return n;
    };
    const mediaprobe::DecodedFrame quiet(dir / "out.mp4", 0.5 + 1 / 60.0, dir / "quiet.png");
    const mediaprobe::DecodedFrame speaking(dir / "out.mp4", 1.8 + 1 / 60.0, dir / "speaking.png");
    const mediaprobe::DecodedFrame after(dir / "out.mp4", 2.5 + 1 / 60.0, dir / "after.png");
    ASSERT_TRUE(quiet.ok() && speaking.ok() && after.ok());
    EXPECT_EQ(quiet.width(), 1080);
    // The middle bar at the captions' centre line (56 % from the bottom).
    EXPECT_TRUE(mediaprobe::near(quiet.at(540, static_cast<int>(0.44 * H)), blue, 30));
    EXPECT_TRUE(mediaprobe::near(quiet.at(540, static_cast<int>(0.44 * H - 0.10 * H)), background, 12));
    EXPECT_TRUE(mediaprobe::near(speaking.at(540, static_cast<int>(0.44 * H - 0.10 * H)), blue, 30));
    // Progress: the fill's start, and the unfilled track near the end early on.
    EXPECT_TRUE(mediaprobe::near(quiet.at(static_cast<int>(0.07 * W + 10), static_cast<int>(0.92 * H - 3)), blue, 40));
    EXPECT_TRUE(mediaprobe::near(quiet.at(static_cast<int>(0.90 * W), static_cast<int>(0.92 * H - 3)),
                                 mediaprobe::RGB{60, 60, 64}, 20));
    EXPECT_TRUE(mediaprobe::near(after.at(static_cast<int>(0.75 * W), static_cast<int>(0.92 * H - 3)), blue, 40));
    // Captions only while their words are on.
    EXPECT_EQ(brightInCaptionBand(quiet), 0);
    EXPECT_GT(brightInCaptionBand(speaking), 300);
    EXPECT_EQ(brightInCaptionBand(after), 0);
}

TEST_F(AudiogramFiles, ExistingFileIsReplacedFolderIsNot) {
    tone(dir / "a.wav", 1.0);
    std::ofstream(dir / "out.mp4") << "old";
    generator.generate(dir / "a.wav", dir / "out.mp4", config());
    EXPECT_EQ((*mediaprobe::streamOf(mediaprobe::probe(dir / "out.mp4"), "video"))["codec_name"], "h264");
    fs::create_directories(dir / "folder.mp4/keep");
    EXPECT_THROW(generator.generate(dir / "a.wav", dir / "folder.mp4", config()), core::Error);
    EXPECT_TRUE(fs::is_directory(dir / "folder.mp4/keep"));
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{"a.wav", "folder.mp4", "out.mp4"}));
}

TEST_F(AudiogramFiles, FileWithoutSoundIsNoAudioTrack) {
    testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                          "testsrc=s=64x64:d=2", (dir / "silent.mp4").string()});
    try {
        generator.generate(dir / "silent.mp4", dir / "out.mp4", config());
        FAIL() << "no error";
    } catch (const audio::PCMStream::StreamError& e) {
        EXPECT_EQ(e.kind(), audio::PCMStream::StreamError::Kind::noAudioTrack);
        EXPECT_STREQ(e.what(), "silent.mp4 has no audio track.");
    }
    EXPECT_FALSE(fs::exists(dir / "out.mp4"));
}

TEST(AudiogramErrors, Texts) {
    EXPECT_STREQ(Error::writerSetupFailed().what(), "Could not set up the audiogram video writer.");
    EXPECT_STREQ(Error::invalidFrameRate(0).what(),
                 "The audiogram frame rate must be between 1 and 16000 frames per second, not 0.");
}

} // namespace
