// The real-estate preset's runs, with and without bracket merging, against
// the planner's prediction for the same photos.

#include <gtest/gtest.h>

#include "../PlannerFixtures.h"
#include "PlannerCrossCheck.h"
#include "presets/HalvanePreset.h"
#include "support/TestSupport.h"

namespace {

using presets::OutputPlanner;
using namespace plannertest;

// Three exposures of one bracket (A, B, C, a second apart, one stop apart)
// and a lone photo D taken a minute later.
std::vector<fs::path> writePhotos(const fs::path& folder) {
    const char* names[] = {"A.jpg", "B.jpg", "C.jpg", "D.jpg"};
    const char* times[] = {"00", "01", "02", "59"};
    const char* exposures[] = {"0.01", "0.02", "0.04", "0.01"};
    std::vector<fs::path> files;
    for (int i = 0; i < 4; ++i) {
        files.push_back(folder / names[i]);
        writeJpeg(files.back(), 320, 240, 0.6 + 0.3 * (i % 3));
        testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-n",
                              std::string("-EXIF:DateTimeOriginal=2024:05:06 10:00:") + times[i],
                              std::string("-EXIF:ExposureTime=") + exposures[i], "-EXIF:FNumber=8", "-EXIF:ISO=100",
                              files.back().string()});
    }
    return files;
}

class PhotoCrossCheck : public ::testing::TestWithParam<bool> {};

TEST_P(PhotoCrossCheck, RunWritesThePredictedSets) {
    testsupport::TempDir dir;
    const auto files = writePhotos(dir / "in");
    auto preset = std::make_shared<presets::HalvanePreset>();
    preset->mergeBrackets = GetParam();
    preset->autoStraightenVerticals = false;
    preset->setPortal(presets::Portal::zillow);
    // B leads the bracket when A is not queued.
    const auto items = itemsOf({files[1], files[2], files[3]});
    auto configuration = configurationFor(dir / "out", preset->defaultNamingPattern());
    configuration.maxConcurrentTasks = 3;

    const auto reports = OutputPlanner::plan(*preset, items, configuration, true);
    if (GetParam()) {
        EXPECT_EQ(reports[0].warnings, std::vector<std::string>{"Merges 3 exposures into one photo"});
        EXPECT_EQ(reports[1].warnings, std::vector<std::string>{"Skipped: merged into B.jpg's bracket"});
    }
    const auto statuses = runBatch(preset, items, configuration);
    EXPECT_TRUE(sameSkips(reports, statuses));
    EXPECT_TRUE(sameAsPredicted(reports, dir / "out"));
    EXPECT_FALSE(OutputPlanner::hasCollisions(reports));
}

INSTANTIATE_TEST_SUITE_P(Brackets, PhotoCrossCheck, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "merged" : "single"; });

} // namespace
