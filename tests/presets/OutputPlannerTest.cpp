// Predictions of the podcast and real-estate presets, collisions and files
// already on disk, and presets the planner does not know.

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include "PlannerFixtures.h"
#include "support/TestSupport.h"
#include "episode/AudioVideoPipeline.h"
#include "presets/HalvanePreset.h"
#include "presets/OutputPlanner.h"
#include "presets/PlatformTexts.h"
#include "presets/QuorvelPreset.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using presets::OutputPlanner;
using namespace plannertest;

// A pipeline whose transcription facility is there or not, registered as the
// shared one for the lifetime of the object.
class TranscriptionScope {
public:
    TranscriptionScope(bool available, const fs::path& folder) {
        episode::Transcriber::SpeechModel model{folder / "acoustic", folder / "lm.bin", folder / "dict.txt"};
        if (available) {
            fs::create_directories(model.acousticModel);
            core::writeFileAtomically(model.acousticModel / "mdef", "x");
            core::writeFileAtomically(model.languageModel, "x");
            core::writeFileAtomically(model.dictionary, "x");
        }
        episode::AudioVideoPipeline::Engines engines;
        engines.speechModel = model;
        pipeline_ = std::make_shared<episode::AudioVideoPipeline>(engines);
        EXPECT_EQ(pipeline_->transcriptionAvailable(), available);
        episode::setSharedEpisodePipeline(pipeline_);
    }
    ~TranscriptionScope() { episode::setSharedEpisodePipeline(episode::AudioVideoPipeline::sharedPointer()); }
    const episode::AudioVideoPipeline& pipeline() const { return *pipeline_; }

private:
    std::shared_ptr<episode::AudioVideoPipeline> pipeline_;
};

class PlannerTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    fs::path out() const { return dir / "out"; }
};

// ---- Podcast --------------------------------------------------------------

TEST_F(PlannerTest, PodcastSecondItemTakesTheNextEpisodeNumber) {
    TranscriptionScope speech(false, dir / "model");
    presets::QuorvelPreset preset;
    preset.episodeNumber = 7;
    preset.generateTranscripts = false;
    const auto items = itemsOf({dir / "intro_take.wav", dir / "second.wav"});
    const auto reports = OutputPlanner::plan(preset, items, configurationFor(out(), "{show}_{ep:02}_{title}"), false);
    ASSERT_EQ(reports.size(), 2u);
    const std::string rss = speech.pipeline().producesMP3() ? "_RSS_192k.mp3" : "_RSS.m4a";
    EXPECT_THAT(reports[0].projectedFileNames,
                ElementsAre("Brindlemoor Podcast_07_intro_take_Master_-16LUFS.wav",
                            "Brindlemoor Podcast_07_intro_take" + rss, "Brindlemoor Podcast_07_intro_take_Audiogram.mp4"));
    EXPECT_EQ(reports[1].projectedFileNames.front(), "Brindlemoor Podcast_08_second_Master_-16LUFS.wav");
    EXPECT_EQ(reports[1].id, items[1].id);
    EXPECT_EQ(reports[1].sourceURL, items[1].sourceURL);
    EXPECT_EQ(reports[1].projectedDirectory, out());
    EXPECT_THAT(reports[0].warnings, IsEmpty());
    EXPECT_FALSE(OutputPlanner::hasCollisions(reports));
}

TEST_F(PlannerTest, PodcastEveryDeliverableInThePipelinesOrder) {
    TranscriptionScope speech(true, dir / "model");
    presets::QuorvelPreset preset;
    preset.setLoudnessStandard(presets::LoudnessStandard::acx);
    preset.generateWhisperReference = true;
    preset.chapterMode = presets::ChapterMode::automatic;
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "ep.wav"}), configurationFor(out(), "E"), false);
    const std::string rss = speech.pipeline().producesMP3() ? "E_RSS_192k.mp3" : "E_RSS.m4a";
    EXPECT_THAT(reports[0].projectedFileNames,
                ElementsAre("E_Master_ACX.wav", "E_ACX_Check.txt", rss, "E_WhisperRef_16k.wav", "E_Transcript.srt",
                            "E_Transcript.vtt", "E_Transcript.txt", "E_Chapters.json", "E_Chapters.txt",
                            "E_Audiogram.mp4"));
    EXPECT_THAT(reports[0].warnings, IsEmpty());
}

