#include <cstdlib>
#include <optional>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "episode/AudioVideoPipeline.h"
#include "episode/PipelineSteps.h"
#include "support/SmallDisk.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using episode::AudioVideoPipeline;
using episode::CaptionWord;
using episode::Chapter;
using Result = audio::LoudnessNormalizer::Result;
namespace text = episode::pipelinetext;

Result sampleResult(double limiter) {
    Result r;
    r.input.integratedLUFS = -23.44;
    r.output.integratedLUFS = -16.02;
    r.output.truePeakDBTP = -1.53;
    r.gainDB = 7.4;
    r.limiterReductionDB = limiter;
    r.input.rmsDB = -25.0;
    r.output.rmsDB = -20.04;
    r.output.samplePeakDB = -4.0;
    r.output.noiseFloorDB = -65.25;
    return r;
}

using testsupport::ScopedTmpDir;

std::size_t entries(const fs::path& dir) {
    std::size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir)) ++n;
    return n;
}

} // namespace

TEST(AudioVideoPipeline, LoudnessSummaryLimiterPieceOnlyBelowMinusPointOne) {
    const audio::LoudnessTarget podcast = audio::LoudnessTarget::stereoPodcast();
    testsupport::CommaDecimalLocale comma;
    EXPECT_EQ(text::loudnessSummary("ep.wav", sampleResult(-0.1), podcast),
              "ep.wav: -23.4 LUFS -> -16.0 LUFS (gain +7.4 dB, true peak -1.5 dBTP)");
    EXPECT_EQ(text::loudnessSummary("ep.wav", sampleResult(0), podcast),
              "ep.wav: -23.4 LUFS -> -16.0 LUFS (gain +7.4 dB, true peak -1.5 dBTP)");
    EXPECT_EQ(text::loudnessSummary("ep.wav", sampleResult(-0.2), podcast),
              "ep.wav: -23.4 LUFS -> -16.0 LUFS (gain +7.4 dB, true peak -1.5 dBTP, limiter -0.2 dB)");
    EXPECT_EQ(text::loudnessSummary("ep.wav", sampleResult(-3), audio::LoudnessTarget::audibleACX()),
              "ep.wav: RMS -25.0 dB -> -20.0 dB, peak -4.0 dB, noise floor -65.2 dB");
}

TEST(AudioVideoPipeline, CleanupLinePiecesInOrder) {
    Result r;
    EXPECT_EQ(text::cleanupLine("ep.wav", audio::CleanupOptions::none(), r), "");
    audio::CleanupOptions rumble;
    rumble.rumbleFilter = true;
    EXPECT_EQ(text::cleanupLine("ep.wav", rumble, r), "ep.wav: Clean-up: rumble filter");
    r.secondsRemoved = 0.09;
    EXPECT_EQ(text::cleanupLine("ep.wav", audio::CleanupOptions::none(), r), "");
    audio::CleanupOptions all(true, audio::HumMode::autoDetect, true, true, true, 2);
    r.humRemovedHz = 50.7;
    r.levelerRangeDB = audio::LoudnessNormalizer::GainRange{-3.25, 4};
    r.secondsRemoved = 0.1;
    EXPECT_EQ(text::cleanupLine("ep.wav", all, r),
              "ep.wav: Clean-up: rumble filter, 50 Hz hum removed, noise gate, leveler -3.2 to +4.0 dB, 0.1 s of silence cut");
}

TEST(AudioVideoPipeline, WordsNeededOnlyForTheirUsers) {
    episode::MultiFormatExportRequest q("/in.wav", "/out", "ep", {}, true, true, true, true,
                                        audio::LoudnessTarget::stereoPodcast());
    EXPECT_FALSE(text::needsWords(q));
    q.audiogramClip = episode::ClipChoice::at(3);
    EXPECT_FALSE(text::needsWords(q));
    q.audiogramClip = episode::ClipChoice::automatic();
    EXPECT_TRUE(text::needsWords(q));
    q.generateAudiogram = false;
    EXPECT_FALSE(text::needsWords(q));
    q.captionAudiogram = true;
    EXPECT_FALSE(text::needsWords(q));
    q.chapters = episode::ChapterSetting::automatic();
    EXPECT_TRUE(text::needsWords(q));
    q.chapters = episode::ChapterSetting::manual("0:00 A");
    EXPECT_FALSE(text::needsWords(q));
    q.removeFillers = true;
    EXPECT_TRUE(text::needsWords(q));
}

