// The planner's prediction against real runs of each edition's preset: the
// files a batch writes are exactly the predicted ones (with the differences
// listed in PlannerCrossCheck.h), and the predicted skips are the run's.

#include <gtest/gtest.h>

#include "../PlannerFixtures.h"
#include "PlannerCrossCheck.h"
#include "presets/QuorvelPreset.h"
#include "support/TestSupport.h"

namespace {

using presets::OutputPlanner;
using namespace plannertest;

TEST(PlannerCrossCheck, PodcastBatchWritesThePredictedPackage) {
    testsupport::TempDir dir;
    testsupport::makeAudio(dir / "first_take.wav", "sine=frequency=440:sample_rate=48000:duration=3");
    testsupport::makeAudio(dir / "second.flac", "sine=frequency=660:sample_rate=44100:duration=3");
    auto preset = std::make_shared<presets::QuorvelPreset>();
    preset->episodeNumber = 7;
    preset->generateTranscripts = false;
    preset->captionAudiogram = false;
    preset->generateWhisperReference = true;
    preset->audiogramSeconds = 2;
    preset->chapterMode = presets::ChapterMode::manual;
    preset->chapterList = "0:00 Welcome\n0:01 Music";
    preset->outroURL = dir / "missing_outro.wav";
    const auto items = itemsOf({dir / "first_take.wav", dir / "second.flac"});
    auto configuration = configurationFor(dir / "out", preset->defaultNamingPattern());
    configuration.maxConcurrentTasks = 2;

    const auto reports = OutputPlanner::plan(*preset, items, configuration, true);
    ASSERT_EQ(reports[1].projectedFileNames.front(), "Brindlemoor Podcast_08_second_Master_-16LUFS.wav");
    EXPECT_EQ(reports[0].warnings.back(), "Outro music not found: missing_outro.wav");

    const auto statuses = runBatch(preset, items, configuration);
    EXPECT_TRUE(sameSkips(reports, statuses));
    EXPECT_TRUE(sameAsPredicted(reports, dir / "out"));

    // Planned again, every name is now on disk.
    const auto again = OutputPlanner::plan(*preset, items, configuration, true);
    EXPECT_EQ(again[0].warnings.back(),
              again[0].projectedFileNames.back() + " already exists and will be replaced");
}

} // namespace
