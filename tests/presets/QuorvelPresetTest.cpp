#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <ostream>
#include <thread>

#include <fmt/format.h>

#include "presets/QuorvelPreset.h"

using presets::ChapterMode;
using presets::LoudnessStandard;
using presets::QuorvelPreset;
namespace fs = std::filesystem;

namespace {

// Records every request and answers with one file named after it.
class RecordingPipeline : public episode::EpisodePipeline {
public:
    std::vector<fs::path> processMultiFormat(const episode::MultiFormatExportRequest& request, Progress onProgress,
                                             Log onLog) const override {
        {
            std::lock_guard guard(lock_);
            requests_.push_back(request);
        }
        if (onProgress) onProgress(0.5, "half way");
        if (onLog) onLog("a log line");
        if (failWith_) throw std::runtime_error(*failWith_);
        return {request.destinationDirectory / (request.baseFileName + ".wav"),
                request.destinationDirectory / (request.baseFileName + "_RSS.m4a")};
    }
    bool producesMP3() const override { return false; }

    std::vector<episode::MultiFormatExportRequest> requests() const {
        std::lock_guard guard(lock_);
        return requests_;
    }
    std::optional<std::string> failWith_;

private:
    mutable std::mutex lock_;
    mutable std::vector<episode::MultiFormatExportRequest> requests_;
};

struct EpisodeRun {
    std::shared_ptr<RecordingPipeline> pipeline = std::make_shared<RecordingPipeline>();
    std::vector<std::pair<double, std::optional<std::string>>> progress;
    std::vector<std::string> log;

    batch::ProcessingContext context(int index, int total, const std::string& pattern = "{show}_{ep:02}_{title}") {
        batch::ProcessingContext c;
        c.jobID = core::Uuid::random();
        c.configuration.outputDirectory = "/out/folder";
        c.configuration.namingPattern = pattern;
        c.itemIndex = index;
        c.totalItems = total;
        c.onProgressUpdate = [this](double f, std::optional<std::string> m) { progress.emplace_back(f, m); };
        c.log = [this](std::string line) { log.push_back(std::move(line)); };
        return c;
    }

    std::vector<fs::path> process(QuorvelPreset preset, const std::string& file, int index = 1, int total = 1,
                                  const std::string& pattern = "{show}_{ep:02}_{title}") {
        preset.setPipeline(pipeline);
        batch::BatchItem item(core::Uuid::random(), fs::path("/in") / file);
        return preset.process(item, context(index, total, pattern));
    }
    episode::MultiFormatExportRequest last() const { return pipeline->requests().back(); }
};

int thisYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local.tm_year + 1900;
}

} // namespace

TEST(QuorvelPreset, IdentityAndDefaults) {
    QuorvelPreset p;
    EXPECT_EQ(p.id(), "com.tembrook.quorvel");
    EXPECT_EQ(p.displayName(), "Quorvel");
    EXPECT_EQ(p.verticalName(), "Podcasting & Video Editing");
    EXPECT_EQ(p.systemIconName(), "waveform.badge.mic");
    EXPECT_EQ(p.defaultNamingPattern(), "{show}_{ep:02}_{title}");
    EXPECT_EQ(p.supportedExtensions(),
              (std::set<std::string>{"wav", "aif", "aiff", "mp3", "m4a", "flac", "mov", "mp4", "caf"}));
    EXPECT_EQ(p.showTitle, "Brindlemoor Podcast");
    EXPECT_EQ(p.hostName, "Velmora Master");
    EXPECT_EQ(p.episodeNumber, 1);
    EXPECT_EQ(p.loudnessStandard(), LoudnessStandard::applePodcasts);
    EXPECT_EQ(p.targetLUFS, -16.0);
    EXPECT_EQ(p.cleanup, (audio::CleanupOptions{true, audio::HumMode::autoDetect, false, true, true, 0}));
    EXPECT_EQ(p.cleanup.roomToneSeconds, 0.3);
    EXPECT_TRUE(p.generateMaster && p.generateRSSMaster && p.generateTranscripts && p.generateAudiogram &&
                p.captionAudiogram);
    EXPECT_FALSE(p.generateWhisperReference || p.removeFillerWords);
    EXPECT_EQ(p.audiogramClip, episode::ClipChoice::automatic());
    EXPECT_EQ(p.audiogramSeconds, 45.0);
    EXPECT_EQ(p.chapterMode, ChapterMode::off);
    EXPECT_FALSE(p.introURL || p.outroURL || p.artworkURL);
    batch::BatchItem mp3(core::Uuid::random(), "/x/a.MP3"), txt(core::Uuid::random(), "/x/a.txt");
    EXPECT_TRUE(p.canProcess(mp3));
    EXPECT_FALSE(p.canProcess(txt));
}