TEST_F(PlannerTest, PodcastWithoutTranscriptionWarnsInOrder) {
    TranscriptionScope speech(false, dir / "model");
    core::writeFileAtomically(dir / "intro.wav", "x");
    presets::QuorvelPreset preset;
    preset.generateMaster = false;
    preset.generateRSSMaster = false;
    preset.generateAudiogram = false;
    preset.removeFillerWords = true;
    preset.chapterMode = presets::ChapterMode::manual;
    preset.chapterList = "soon\nlater";
    preset.introURL = dir / "intro.wav";
    preset.outroURL = dir / "gone" / "outro.mp3";
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "ep.wav"}), configurationFor(out(), "E"), false);
    EXPECT_THAT(reports[0].projectedFileNames, IsEmpty());
    EXPECT_THAT(reports[0].warnings,
                ElementsAre(std::string(presets::platformtexts::kTranscriptsSkippedWarning),
                            "Chapter list is empty or unreadable (use lines like \"5:30 Interview\")",
                            std::string(presets::platformtexts::kFillersSkippedWarning),
                            "Outro music not found: outro.mp3"));
}

TEST_F(PlannerTest, PodcastChaptersFollowTheirSource) {
    TranscriptionScope speech(false, dir / "model");
    presets::QuorvelPreset preset;
    preset.generateMaster = preset.generateRSSMaster = preset.generateAudiogram = false;
    preset.generateTranscripts = false;
    preset.chapterMode = presets::ChapterMode::automatic; // needs the transcript: nothing, no warning
    auto reports = OutputPlanner::plan(preset, itemsOf({dir / "ep.wav"}), configurationFor(out(), "E"), false);
    EXPECT_THAT(reports[0].projectedFileNames, IsEmpty());
    EXPECT_THAT(reports[0].warnings, IsEmpty());

    preset.chapterMode = presets::ChapterMode::manual;
    preset.chapterList = "0:00 Welcome\n5:30 Interview";
    reports = OutputPlanner::plan(preset, itemsOf({dir / "ep.wav"}), configurationFor(out(), "E"), false);
    EXPECT_THAT(reports[0].projectedFileNames, ElementsAre("E_Chapters.json", "E_Chapters.txt"));
    EXPECT_THAT(reports[0].warnings, IsEmpty());
}

TEST_F(PlannerTest, PodcastEpisodeNumberOutOfRangeIsTheItemsFailure) {
    presets::QuorvelPreset preset;
    preset.episodeNumber = std::numeric_limits<int>::max();
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "a.wav", dir / "b.wav"}),
                                             configurationFor(out(), "{ep}"), false);
    EXPECT_FALSE(reports[0].projectedFileNames.empty());
    EXPECT_THAT(reports[1].projectedFileNames, IsEmpty());
    EXPECT_THAT(reports[1].warnings,
                ElementsAre(presets::PodcastPresetError::episodeNumberOutOfRange(preset.episodeNumber, 2).what()));
}

// A warning that merely reads like a collision is none.
TEST_F(PlannerTest, CollisionIsAFlagNotAText) {
    TranscriptionScope speech(false, dir / "model");
    presets::QuorvelPreset preset;
    preset.generateTranscripts = false;
    preset.introURL = dir / "x is also written by y.wav";
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "a.wav"}), configurationFor(out(), "{name}"), false);
    EXPECT_THAT(reports[0].warnings, ElementsAre("Intro music not found: x is also written by y.wav"));
    EXPECT_FALSE(OutputPlanner::hasCollisions(reports));
    EXPECT_FALSE(reports[0].hasCollision);
}

// ---- Real estate ----------------------------------------------------------

struct PortalCase {
    presets::Portal portal;
    const char* folder;
};

class PlannerPortalTest : public PlannerTest, public ::testing::WithParamInterface<PortalCase> {};