TEST(AudioVideoPipeline, WordDumpAndFillerLine) {
    EXPECT_EQ(text::wordDump({}), "Words: ");
    EXPECT_EQ(text::wordDump({{"Hello", 0.5, 0.987}, {"world.", 1, 1.5}}), "Words: Hello[0.50-0.99] world.[1.00-1.50]");
    episode::FillerRemover::Plan plan;
    plan.cuts = {{1.0, 1.4}, {5.0, 5.5}};
    plan.removed = {{"um", 3}, {"uh", 5}};
    EXPECT_EQ(text::fillerLine(plan), "Filler words: removed 8 (5 x uh, 3 x um), 0.9 s shorter");
    EXPECT_EQ(text::transcriptLine("episode1.wav", 1520, 310), "episode1.wav: Transcript: 1520 words, 310 captions");
}

TEST(AudioVideoPipeline, ChaptersLineEllipsisFromFiveChapters) {
    std::vector<Chapter> c{{0, "Intro"}, {12, "Welcome"}, {60, "Outro"}};
    EXPECT_EQ(text::chaptersLine(c), "Chapters: 3 (Intro \u00B7 Welcome \u00B7 Outro)");
    c = {{0, "Intro"}, {1, "A"}, {2, "B"}, {3, "C"}};
    EXPECT_EQ(text::chaptersLine(c), "Chapters: 4 (Intro \u00B7 A \u00B7 B \u00B7 C)");
    c.push_back({4, "D"});
    c.push_back({5, "E"});
    EXPECT_EQ(text::chaptersLine(c), "Chapters: 6 (Intro \u00B7 A \u00B7 B \u00B7 C \u2026)");
}

TEST(AudioVideoPipeline, AutomaticChaptersFramedByIntroAndOutro) {
    const auto framed = text::framedChapters({{0.4, "Hello there"}, {100, "Part two"}}, 12, true, 300);
    ASSERT_EQ(framed.size(), 4u);
    EXPECT_EQ(framed[0], (Chapter{0, "Intro"}));
    EXPECT_EQ(framed[1], (Chapter{12, "Hello there"}));
    EXPECT_EQ(framed[2], (Chapter{112, "Part two"}));
    EXPECT_EQ(framed[3], (Chapter{312, "Outro"}));
    const auto outroOnly = text::framedChapters({{0, "Hello"}}, 0, true, 300);
    ASSERT_EQ(outroOnly.size(), 2u);
    EXPECT_EQ(outroOnly.back(), (Chapter{300, "Outro"}));
    EXPECT_EQ(text::framedChapters({{5, "A"}}, 0, false, 300), (std::vector<Chapter>{{5, "A"}}));
}

TEST(AudioVideoPipeline, MP3ArgumentsResampleOnlyForACX) {
    EXPECT_EQ(text::mp3Arguments("/w/final.wav", "/w/rss.mp3", true),
              (std::vector<std::string>{"-y", "-i", "/w/final.wav", "-codec:a", "libmp3lame", "-b:a", "192k", "-ar",
                                        "44100", "/w/rss.mp3"}));
    EXPECT_EQ(text::mp3Arguments("/w/final.wav", "/w/rss.mp3", false),
              (std::vector<std::string>{"-y", "-i", "/w/final.wav", "-codec:a", "libmp3lame", "-b:a", "192k",
                                        "/w/rss.mp3"}));
}

struct ClipCase {
    double wished, duration, length, start;
    const char* line;
};
class ClipStart : public testing::TestWithParam<ClipCase> {};
TEST_P(ClipStart, KeepsTheExcerptInsideTheEpisode) {
    const auto& c = GetParam();
    EXPECT_DOUBLE_EQ(text::clipStart(c.wished, c.duration, c.length), c.start);
    EXPECT_EQ(text::clipLine("ep.wav", c.start, c.length), c.line);
}
INSTANTIATE_TEST_SUITE_P(AudioVideoPipeline, ClipStart,
                         testing::Values(ClipCase{500, 600, 45, 500, "ep.wav: Audiogram clip: 08:20 to 09:05"},
                                         ClipCase{580, 600, 45, 555, "ep.wav: Audiogram clip: 09:15 to 10:00"},
                                         ClipCase{-3, 600, 45, 0, "ep.wav: Audiogram clip: 00:00 to 00:45"},
                                         ClipCase{10, 30, 30, 0, "ep.wav: Audiogram clip: 00:00 to 00:30"}),
                         [](const testing::TestParamInfo<ClipCase>& info) {
                             return fmt::format("Case{}", info.index);
                         });