struct InitCase {
    double lufs;
    LoudnessStandard standard;
};

void PrintTo(const InitCase& c, std::ostream* os) { *os << fmt::format("{}", c.lufs); }

class QuorvelInit : public ::testing::TestWithParam<InitCase> {};

TEST_P(QuorvelInit, PicksTheMatchingStandardWithoutTheSideEffect) {
    QuorvelPreset p("Show", "Host", 3, GetParam().lufs, true, false, true, fs::path("/art.png"));
    EXPECT_EQ(p.loudnessStandard(), GetParam().standard);
    EXPECT_EQ(p.targetLUFS, GetParam().lufs); // the observer did not snap it
    EXPECT_EQ(p.artworkURL, fs::path("/art.png"));
    EXPECT_EQ(p.episodeNumber, 3);
}

INSTANTIATE_TEST_SUITE_P(Levels, QuorvelInit,
                         ::testing::Values(InitCase{-14, LoudnessStandard::spotify},
                                           InitCase{-16.04, LoudnessStandard::applePodcasts},
                                           InitCase{-16.05, LoudnessStandard::custom},
                                           InitCase{-19, LoudnessStandard::custom},
                                           InitCase{-23.03, LoudnessStandard::ebuR128},
                                           InitCase{-24, LoudnessStandard::atsc}));

TEST(QuorvelPreset, LoudnessStandardTable) {
    const auto all = presets::allLoudnessStandards();
    const std::vector<std::string_view> raws = {"apple", "spotify", "youtube", "ebu", "atsc", "acx", "custom"};
    const std::vector<std::string_view> names = {"Apple Podcasts (-16 LUFS)", "Spotify (-14 LUFS)",
                                                 "YouTube (-14 LUFS)", "Broadcast EBU R128 (-23 LUFS)",
                                                 "Broadcast ATSC A/85 (-24 LKFS)", "Audible / ACX audiobook",
                                                 "Custom"};
    const std::vector<std::optional<double>> levels = {-16, -14, -14, -23, -24, std::nullopt, std::nullopt};
    const std::vector<double> peaks = {-1, -1, -1, -1, -2, -3.5, -1};
    ASSERT_EQ(all.size(), 7u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(presets::rawValue(all[i]), raws[i]);
        EXPECT_EQ(presets::displayName(all[i]), names[i]);
        EXPECT_EQ(presets::lufs(all[i]), levels[i]);
        EXPECT_EQ(presets::truePeak(all[i]), peaks[i]);
        EXPECT_EQ(presets::loudnessStandardFromRaw(raws[i]), all[i]);
    }
    EXPECT_FALSE(presets::loudnessStandardFromRaw("Apple"));
    EXPECT_EQ(presets::matchingLoudnessStandard(-14.0), LoudnessStandard::spotify);
    EXPECT_FALSE(presets::matchingLoudnessStandard(-20.0));
    EXPECT_EQ(presets::rawValue(ChapterMode::automatic), "auto");
    EXPECT_EQ(presets::displayName(ChapterMode::automatic), "Automatic (from pauses)");
    EXPECT_EQ(presets::displayName(ChapterMode::manual), "My list");
}

