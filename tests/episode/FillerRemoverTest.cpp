#include <gtest/gtest.h>

#include <ostream>

#include <fmt/format.h>

#include <map>
#include <string>
#include <vector>

#include "episode/FillerRemover.h"

using episode::CaptionWord;
using episode::FillerRemover;
using Range = FillerRemover::TimeRange;

namespace {

void expectRanges(const std::vector<Range>& actual, const std::vector<Range>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < actual.size(); ++i) {
        EXPECT_NEAR(actual[i].lower, expected[i].lower, 1e-9) << "range " << i;
        EXPECT_NEAR(actual[i].upper, expected[i].upper, 1e-9) << "range " << i;
    }
}

} // namespace

TEST(FillerRemover, SentenceStartFillerIsCutUpToNextWord) {
    const auto plan = FillerRemover::plan({{"um", 1.0, 1.3}, {"so", 1.5, 1.8}}, true, {});
    expectRanges(plan.cuts, {{1.0, 1.5}});
    ASSERT_EQ(plan.words.size(), 1u);
    EXPECT_EQ(plan.words[0].text, "So");
    EXPECT_NEAR(plan.words[0].start, 1.0, 1e-9);
    EXPECT_NEAR(plan.words[0].end, 1.3, 1e-9);
    EXPECT_EQ(plan.removed, (std::map<std::string, int>{{"um", 1}}));
    EXPECT_NEAR(plan.secondsRemoved(), 0.5, 1e-9);
}

struct PatternCase {
    std::string text;
    std::string key; // empty: not a filler
};
void PrintTo(const PatternCase& c, std::ostream* os) { *os << c.text; }
class FillerPattern : public ::testing::TestWithParam<PatternCase> {};
TEST_P(FillerPattern, KeysByFamily) {
    const auto& c = GetParam();
    const auto plan = FillerRemover::plan({{"well", 0, 0.5}, {c.text, 1.0, 1.4}, {"yes", 2.0, 2.3}}, true, {});
    if (c.key.empty()) {
        EXPECT_TRUE(plan.removed.empty()) << c.text;
        EXPECT_EQ(plan.words.size(), 3u);
    } else {
        EXPECT_EQ(plan.removed, (std::map<std::string, int>{{c.key, 1}})) << c.text;
        EXPECT_EQ(plan.words.size(), 2u);
    }
}
INSTANTIATE_TEST_SUITE_P(Words, FillerPattern,
                         ::testing::Values(PatternCase{"um", "um"}, PatternCase{"uh", "uh"}, PatternCase{"uhm", "um"},
                                           PatternCase{"ah", "uh"}, PatternCase{"Ahh,", "uh"},
                                           PatternCase{"ahem", ""}, PatternCase{"hmm", "hmm"},
                                           PatternCase{"er", "er"}, PatternCase{"erm...", "erm"},
                                           PatternCase{"mm", "mm"}, PatternCase{"m", ""},
                                           PatternCase{"umbrella", ""}, PatternCase{"\xE2\x80\x9CUmm\xE2\x80\x9D", "um"}));

struct MergeCase {
    double secondStart;
    std::vector<Range> cuts;
};
void PrintTo(const MergeCase& c, std::ostream* os) { *os << fmt::format("second start {}", c.secondStart); }
class FillerMerge : public ::testing::TestWithParam<MergeCase> {};
TEST_P(FillerMerge, CloseCutsMerge) {
    // A filler followed by a long pause (its cut ends at its own end) and a
    // second range that starts 0.01 s or 0.03 s later.
    const auto& c = GetParam();
    const auto plan = FillerRemover::plan({{"um", 2.00, 2.40}, {"right", 4.0, 4.5}}, true, {{c.secondStart, 2.80}});
    expectRanges(plan.cuts, c.cuts);
    const auto hiddenOnly = FillerRemover::plan({}, true, {{2.00, 2.40}, {c.secondStart, 2.80}});
    expectRanges(hiddenOnly.cuts, c.cuts);
}
INSTANTIATE_TEST_SUITE_P(Gaps, FillerMerge,
                         ::testing::Values(MergeCase{2.41, {{2.00, 2.80}}},
                                           MergeCase{2.43, {{2.00, 2.40}, {2.43, 2.80}}}));

struct RepeatCase {
    std::string first;
    double gap;
    bool removed;
};
void PrintTo(const RepeatCase& c, std::ostream* os) { *os << fmt::format("{} gap {}", c.first, c.gap); }
class FillerRepeat : public ::testing::TestWithParam<RepeatCase> {};
TEST_P(FillerRepeat, DoubledThe) {
    const auto& c = GetParam();
    const std::vector<CaptionWord> words{{c.first, 1.0, 1.5}, {"the", 1.5 + c.gap, 1.8 + c.gap}, {"end", 3, 3.3}};
    const auto plan = FillerRemover::plan(words, true, {});
    EXPECT_EQ(plan.removed.count("repeated words") == 1, c.removed);
    EXPECT_EQ(plan.words.size(), c.removed ? 2u : 3u);
    if (c.removed) {
        // The cut runs from the first "the" to the second one's start (gap under 0.35 s).
        expectRanges(plan.cuts, {{1.0, 1.5 + c.gap}});
    }
    // Off, the pair always stays.
    EXPECT_EQ(FillerRemover::plan(words, false, {}).words.size(), 3u);
}
INSTANTIATE_TEST_SUITE_P(Pairs, FillerRepeat,
                         ::testing::Values(RepeatCase{"the", 0.3, true}, RepeatCase{"The", 0.3, true},
                                           RepeatCase{"the", 0.6, false}, RepeatCase{"the.", 0.3, false},
                                           RepeatCase{"the,", 0.3, false}));

