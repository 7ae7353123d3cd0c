// Within one run no item replaces a file that another item of the run wrote:
// items of each edition that resolve to one output name, run at once through
// the real queue. One completes; every other fails naming the file and the
// item that wrote it; what is on disk comes whole from the item that
// completed, and a file that was there before the run is replaced.

#include <chrono>
#include <cmath>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>

#include <fmt/format.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "HalvanePhotos.h"
#include "ZentrixFixtures.h"
#include "audio/PCMStream.h"
#include "batch/BatchQueueManager.h"
#include "presets/HalvanePreset.h"
#include "presets/QuorvelPreset.h"
#include "presets/ZentrixPreset.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using batch::ProcessingStatus;

// One run's final statuses and messages, by item position.
struct ClaimRun {
    std::vector<ProcessingStatus> status;
    std::vector<std::string> message;
    batch::ExecutionReport report;
};

ClaimRun runAtOnce(std::shared_ptr<const batch::BatchPreset> preset, const std::vector<fs::path>& files,
              const fs::path& output, const std::string& pattern) {
    std::vector<batch::BatchItem> items;
    auto position = std::make_shared<std::map<core::Uuid, std::size_t>>();
    for (const auto& f : files) {
        items.emplace_back(core::Uuid::random(), f);
        (*position)[items.back().id] = items.size() - 1;
    }
    const int workers = static_cast<int>(files.size());
    batch::BatchConfiguration configuration(output, true, pattern, false, workers, false, false, {});
    batch::ProcessingJob job(core::Uuid::random(), preset->id(), preset->displayName(), items, configuration);

    auto run = std::make_shared<ClaimRun>();
    run->status.assign(files.size(), ProcessingStatus::pending);
    run->message.assign(files.size(), "");
    auto mutex = std::make_shared<std::mutex>();
    batch::BatchQueueManager manager;
    manager
        .addStatusListener([=](const core::Uuid&, const core::Uuid& item, ProcessingStatus status, double,
                               const std::optional<std::string>& message) {
            std::lock_guard lock(*mutex);
            run->status[position->at(item)] = status;
            if (message) run->message[position->at(item)] = *message;
        })
        .get();
    auto future = manager.submitAndStart(job, std::move(preset));
    EXPECT_EQ(future.wait_for(std::chrono::minutes(5)), std::future_status::ready);
    run->report = future.get();
    manager.activeJobs().get(); // every listener call before this one has run
    std::lock_guard lock(*mutex);
    return *run;
}

// What one edition's case queues and how its outputs show who wrote them.
struct Batch {
    std::shared_ptr<const batch::BatchPreset> preset;
    std::vector<fs::path> files;
    std::string pattern;
};

struct CollisionCase {
    std::string label;
    std::function<Batch(const fs::path& dir)> make;
    std::string claimedFile; // as the failures name it, relative to the output folder
    // Checks that what is on disk is the work of item `winner` alone.
    std::function<void(const fs::path& output, std::size_t winner)> writtenBy;
    // What the failures say after naming the item: the advice on the pattern.
    std::string advice;
};

void PrintTo(const CollisionCase& c, std::ostream* os) { *os << c.label; }

// Eight photos of different widths, each written under one address.
Batch photos(const fs::path& dir) {
    Batch b;
    for (int i = 0; i < 8; ++i) {
        b.files.push_back(dir / fmt::format("p24_{:02}.jpg", i + 1));
        halvanetest::writeJpeg(b.files.back(), halvanetest::photoPixels(320 + 8 * i, 240, static_cast<unsigned>(i)));
    }
    auto preset = std::make_shared<presets::HalvanePreset>();
    preset->autoStraightenVerticals = false;
    b.preset = preset;
    b.pattern = "{address}_{size}";
    return b;
}

void photosWrittenBy(const fs::path& output, std::size_t winner) {
    const int width = 320 + 8 * static_cast<int>(winner);
    EXPECT_EQ(halvanetest::jpegSize(output / "Print_Package" / "1042_Maple_Lane_Print.jpg"), cv::Size(width, 240));
    EXPECT_EQ(halvanetest::jpegSize(output / "MLS_Web_Package" / "1042_Maple_Lane_Web.jpg"), cv::Size(width, 240));
}

// Eight folders with a sequence "run" each: folder k holds k + 1 frames of
// height 16 + k, so a sheet and its data file tell which folder made them.
Batch spriteFolders(const fs::path& dir) {
    Batch b;
    for (int k = 0; k < 8; ++k) {
        const fs::path folder = dir / fmt::format("walk{}", k);
        fs::create_directories(folder);
        for (int f = 1; f <= k + 1; ++f)
            zentrixtest::writeFrame(folder / fmt::format("run_{}.png", f), 16, 16 + k,
                                    static_cast<std::uint8_t>(20 * f + k));
        b.files.push_back(folder / "run_1.png");
    }
    auto preset = std::make_shared<presets::ZentrixPreset>();
    preset->operationalMode = presets::OperationalMode::spriteSheetAtlas;
    b.preset = preset;
    b.pattern = preset->defaultNamingPattern();
    return b;
}