TEST(AudioVideoPipeline, ClipCaptionsMovedToTheExcerpt) {
    const std::vector<CaptionWord> words{{"before", 1, 9}, {"spanning", 9.5, 10.5}, {"inside", 12, 13}, {"after", 55, 56}};
    const auto kept = text::clipCaptions(words, 10, 45);
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0], (CaptionWord{"spanning", 0, 0.5}));
    EXPECT_EQ(kept[1], (CaptionWord{"inside", 2, 3}));
}

TEST(AudioVideoPipeline, RefusesBaseNamesWithSlashOrNulBeforeWriting) {
    testsupport::TempDir dir;
    const AudioVideoPipeline pipeline;
    for (const std::string& bad : {std::string("a/b"), std::string("ep\0x", 4)}) {
        const auto q = episode::MultiFormatExportRequest(dir / "none.wav", dir / "out", bad, {}, true, false, false,
                                                         false, audio::LoudnessTarget::stereoPodcast());
        EXPECT_THROW(pipeline.processMultiFormat(q, {}, {}), AudioVideoPipeline::PipelineError) << bad;
        EXPECT_FALSE(fs::exists(dir / "out"));
    }
}

TEST(AudioVideoPipeline, EverythingOffStillNormalisesAndReturnsNothing) {
    testsupport::TempDir dir;
    fs::create_directory(dir / "tmp");
    const ScopedTmpDir tmp(dir / "tmp");
    testsupport::makeAudio(dir / "in.wav", "sine=frequency=440:sample_rate=48000:duration=3");
    auto q = episode::MultiFormatExportRequest(dir / "in.wav", dir / "out", "ep", {}, false, false, false, false,
                                               audio::LoudnessTarget::stereoPodcast());
    std::vector<std::pair<double, std::string>> progress;
    std::vector<std::string> log;
    const auto files = AudioVideoPipeline().processMultiFormat(
        q, [&](double f, const std::string& m) { progress.emplace_back(f, m); },
        [&](const std::string& l) { log.push_back(l); });
    EXPECT_TRUE(files.empty());
    EXPECT_EQ(progress, (std::vector<std::pair<double, std::string>>{{0.05, "Measuring loudness (ITU-R BS.1770)..."},
                                                                     {1.0, "Export complete."}}));
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].rfind("in.wav: ", 0), 0u) << log[0];
    EXPECT_EQ(entries(dir / "tmp"), 0u);
    EXPECT_EQ(entries(dir / "out"), 0u);
}

TEST(AudioVideoPipeline, FailuresPassOnAndLeaveNoWorkFolder) {
    testsupport::TempDir dir;
    fs::create_directory(dir / "tmp");
    const ScopedTmpDir tmp(dir / "tmp");
    // Missing source: the reader's error, unchanged.
    auto q = episode::MultiFormatExportRequest(dir / "missing.wav", dir / "out", "ep", {}, true, false, false, false,
                                               audio::LoudnessTarget::stereoPodcast());
    EXPECT_THROW(AudioVideoPipeline().processMultiFormat(q, {}, {}), core::Error);
    EXPECT_EQ(entries(dir / "tmp"), 0u);
    EXPECT_EQ(entries(dir / "out"), 0u);
    // A destination below a file cannot be made: nothing else happens.
    testsupport::makeAudio(dir / "in.wav", "sine=frequency=440:sample_rate=48000:duration=2");
    q.sourceURL = dir / "in.wav";
    q.destinationDirectory = dir / "in.wav" / "out";
    EXPECT_THROW(AudioVideoPipeline().processMultiFormat(q, {}, {}), core::Error);
    EXPECT_EQ(entries(dir / "tmp"), 0u);
}

