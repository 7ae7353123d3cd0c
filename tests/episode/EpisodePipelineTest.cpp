#include <gtest/gtest.h>

#include "core/Error.h"
#include "episode/AudioVideoPipeline.h"
#include "episode/EpisodePipeline.h"

TEST(EpisodePipeline, MasterSuffix) {
    EXPECT_EQ(episode::masterSuffix({-16, -1, 11, false}), "_Master_-16LUFS.wav");
    EXPECT_EQ(episode::masterSuffix({-23, -1, 11, false}), "_Master_-23LUFS.wav");
    EXPECT_EQ(episode::masterSuffix({-19.4, -1, 11, false}), "_Master_-19LUFS.wav");
    EXPECT_EQ(episode::masterSuffix({-16, -1, 11, true}), "_Master_ACX.wav");
    EXPECT_EQ(episode::EpisodePipeline::masterSuffix({-14, -1, 11, false}), "_Master_-14LUFS.wav");
}

TEST(EpisodePipeline, OutputSuffixes) {
    EXPECT_EQ(episode::kRSSMP3Suffix, "_RSS_192k.mp3");
    EXPECT_EQ(episode::kRSSAACSuffix, "_RSS.m4a");
    EXPECT_EQ(episode::kACXCheckSuffix, "_ACX_Check.txt");
    EXPECT_EQ(episode::kWhisperReferenceSuffix, "_WhisperRef_16k.wav");
    EXPECT_EQ(episode::kChaptersJSONSuffix, "_Chapters.json");
    EXPECT_EQ(episode::kAudiogramSuffix, "_Audiogram.mp4");
}

namespace {
class CountingPipeline : public episode::EpisodePipeline {
public:
    std::vector<std::filesystem::path> processMultiFormat(const episode::MultiFormatExportRequest& r, Progress,
                                                          Log) const override {
        return {r.destinationDirectory / r.baseFileName};
    }
    bool producesMP3() const override { return true; }
};
} // namespace

TEST(EpisodePipeline, TheSharedPipelineIsTheRealOneByDefault) {
    // ctest runs every test in a process of its own, so nothing has been
    // registered yet here.
    EXPECT_EQ(episode::sharedEpisodePipelinePointer(), episode::AudioVideoPipeline::sharedPointer());
}

TEST(EpisodePipeline, SharedPipelineCanBeReplacedAndReferencesStayValid) {
    episode::EpisodePipeline& before = episode::sharedEpisodePipeline();
    auto mine = std::make_shared<CountingPipeline>();
    episode::setSharedEpisodePipeline(mine);
    EXPECT_EQ(&episode::sharedEpisodePipeline(), mine.get());
    EXPECT_TRUE(episode::sharedEpisodePipeline().producesMP3());
    // The earlier pipeline is still alive behind the old reference.
    (void)before.producesMP3();
    episode::setSharedEpisodePipeline(nullptr); // ignored
    EXPECT_EQ(episode::sharedEpisodePipelinePointer(), mine);
}