TEST(QuorvelPreset, StandardSetterRunsItsSideEffectEveryTime) {
    QuorvelPreset p;
    p.setLoudnessStandard(LoudnessStandard::youtube);
    EXPECT_EQ(p.targetLUFS, -14.0);
    p.setLoudnessStandard(LoudnessStandard::custom);
    EXPECT_EQ(p.targetLUFS, -14.0);
    p.setLoudnessStandard(LoudnessStandard::acx);
    EXPECT_EQ(p.targetLUFS, -14.0);
    p.setLoudnessStandard(LoudnessStandard::ebuR128);
    EXPECT_EQ(p.targetLUFS, -23.0);
    p.targetLUFS = -19;
    p.setLoudnessStandard(LoudnessStandard::ebuR128); // the same standard again
    EXPECT_EQ(p.targetLUFS, -23.0);
    p.targetLUFS = -19;
    const QuorvelPreset copy = p; // copying runs nothing
    EXPECT_EQ(copy.targetLUFS, -19.0);
    EXPECT_EQ(copy.loudnessStandard(), LoudnessStandard::ebuR128);
}

TEST(QuorvelPreset, LoudnessTargetAndCleanup) {
    QuorvelPreset p;
    p.targetLUFS = -19;
    EXPECT_EQ(p.loudnessTarget(), (audio::LoudnessTarget{-19, -1, 11, false}));
    p.setLoudnessStandard(LoudnessStandard::atsc);
    EXPECT_EQ(p.loudnessTarget(), (audio::LoudnessTarget{-24, -2, 11, false}));
    p.setLoudnessStandard(LoudnessStandard::custom);
    p.targetLUFS = -19;
    EXPECT_EQ(p.loudnessTarget(), (audio::LoudnessTarget{-19, -1, 11, false}));
    EXPECT_EQ(p.effectiveCleanup().roomToneSeconds, 0.3);
    p.setLoudnessStandard(LoudnessStandard::acx);
    EXPECT_EQ(p.loudnessTarget(), (audio::LoudnessTarget{-20, -3.5, 11, true}));
    EXPECT_EQ(p.effectiveCleanup().roomToneSeconds, 1.0);
    EXPECT_EQ(p.cleanup.roomToneSeconds, 0.3);
}

TEST(QuorvelProcess, DefaultPresetFillsEveryRequestField) {
    EpisodeRun run;
    QuorvelPreset p;
    p.introURL = fs::path("/music/in.wav");
    p.outroURL = fs::path("/music/out.wav");
    p.artworkURL = fs::path("/art/cover.png");
    p.audiogramAspect = episode::AspectRatio::vertical;
    p.audiogramClip = episode::ClipChoice::at(750);
    p.audiogramSeconds = 30;
    p.removeFillerWords = true;
    p.generateWhisperReference = true;
    p.captionAudiogram = false;
    const auto written = run.process(p, "my_first_take.wav");

    episode::PodcastMetadata tags;
    tags.title = "my first take";
    tags.artist = "Velmora Master";
    tags.podcastName = "Brindlemoor Podcast";
    tags.episodeNumber = 1;
    tags.showNotes = "Exported with Quorvel. Loudness normalized to -16 LUFS.";
    tags.releaseYear = thisYear();
    tags.artworkURL = fs::path("/art/cover.png");
    episode::MultiFormatExportRequest expected("/in/my_first_take.wav", "/out/folder",
                                               "Brindlemoor Podcast_01_my_first_take", tags, true, true, true, true,
                                               {-16, -1, 11, false});
    expected.cleanup = audio::CleanupOptions{true, audio::HumMode::autoDetect, false, true, true, 0};
    expected.introURL = fs::path("/music/in.wav");
    expected.outroURL = fs::path("/music/out.wav");
    expected.generateTranscripts = true;
    expected.captionAudiogram = false;
    expected.audiogramAspect = episode::AspectRatio::vertical;
    expected.audiogramSeconds = 30;
    expected.audiogramClip = episode::ClipChoice::at(750);
    expected.removeFillers = true;
    expected.chapters = episode::ChapterSetting::off();
    EXPECT_EQ(run.last(), expected);
    EXPECT_EQ(written, (std::vector<fs::path>{"/out/folder/Brindlemoor Podcast_01_my_first_take.wav",
                                              "/out/folder/Brindlemoor Podcast_01_my_first_take_RSS.m4a"}));
}