void spritesWrittenBy(const fs::path& output, std::size_t winner) {
    const auto json = nlohmann::json::parse(core::readFile(output / "run_Atlas.json"));
    std::vector<std::string> frames;
    for (const auto& [name, frame] : json["frames"].items()) {
        frames.push_back(name);
        EXPECT_EQ(frame["sourceSize"]["h"], 16 + static_cast<int>(winner)) << name;
    }
    std::vector<std::string> expected;
    for (std::size_t f = 1; f <= winner + 1; ++f) expected.push_back(fmt::format("run_{}.png", f));
    EXPECT_EQ(frames, expected);
    const auto sheet = zentrixtest::sizeOf(output / "run_Atlas.png");
    EXPECT_EQ(json["meta"]["size"]["w"], sheet.width);
    EXPECT_EQ(json["meta"]["size"]["h"], sheet.height);
}

// Two episodes of 2 s and 3 s, each resolved under `pattern`.
Batch episodeBatch(const std::vector<fs::path>& files, const std::string& pattern) {
    Batch b;
    for (std::size_t i = 0; i < files.size(); ++i) {
        fs::create_directories(files[i].parent_path());
        testsupport::makeAudio(files[i], fmt::format("sine=frequency=440:sample_rate=48000:duration={}", 2 + i));
    }
    b.files = files;
    auto preset = std::make_shared<presets::QuorvelPreset>();
    preset->cleanup = audio::CleanupOptions::none();
    preset->generateRSSMaster = false;
    preset->generateTranscripts = false;
    preset->generateAudiogram = false;
    b.preset = preset;
    b.pattern = pattern;
    return b;
}

// Under one show name.
Batch episodes(const fs::path& dir) { return episodeBatch({dir / "take1.wav", dir / "take2.wav"}, "{show}"); }

// The master that episode `winner` alone writes is as long as it.
std::function<void(const fs::path&, std::size_t)> episodeMaster(const std::string& master) {
    return [master](const fs::path& output, std::size_t winner) {
        const double seconds = audio::PCMStream::format(output / master).durationSeconds;
        EXPECT_NEAR(seconds, 2.0 + static_cast<double>(winner), 0.05);
    };
}

// Under their own name, which is the same in two folders.
Batch episodesByName(const fs::path& dir) {
    return episodeBatch({dir / "a" / "episode.wav", dir / "b" / "episode.flac"}, "{name}");
}

class OutputClaims : public ::testing::TestWithParam<CollisionCase> {};

TEST_P(OutputClaims, OneItemWritesANameAndTheOthersFailNamingIt) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    const Batch b = c.make(dir.path());
    // A file from before the run is replaced as usual.
    const fs::path output = dir / "out";
    fs::create_directories((output / c.claimedFile).parent_path());
    core::writeFileAtomically(output / c.claimedFile, "old");

    const ClaimRun run = runAtOnce(b.preset, b.files, output, b.pattern);

    std::vector<std::size_t> completed;
    for (std::size_t i = 0; i < b.files.size(); ++i)
        if (run.status[i] == ProcessingStatus::completed) completed.push_back(i);
    ASSERT_EQ(completed.size(), 1u) << run.message[0];
    const std::size_t winner = completed.front();
    EXPECT_EQ(run.report.successCount, 1);
    EXPECT_EQ(run.report.failureCount, static_cast<int>(b.files.size()) - 1);
    // The item is named under the folder that holds all the items.
    const std::string expected = c.claimedFile + " was already written by " +
                                 b.files[winner].lexically_relative(dir.path()).generic_string() + " in this batch" +
                                 c.advice;
    for (std::size_t i = 0; i < b.files.size(); ++i) {
        if (i == winner) continue;
        EXPECT_EQ(run.status[i], ProcessingStatus::failed) << i;
        EXPECT_EQ(run.message[i], expected) << i;
    }
    EXPECT_NE(core::readFile(output / c.claimedFile), "old");
    c.writtenBy(output, winner);
}

INSTANTIATE_TEST_SUITE_P(
    Editions, OutputClaims,
    ::testing::Values(CollisionCase{"photos", photos, "Print_Package/1042_Maple_Lane_Print.jpg", photosWrittenBy,
                                    "; add {index} or {name} to the naming pattern"},
                      // Sheets are named after their sequence: no pattern would tell them apart.
                      CollisionCase{"sprites", spriteFolders, "run_Atlas.png", spritesWrittenBy, ""},
                      CollisionCase{"episodes", episodes, "Brindlemoor Podcast_Master_-16LUFS.wav",
                                    episodeMaster("Brindlemoor Podcast_Master_-16LUFS.wav"),
                                    "; add {index} or {name} to the naming pattern"},
                      CollisionCase{"episodesByName", episodesByName, "episode_Master_-16LUFS.wav",
                                    episodeMaster("episode_Master_-16LUFS.wav"), "; add {index} to the naming pattern"}),
    [](const auto& info) { return info.param.label; });

} // namespace