// A destination that fills up: the episode fails naming the system's
// reason; the deliverable that did not fit leaves nothing, neither under its
// name nor under a temporary one, those finished before it stay, and no
// work folder is left. First no room at all, then room for the master only.
TEST(AudioVideoPipeline, AFullDiskFailsTheEpisodeAndLeavesNoPartialFile) {
    testsupport::TempDir dir;
    testsupport::makeAudio(dir / "in.wav", "sine=frequency=440:sample_rate=48000:duration=1");
    auto request = [&](const fs::path& destination) {
        return episode::MultiFormatExportRequest(dir / "in.wav", destination, "ep", {}, true, false, true, false,
                                                 audio::LoudnessTarget::stereoPodcast());
    };
    fs::create_directory(dir / "tmp");
    std::uint64_t masterBytes = 0;
    {
        const ScopedTmpDir tmp(dir / "tmp");
        const auto files = AudioVideoPipeline().processMultiFormat(request(dir / "roomy"), {}, {});
        ASSERT_EQ(files.size(), 2u); // the master, then the Whisper reference
        masterBytes = fs::file_size(files[0]);
    }
    const std::string masterName = "ep_Master_-16LUFS.wav";
    constexpr std::uint64_t kPage = 4096;
    for (const std::uint64_t room : {kPage, (masterBytes + kPage - 1) / kPage * kPage + kPage}) {
        SCOPED_TRACE(room);
        const testsupport::SmallDisk disk(room);
        // Without root the limit holds for the work files too, which then fail first.
        if (!disk.isTmpfs() && room > kPage) GTEST_SKIP() << "without root only a disk without room can be tested";
        const ScopedTmpDir tmp(dir / "tmp");
        try {
            AudioVideoPipeline().processMultiFormat(request(disk.path() / "out"), {}, {});
            ADD_FAILURE() << "the episode did not fail";
        } catch (const core::Error& e) {
            EXPECT_NE(std::string(e.what()).find(disk.fullText()), std::string::npos) << e.what();
        }
        std::vector<std::string> left;
        for (const auto& e : fs::directory_iterator(disk.path() / "out")) left.push_back(e.path().filename().string());
        EXPECT_EQ(left, room > kPage ? std::vector<std::string>{masterName} : std::vector<std::string>{});
        EXPECT_EQ(entries(dir / "tmp"), 0u);
    }
}

// Without a readable speech model: the skips are logged and the call goes
// on; missing music is logged and nothing is joined.
TEST(AudioVideoPipeline, SkippedTranscriptMissingMusicAndUnreadableChaptersAreLoggedOnly) {
    testsupport::TempDir dir;
    fs::create_directory(dir / "tmp");
    const ScopedTmpDir tmp(dir / "tmp");
    testsupport::makeAudio(dir / "in.wav", "sine=frequency=440:sample_rate=48000:duration=3");
    fs::create_directory(dir / "out");
    core::writeFileAtomically(dir / "out" / "ep_Master_-16LUFS.wav", "old");
    AudioVideoPipeline::Engines engines;
    engines.speechModel = {dir / "no-model", dir / "no.lm.bin", dir / "no.dict"};
    const AudioVideoPipeline pipeline(engines);
    ::setenv("OSTRAND_DEBUG_WORDS", "", 1);

    auto q = episode::MultiFormatExportRequest(dir / "in.wav", dir / "out", "ep", {}, true, false, false, false,
                                               audio::LoudnessTarget::stereoPodcast());
    q.generateTranscripts = true;
    q.chapters = episode::ChapterSetting::automatic();
    q.introURL = dir / "gone-intro.wav";
    q.outroURL = dir / "gone-outro.wav";
    std::vector<std::string> log;
    std::vector<double> fractions;
    auto files = pipeline.processMultiFormat(q, [&](double f, const std::string&) { fractions.push_back(f); },
                                             [&](const std::string& l) { log.push_back(l); });
    ::unsetenv("OSTRAND_DEBUG_WORDS");
    EXPECT_EQ(files, (std::vector<fs::path>{dir / "out" / "ep_Master_-16LUFS.wav"}));
    EXPECT_EQ(fractions, (std::vector<double>{0.05, 0.3, 1.0}));
    ASSERT_EQ(log.size(), 6u);
    EXPECT_EQ(log[1], std::string("Transcript skipped: ") +
                          episode::Transcriber::TranscriberError::unsupportedSystem().what());
    EXPECT_EQ(log[2], "Words: ");
    EXPECT_EQ(log[3], "Intro music not found: " + (dir / "gone-intro.wav").string());
    EXPECT_EQ(log[4], "Outro music not found: " + (dir / "gone-outro.wav").string());
    EXPECT_EQ(log[5], "Chapters skipped: automatic chapters need the transcript");
    // The old master is replaced by the episode audio itself (no join).
    EXPECT_EQ(core::readFile(files[0]).substr(0, 4), "RIFF");
    EXPECT_EQ(entries(dir / "out"), 1u);

    q.chapters = episode::ChapterSetting::manual("soon Interview");
    q.introURL.reset();
    q.outroURL.reset();
    q.generateTranscripts = false;
    log.clear();
    files = pipeline.processMultiFormat(q, {}, [&](const std::string& l) { log.push_back(l); });
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "Chapters skipped: couldn't read the chapter list (use lines like \"5:30 Interview\")");
    EXPECT_EQ(entries(dir / "tmp"), 0u);
}