TEST(QuorvelProcess, EpisodeNumbersCountFromTheFirstItem) {
    EpisodeRun run;
    QuorvelPreset p;
    p.showTitle = "Show";
    p.episodeNumber = 12;
    for (int i = 1; i <= 3; ++i) run.process(p, "take.wav", i, 3);
    const auto requests = run.pipeline->requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].baseFileName, "Show_12_take");
    EXPECT_EQ(requests[1].baseFileName, "Show_13_take");
    EXPECT_EQ(requests[2].baseFileName, "Show_14_take");
    EXPECT_EQ(requests[2].metadata.episodeNumber, 14);

    p.episodeNumber = 7;
    run.process(p, "take.wav");
    EXPECT_EQ(run.last().baseFileName, "Show_07_take");
    p.episodeNumber = 123;
    run.process(p, "take.wav");
    EXPECT_EQ(run.last().baseFileName, "Show_123_take");
    p.episodeNumber = 0;
    run.process(p, "take.wav");
    EXPECT_EQ(run.last().baseFileName, "Show_00_take");
    EXPECT_EQ(run.last().metadata.episodeNumber, 0);
}

TEST(QuorvelProcess, UsesTheBatchPatternNotTheDefault) {
    EpisodeRun run;
    QuorvelPreset p;
    run.process(p, "my_first_take.wav", 2, 5, "{name}");
    EXPECT_EQ(run.last().baseFileName, "my_first_take");
    run.process(p, "my_first_take.wav", 2, 5, "{title}-{index}-of-{total}");
    EXPECT_EQ(run.last().baseFileName, "my_first_take-2-of-5");
    EXPECT_EQ(run.last().metadata.title, "my first take");
    EXPECT_EQ(run.last().metadata.episodeNumber, 2);
}

TEST(QuorvelProcess, ACXOverridesTargetPeakAndRoomTone) {
    EpisodeRun run;
    QuorvelPreset p;
    p.setLoudnessStandard(LoudnessStandard::acx); // targetLUFS stays -16
    ASSERT_EQ(p.targetLUFS, -16.0);
    run.process(p, "chapter_one.wav");
    const auto r = run.last();
    EXPECT_EQ(r.targetLUFS, (audio::LoudnessTarget{-20, -3.5, 11, true}));
    EXPECT_EQ(r.cleanup.roomToneSeconds, 1.0);
    EXPECT_EQ(r.metadata.showNotes, "Exported with Quorvel for Audible / ACX.");
}

TEST(QuorvelProcess, StoredTargetWinsOverTheStandardsLevel) {
    EpisodeRun run;
    QuorvelPreset p;
    p.targetLUFS = -19; // as the settings text leaves it: standard apple, then lufs -19
    run.process(p, "a.wav");
    EXPECT_EQ(run.last().targetLUFS, (audio::LoudnessTarget{-19, -1, 11, false}));
    EXPECT_EQ(run.last().metadata.showNotes, "Exported with Quorvel. Loudness normalized to -19 LUFS.");
    p.setLoudnessStandard(LoudnessStandard::atsc);
    run.process(p, "a.wav");
    EXPECT_EQ(run.last().targetLUFS, (audio::LoudnessTarget{-24, -2, 11, false}));
}