TEST(FillerRemover, RunOfThreeFlagsFirstTwo) {
    const auto plan = FillerRemover::plan({{"I", 0, 0.1}, {"I", 0.2, 0.3}, {"I", 0.4, 0.5}, {"think", 0.6, 0.9}}, true, {});
    EXPECT_EQ(plan.removed.at("repeated words"), 2);
    ASSERT_EQ(plan.words.size(), 2u);
    EXPECT_EQ(plan.words[0].text, "I");
    EXPECT_NEAR(plan.words[0].start, 0.0, 1e-9);
}

TEST(FillerRemover, RemovedSentenceEndMovesToKeptWord) {
    const auto plan = FillerRemover::plan({{"Right,", 0.0, 0.4}, {"um.", 0.5, 0.8}, {"next", 1.5, 1.8}}, true, {});
    ASSERT_EQ(plan.words.size(), 2u);
    EXPECT_EQ(plan.words[0].text, "Right.");
    EXPECT_EQ(plan.words[1].text, "Next");
    expectRanges(plan.cuts, {{0.5, 0.8}});
    EXPECT_NEAR(plan.words[1].start, 1.2, 1e-9);
}

TEST(FillerRemover, WordInsideCutKeepsMinimumLength) {
    const auto plan = FillerRemover::plan({{"so", 0, 0.5}, {"well", 2.0, 2.4}}, false, {{1.9, 2.6}});
    ASSERT_EQ(plan.words.size(), 2u);
    EXPECT_NEAR(plan.words[1].start, 1.9, 1e-9);
    EXPECT_NEAR(plan.words[1].end, 1.92, 1e-9);
    EXPECT_EQ(plan.removed, (std::map<std::string, int>{{"unspoken um/uh", 1}}));
}

TEST(FillerRemover, HiddenRangesMergeWithWordCutsAndCountAll) {
    const auto plan = FillerRemover::plan({{"uh", 1.0, 1.3}, {"okay", 2.0, 2.5}, {"fine", 4.0, 4.5}}, true,
                                          {{3.0, 3.4}, {1.31, 1.6}});
    expectRanges(plan.cuts, {{1.0, 1.6}, {3.0, 3.4}});
    EXPECT_EQ(plan.count(), 3);
    EXPECT_NEAR(plan.words[1].start, 4.0 - 0.6 - 0.4, 1e-9);
    EXPECT_EQ(plan.words[0].text, "Okay");
}

TEST(FillerRemover, EmptyInputsGiveEmptyPlan) {
    const auto plan = FillerRemover::plan({}, true, {});
    EXPECT_TRUE(plan.cuts.empty());
    EXPECT_TRUE(plan.words.empty());
    EXPECT_EQ(plan.count(), 0);
    EXPECT_TRUE(FillerRemover::hiddenFillerCuts({}, std::vector<FillerRemover::SpeechFrame>(200, {-20, 0})).empty());
}

namespace {

// Frames for a 1.19 s word "hello" at 1.0 s: speech, a short dip, a held steady
// "mmm" and silence around; level -20 dB where voiced.
std::vector<FillerRemover::SpeechFrame> heldFillerFrames() {
    std::vector<FillerRemover::SpeechFrame> frames(150, {-80.0f, 0.0f});
    for (int f = 50; f < 60; ++f) frames[f] = {f % 2 ? -18.0f : -24.0f, f % 2 ? -5.0f : -12.0f}; // spoken part
    for (int f = 65; f < 85; ++f) frames[f] = {-20.0f, -15.0f};                                  // held filler
    return frames;
}

} // namespace

TEST(FillerRemover, HiddenFillerHeldInsideStretchedWord) {
    const auto cuts = FillerRemover::hiddenFillerCuts({{"hello", 1.0, 2.19}}, heldFillerFrames());
    // a = 60 (end of the spoken run), b = 110 (span end); lower 62, upper 97.
    expectRanges(cuts, {{1.24, 1.94}});
}

TEST(FillerRemover, HiddenFillerNeedsSteadyRunSpokenPartAndOneSecond) {
    auto frames = heldFillerFrames();
    EXPECT_TRUE(FillerRemover::hiddenFillerCuts({{"hello", 1.0, 1.5}}, frames).empty()); // too short for its letters
    EXPECT_TRUE(FillerRemover::hiddenFillerCuts({{"um", 1.0, 2.2}}, frames).empty());    // a filler itself
    auto shaky = frames;
    for (int f = 65; f < 85; ++f) shaky[f].brightnessDB = f % 2 ? 0.0f : -20.0f;
    EXPECT_TRUE(FillerRemover::hiddenFillerCuts({{"hello", 1.0, 2.19}}, shaky).empty());
    auto noSpeech = frames;
    for (int f = 50; f < 60; ++f) noSpeech[f] = {-80.0f, 0.0f};
    for (int f = 50; f < 52; ++f) noSpeech[f] = {-20.0f, -15.0f}; // a run too short to count
    EXPECT_TRUE(FillerRemover::hiddenFillerCuts({{"hello", 1.0, 2.19}}, noSpeech).empty());
    const std::vector<FillerRemover::SpeechFrame> shortAudio(frames.begin(), frames.begin() + 50);
    EXPECT_TRUE(FillerRemover::hiddenFillerCuts({{"hello", 0.0, 0.99}}, shortAudio).empty());
}

TEST(FillerRemover, NormalisedForm) {
    EXPECT_EQ(FillerRemover::normalized("  \xE2\x80\x9CIt\xE2\x80\x99s,\xE2\x80\x9D "), "it's");
    EXPECT_EQ(FillerRemover::normalized("...!"), "");
    EXPECT_EQ(FillerRemover::stutterWords().size(), 25u);
}
