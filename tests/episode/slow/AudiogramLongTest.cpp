#include <gtest/gtest.h>

#include "../MediaProbe.h"
#include "episode/AudiogramGenerator.h"
#include "support/TestSupport.h"

namespace {

using episode::AudiogramGenerator;

TEST(AudiogramLong, ThirtySecondsAtThirtyFramesPerSecond) {
    testsupport::TempDir dir;
    // 40 s of speech-like noise and a cover picture, cut to 30 s.
    testsupport::makeAudio(dir / "episode.wav", "anoisesrc=color=pink:sample_rate=48000:duration=40,tremolo=f=3:d=0.8",
                           {"-ac", "2"});
    testsupport::runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                          "testsrc2=s=800x600", "-frames:v", "1", (dir / "cover.jpg").string()});
    std::vector<episode::CaptionWord> words;
    for (int i = 0; i < 60; ++i) words.push_back({i % 5 == 4 ? "end." : "word", i * 0.5, i * 0.5 + 0.4});
    const AudiogramGenerator::AudiogramConfig config(AudiogramGenerator::AspectRatio::square, 30.0, "#3B82F6",
                                                     dir / "cover.jpg", 30, words, std::string("Long Show"));
    AudiogramGenerator().generate(dir / "episode.wav", dir / "audiogram.mp4", config);

    const auto info = mediaprobe::probe(dir / "audiogram.mp4", {"-count_frames"});
    const auto* video = mediaprobe::streamOf(info, "video");
    const auto* audio = mediaprobe::streamOf(info, "audio");
    ASSERT_TRUE(video && audio);
    EXPECT_EQ((*video)["codec_name"], "h264");
    EXPECT_EQ((*video)["width"], 1080);
    EXPECT_EQ((*video)["height"], 1080);
    EXPECT_EQ((*video)["nb_read_frames"], "900");
    EXPECT_EQ((*audio)["codec_name"], "aac");
    EXPECT_NEAR(mediaprobe::number((*audio)["duration"]), 30.0, 0.03);
    EXPECT_NEAR(mediaprobe::number((*video)["duration"]), 30.0, 0.001);
}

} // namespace