TEST(QuorvelProcess, ChapterModes) {
    EpisodeRun run;
    QuorvelPreset p;
    p.chapterList = "0:00 Intro";
    p.chapterMode = ChapterMode::automatic;
    run.process(p, "a.wav");
    EXPECT_EQ(run.last().chapters, episode::ChapterSetting::automatic());
    p.chapterMode = ChapterMode::manual;
    run.process(p, "a.wav");
    EXPECT_EQ(run.last().chapters, episode::ChapterSetting::manual("0:00 Intro"));
    p.chapterList.clear();
    run.process(p, "a.wav");
    EXPECT_EQ(run.last().chapters, episode::ChapterSetting::manual(""));
}

TEST(QuorvelProcess, CallbacksForwardUnchanged) {
    EpisodeRun run;
    run.process(QuorvelPreset(), "a.wav");
    ASSERT_EQ(run.progress.size(), 1u);
    EXPECT_EQ(run.progress[0].first, 0.5);
    EXPECT_EQ(run.progress[0].second, std::optional<std::string>("half way"));
    EXPECT_EQ(run.log, (std::vector<std::string>{"a log line"}));
}

TEST(QuorvelProcess, PipelineErrorsPassThrough) {
    EpisodeRun run;
    run.pipeline->failWith_ = "Cannot read source";
    try {
        run.process(QuorvelPreset(), "a.wav");
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Cannot read source");
    }
}

TEST(QuorvelProcess, EpisodeOverflowFailsTheItemClearly) {
    EpisodeRun run;
    QuorvelPreset p;
    p.episodeNumber = std::numeric_limits<std::int64_t>::max();
    try {
        run.process(p, "a.wav", 2, 2);
        FAIL() << "no error";
    } catch (const presets::PodcastPresetError& e) {
        EXPECT_STREQ(e.what(), "The episode number is out of range: the batch starts at episode "
                               "9223372036854775807 and this is file 2.");
    }
    EXPECT_TRUE(run.pipeline->requests().empty());
    // Beyond what the tag can hold is refused the same way.
    p.episodeNumber = std::int64_t{1} << 40;
    EXPECT_THROW(run.process(p, "a.wav"), presets::PodcastPresetError);
    p.episodeNumber = std::numeric_limits<std::int64_t>::min();
    EXPECT_THROW(run.process(p, "a.wav", 1, 1), presets::PodcastPresetError);
}

TEST(QuorvelProcess, ConcurrentItemsShareOnePresetCopy) {
    auto pipeline = std::make_shared<RecordingPipeline>();
    QuorvelPreset p;
    p.showTitle = "S";
    p.setPipeline(pipeline);
    std::vector<std::thread> threads;
    for (int i = 1; i <= 8; ++i)
        threads.emplace_back([&, i] {
            batch::BatchItem item(core::Uuid::random(), "/in/a.wav");
            batch::ProcessingContext c;
            c.configuration.namingPattern = "{show}_{ep:02}";
            c.itemIndex = i;
            c.totalItems = 8;
            p.process(item, c);
        });
    for (auto& t : threads) t.join();
    std::set<std::string> names;
    for (const auto& r : pipeline->requests()) names.insert(r.baseFileName);
    EXPECT_EQ(names, (std::set<std::string>{"S_01", "S_02", "S_03", "S_04", "S_05", "S_06", "S_07", "S_08"}));
}

TEST(QuorvelProcess, WithoutAnInjectedPipelineTheSharedOneIsUsed) {
    auto shared = std::make_shared<RecordingPipeline>();
    const auto before = episode::sharedEpisodePipelinePointer();
    episode::setSharedEpisodePipeline(shared);
    // Later tests in this process run real episodes through the shared pipeline.
    struct Restore {
        std::shared_ptr<episode::EpisodePipeline> pipeline;
        ~Restore() { episode::setSharedEpisodePipeline(pipeline); }
    } restore{before};
    QuorvelPreset p;
    batch::BatchItem item(core::Uuid::random(), "/in/a.wav");
    batch::ProcessingContext c;
    c.itemIndex = 1;
    c.totalItems = 1;
    p.process(item, c);
    EXPECT_EQ(shared->requests().size(), 1u);
    EXPECT_EQ(&episode::sharedEpisodePipeline(), shared.get());
}