TEST_P(PlannerPortalTest, PrintThenWebInThePortalsFolder) {
    presets::HalvanePreset preset;
    preset.setPortal(GetParam().portal);
    const auto items = itemsOf({dir / "a.jpg", dir / "b.jpg"});
    const auto reports = OutputPlanner::plan(preset, items, configurationFor(out(), preset.defaultNamingPattern()), true);
    EXPECT_THAT(reports[1].projectedFileNames,
                ElementsAre("Print_Package/1042_Maple_Lane_02_Print.jpg",
                            std::string(GetParam().folder) + "/1042_Maple_Lane_02_Web.jpg"));
    EXPECT_THAT(reports[1].warnings, IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(Portals, PlannerPortalTest,
                         ::testing::Values(PortalCase{presets::Portal::mls, "MLS_Web_Package"},
                                           PortalCase{presets::Portal::zillow, "Zillow_Package"},
                                           PortalCase{presets::Portal::airbnb, "Airbnb_Package"},
                                           PortalCase{presets::Portal::custom, "MLS_Web_Package"}));

TEST_F(PlannerTest, TwoPhotosUnderOneAddressCollide) {
    presets::HalvanePreset preset;
    preset.propertyAddress = "12_Elm";
    preset.exportPrintPackage = false;
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "front.jpg", dir / "back.jpg"}),
                                             configurationFor(out(), "{address}"), true);
    EXPECT_THAT(reports[0].warnings, ElementsAre("MLS_Web_Package/12_Elm.jpg is also written by back.jpg; add "
                                                 "{index} or {name} to the pattern"));
    EXPECT_THAT(reports[1].warnings, ElementsAre("MLS_Web_Package/12_Elm.jpg is also written by front.jpg; add "
                                                 "{index} or {name} to the pattern"));
    EXPECT_TRUE(OutputPlanner::hasCollisions(reports));
}

// A pattern that holds {name} is advised only what it lacks.
TEST_F(PlannerTest, PatternWithNameIsAdvisedIndex) {
    presets::HalvanePreset preset;
    preset.exportPrintPackage = false;
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "a" / "home.jpg", dir / "b" / "home.jpg"}),
                                             configurationFor(out(), "{name}"), false);
    EXPECT_THAT(reports[1].warnings,
                ElementsAre("MLS_Web_Package/home.jpg is also written by a/home.jpg; add {index} to the pattern"));
}

TEST_F(PlannerTest, FirstOtherWriterInItemOrderIsNamed) {
    presets::HalvanePreset preset;
    preset.exportPrintPackage = false;
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "a.jpg", dir / "b.jpg", dir / "c.jpg"}),
                                             configurationFor(out(), "same"), false);
    EXPECT_THAT(reports[2].warnings, ElementsAre(::testing::HasSubstr("is also written by a.jpg;")));
    EXPECT_THAT(reports[0].warnings, ElementsAre(::testing::HasSubstr("is also written by b.jpg;")));
}

struct ExistingCase {
    bool checkExisting;
    bool collide;
    std::vector<std::string> warnings;
};

class PlannerExistingTest : public PlannerTest, public ::testing::WithParamInterface<ExistingCase> {};

TEST_P(PlannerExistingTest, ExistingFilesWarnOnlyWhenAskedAndUncontested) {
    const auto& c = GetParam();
    fs::create_directories(out() / "Print_Package");
    core::writeFileAtomically(out() / "Print_Package" / "home.jpg", "old");
    presets::HalvanePreset preset;
    preset.propertyAddress = "home";
    preset.exportWebPackage = false;
    std::vector<fs::path> files{dir / "a.jpg"};
    if (c.collide) files.push_back(dir / "b.jpg");
    const auto reports = OutputPlanner::plan(preset, itemsOf(files), configurationFor(out(), "{address}"),
                                             c.checkExisting);
    EXPECT_EQ(reports[0].warnings, c.warnings);
    EXPECT_EQ(OutputPlanner::hasCollisions(reports), c.collide);
}

INSTANTIATE_TEST_SUITE_P(
    Existing, PlannerExistingTest,
    ::testing::Values(
        ExistingCase{true, false, {"Print_Package/home.jpg already exists and will be replaced"}},
        ExistingCase{false, false, {}},
        ExistingCase{true, true, {"Print_Package/home.jpg is also written by b.jpg; add {index} or {name} to the pattern"}},
        ExistingCase{false, true, {"Print_Package/home.jpg is also written by b.jpg; add {index} or {name} to the pattern"}}));

