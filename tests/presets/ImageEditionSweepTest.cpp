// The photo and texture editions' start-up sweep: a run killed while an item
// writes leaves its work folder and a temporary file in the output folder;
// the next start removes both and leaves a live run's alone.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "HalvanePhotos.h"
#include "ZentrixFixtures.h"
#include "batch/BatchItem.h"
#include "core/Files.h"
#include "core/WorkArea.h"
#include "presets/HalvanePreset.h"
#include "presets/ZentrixPreset.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;

struct EditionCase {
    const char* name;
    std::string_view prefix;
    std::function<std::unique_ptr<batch::BatchPreset>()> preset;
    std::function<core::SweepResult()> sweep;
    const char* source;
    std::function<void(const fs::path&)> writeSource;
    // Where the item's files go under the output folder.
    std::function<fs::path(const fs::path&)> setFolder;
};

void PrintTo(const EditionCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

class ImageEditionSweep : public ::testing::TestWithParam<EditionCase> {};

TEST_P(ImageEditionSweep, RemovesAKilledItemsLeftoversAndKeepsALiveRunsFiles) {
    const auto& c = GetParam();
    testsupport::TempDir tmp, dir;
    const fs::path source = dir / c.source;
    c.writeSource(source);
    const fs::path out = dir / "out";
    const auto preset = c.preset();
    const fs::path setFolder = c.setFolder(out);
    const testsupport::ScopedTmpDir own(tmp.path());

    // The item is killed while it writes into its output folder.
    const bool killed = testsupport::killedMidway([&](const std::function<void()>& killNow) {
        batch::ProcessingContext context;
        context.configuration.outputDirectory = out;
        context.configuration.namingPattern = preset->defaultNamingPattern();
        context.onProgressUpdate = [&](double, std::optional<std::string>) {
            core::createFolders(setFolder);
            auto* part = new core::AtomicFile(setFolder / "dead.png");
            std::ofstream(part->tempPath()) << "partial";
            killNow();
        };
        try {
            preset->process(batch::BatchItem(core::Uuid::random(), source), context);
        } catch (...) {
        }
    });
    ASSERT_TRUE(killed) << "the item never got to write";
    ASSERT_EQ(names(tmp.path()).size(), 1u); // the killed item's work folder
    ASSERT_EQ(names(setFolder).size(), 1u);  // and its temporary file

    // A second instance is writing into the same folder right now.
    core::LockedWorkFolder live(c.prefix);
    live.noteOutputFolder(setFolder);
    core::AtomicFile livePart(setFolder / "live.png");
    std::ofstream(setFolder / "kept.png") << "a finished file";

    const core::SweepResult swept = c.sweep();
    EXPECT_EQ(swept.removedFolders.size(), 1u);
    EXPECT_EQ(swept.removedFiles.size(), 1u);
    EXPECT_EQ(names(tmp.path()), std::vector<std::string>{live.path().filename().string()});
    EXPECT_EQ(names(setFolder), (std::vector<std::string>{livePart.tempPath().filename().string(), "kept.png"}));
}

// The work folder is bookkeeping for the sweep: a temporary folder that
// can't be written costs only that, with one log line.
TEST_P(ImageEditionSweep, AnItemStillCompletesWhenTheTemporaryFolderCannotBeWritten) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    const fs::path source = dir / c.source;
    c.writeSource(source);
    const fs::path out = dir / "out";
    core::createFolders(out);
    const auto preset = c.preset();
    const testsupport::ScopedTmpDir unwritable("/proc/self");

    batch::ProcessingContext context;
    context.configuration.outputDirectory = out;
    context.configuration.namingPattern = preset->defaultNamingPattern();
    std::vector<std::string> lines;
    context.log = [&](std::string line) { lines.push_back(std::move(line)); };
    const auto written = preset->process(batch::BatchItem(core::Uuid::random(), source), context);
    ASSERT_FALSE(written.empty());
    for (const auto& file : written) EXPECT_TRUE(fs::is_regular_file(file)) << file;
    const auto said = std::count_if(lines.begin(), lines.end(), [&](const std::string& line) {
        return line.find("won't be swept") != std::string::npos && line.find("/proc/self/") != std::string::npos;
    });
    EXPECT_EQ(said, 1) << ::testing::PrintToString(lines);
    EXPECT_TRUE(c.sweep().removedFolders.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Editions, ImageEditionSweep,
    ::testing::Values(
        EditionCase{"Halvane", presets::HalvanePreset::kWorkFolderPrefix,
                    [] { return std::make_unique<presets::HalvanePreset>(); }, &presets::HalvanePreset::sweepLeftovers,
                    "Living.jpg", [](const fs::path& p) { halvanetest::writeJpeg(p, halvanetest::photoPixels(320, 240)); },
                    [](const fs::path& out) {
                        return out / presets::HalvanePreset().folderName(presets::HalvanePreset::OutputSet::print);
                    }},
        EditionCase{"Zentrix", presets::ZentrixPreset::kWorkFolderPrefix,
                    [] {
                        auto p = std::make_unique<presets::ZentrixPreset>();
                        p->operationalMode = presets::OperationalMode::channelPackingORM;
                        return p;
                    },
                    &presets::ZentrixPreset::sweepLeftovers, "Rock_AO.png",
                    [](const fs::path& p) { zentrixtest::writeGray(p, 32, 32, 200); },
                    [](const fs::path& out) { return out; }}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