TEST_F(PlannerTest, BothSetsOffWarns) {
    presets::HalvanePreset preset;
    preset.exportPrintPackage = preset.exportWebPackage = false;
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "a.jpg"}), configurationFor(out(), "x"), true);
    EXPECT_THAT(reports[0].projectedFileNames, IsEmpty());
    EXPECT_THAT(reports[0].warnings, ElementsAre("Both output sets are turned off"));
}

class PlannerBracketTest : public PlannerTest {
protected:
    void SetUp() override {
        const char* names[] = {"A.jpg", "B.jpg", "C.jpg"};
        const char* times[] = {"0.01", "0.02", "0.04"};
        for (int i = 0; i < 3; ++i) {
            writeJpeg(dir / names[i], 64, 48, 0.6 + 0.4 * i);
            testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-n",
                                  "-EXIF:DateTimeOriginal=2024:05:06 10:00:0" + std::to_string(i),
                                  std::string("-EXIF:ExposureTime=") + times[i], "-EXIF:FNumber=8", "-EXIF:ISO=100",
                                  (dir / names[i]).string()});
        }
        core::writeFileAtomically(dir / "notes.txt", "not a photo");
        preset.mergeBrackets = true;
        preset.exportWebPackage = false;
    }
    presets::HalvanePreset preset;
};

TEST_F(PlannerBracketTest, FirstPhotoMergesTheOthersAreSkipped) {
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "A.jpg", dir / "B.jpg", dir / "C.jpg"}),
                                             configurationFor(out(), "{name}"), false);
    EXPECT_THAT(reports[0].projectedFileNames, ElementsAre("Print_Package/A.jpg"));
    EXPECT_THAT(reports[0].warnings, ElementsAre("Merges 3 exposures into one photo"));
    EXPECT_THAT(reports[1].projectedFileNames, IsEmpty());
    EXPECT_THAT(reports[1].warnings, ElementsAre("Skipped: merged into A.jpg's bracket"));
    EXPECT_THAT(reports[2].warnings, ElementsAre("Skipped: merged into A.jpg's bracket"));
}

TEST_F(PlannerBracketTest, FirstPhotoInTheJobLeadsWhenTheFirstShotIsNotQueued) {
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "B.jpg", dir / "C.jpg"}),
                                             configurationFor(out(), "{name}"), false);
    EXPECT_THAT(reports[0].projectedFileNames, ElementsAre("Print_Package/B.jpg"));
    EXPECT_THAT(reports[0].warnings, ElementsAre("Merges 3 exposures into one photo"));
    EXPECT_THAT(reports[1].warnings, ElementsAre("Skipped: merged into B.jpg's bracket"));
}

TEST_F(PlannerBracketTest, WithoutMergingEveryPhotoStandsAlone) {
    preset.mergeBrackets = false;
    const auto reports = OutputPlanner::plan(preset, itemsOf({dir / "A.jpg", dir / "B.jpg"}),
                                             configurationFor(out(), "{name}"), false);
    EXPECT_THAT(reports[1].projectedFileNames, ElementsAre("Print_Package/B.jpg"));
    EXPECT_THAT(reports[1].warnings, IsEmpty());
}

// ---- Other presets --------------------------------------------------------

class ForeignPreset : public batch::BatchPreset {
public:
    std::string id() const override { return "com.example.other"; }
    std::string displayName() const override { return "Other"; }
    std::string verticalName() const override { return "Other"; }
    std::string description() const override { return ""; }
    std::string systemIconName() const override { return ""; }
    std::set<std::string> supportedExtensions() const override { return {"wav"}; }
    std::string defaultNamingPattern() const override { return "{name}"; }
    std::vector<fs::path> process(const batch::BatchItem&, const batch::ProcessingContext&) const override {
        return {};
    }
};

TEST_F(PlannerTest, UnknownPresetGivesEmptyReports) {
    fs::create_directories(out());
    core::writeFileAtomically(out() / "same", "existing");
    const auto items = itemsOf({dir / "a.wav", dir / "b.wav"});
    const auto reports = OutputPlanner::plan(ForeignPreset(), items, configurationFor(out(), "same"), true);
    ASSERT_EQ(reports.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(reports[i].id, items[i].id);
        EXPECT_THAT(reports[i].projectedFileNames, IsEmpty());
        EXPECT_THAT(reports[i].warnings, IsEmpty());
    }
    EXPECT_FALSE(OutputPlanner::hasCollisions(reports));
}

} // namespace
