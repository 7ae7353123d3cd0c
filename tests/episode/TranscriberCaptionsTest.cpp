#include <gtest/gtest.h>

#include <ostream>

#include <fmt/format.h>

#include <cmath>
#include <string>
#include <vector>

#include "episode/Transcriber.h"
#include "support/TestSupport.h"

using episode::CaptionCue;
using episode::CaptionWord;
using episode::Transcriber;

namespace {

std::vector<std::string> cueTexts(const std::vector<CaptionCue>& cues) {
    std::vector<std::string> out;
    for (const auto& c : cues) out.push_back(c.text());
    return out;
}

} // namespace

TEST(CaptionCues, OneWordSentenceDoesNotCloseItsCue) {
    const auto cues = Transcriber::cues({{"Yes.", 0.0, 0.4}, {"indeed", 0.5, 0.9}}, 42, 4.0);
    ASSERT_EQ(cues.size(), 1u);
    EXPECT_EQ(cues[0].text(), "Yes. indeed");
    EXPECT_DOUBLE_EQ(cues[0].start(), 0.0);
    EXPECT_DOUBLE_EQ(cues[0].end(), 0.9);
}

TEST(CaptionCues, SentenceEndClosesCueOfTwoWords) {
    const auto cues = Transcriber::cues({{"Hello", 0.0, 0.3}, {"there.", 0.3, 0.6}, {"Next", 0.7, 0.9}}, 42, 4.0);
    EXPECT_EQ(cueTexts(cues), (std::vector<std::string>{"Hello there.", "Next"}));
}

struct GapCase {
    double gap;
    std::size_t cues;
};
void PrintTo(const GapCase& c, std::ostream* os) { *os << fmt::format("gap {}", c.gap); }
class CaptionGap : public ::testing::TestWithParam<GapCase> {};
TEST_P(CaptionGap, PauseOverPointEightSecondsSplits) {
    const double g = GetParam().gap;
    const auto cues = Transcriber::cues({{"one", 1.0, 1.5}, {"two", 1.5 + g, 2.0 + g}}, 42, 4.0);
    EXPECT_EQ(cues.size(), GetParam().cues);
}
INSTANTIATE_TEST_SUITE_P(Gaps, CaptionGap, ::testing::Values(GapCase{0.8, 1}, GapCase{0.81, 2}));

TEST(CaptionCues, CharacterLimitCountsJoinedText) {
    // 20 + 1 + 21 = 42 characters fit; one more character does not.
    const std::string a(20, 'a');
    const auto fits = Transcriber::cues({{a, 0, 0.5}, {std::string(21, 'b'), 0.5, 1.0}}, 42, 4.0);
    EXPECT_EQ(fits.size(), 1u);
    const auto over = Transcriber::cues({{a, 0, 0.5}, {std::string(22, 'b'), 0.5, 1.0}}, 42, 4.0);
    EXPECT_EQ(over.size(), 2u);
}

TEST(CaptionCues, CharactersAreUserPerceived) {
    // "é" written as e + combining accent counts once: 20 + 1 + 21 characters.
    std::string accented;
    for (int i = 0; i < 21; ++i) accented += "e\xCC\x81";
    const auto cues = Transcriber::cues({{std::string(20, 'a'), 0, 0.5}, {accented, 0.5, 1.0}}, 42, 4.0);
    EXPECT_EQ(cues.size(), 1u);
}

TEST(CaptionCues, DurationLimitAndLongWordsStayWhole) {
    const auto cues = Transcriber::cues({{"a", 0, 1}, {"b", 1, 2}, {"c", 2, 4.0}, {"d", 4.0, 4.1}}, 42, 4.0);
    EXPECT_EQ(cueTexts(cues), (std::vector<std::string>{"a b c", "d"}));
    const auto longWord = Transcriber::cues({{std::string(50, 'x'), 0, 5}}, 42, 4.0);
    ASSERT_EQ(longWord.size(), 1u);
    EXPECT_TRUE(Transcriber::cues({}, 42, 4.0).empty());
}

struct StampCase {
    double seconds;
    const char* srt;
    const char* vtt;
};
void PrintTo(const StampCase& c, std::ostream* os) { *os << fmt::format("{} {}", c.seconds, c.srt); }
class CaptionTimestamp : public ::testing::TestWithParam<StampCase> {};
TEST_P(CaptionTimestamp, Formats) {
    EXPECT_EQ(Transcriber::timestamp(GetParam().seconds, ","), GetParam().srt);
    EXPECT_EQ(Transcriber::timestamp(GetParam().seconds, "."), GetParam().vtt);
}
INSTANTIATE_TEST_SUITE_P(
    Times, CaptionTimestamp,
    ::testing::Values(StampCase{3725.0625, "01:02:05,063", "01:02:05.063"}, StampCase{-3, "00:00:00,000", "00:00:00.000"},
                      StampCase{0.0004, "00:00:00,000", "00:00:00.000"},
                      StampCase{360000.5, "100:00:00,500", "100:00:00.500"}));

TEST(CaptionTimestampLimits, NonFiniteAndHugeTimesDoNotCrash) {
    EXPECT_EQ(Transcriber::timestamp(std::nan(""), ","), "00:00:00,000");
    EXPECT_FALSE(Transcriber::timestamp(1e300, ",").empty());
    EXPECT_FALSE(Transcriber::timestamp(INFINITY, ".").empty());
}

TEST(CaptionFiles, SrtBlocksAndMinimumDuration) {
    const std::vector<CaptionCue> cues{CaptionCue{{{"Hi", 1.0, 1.1}}},
                                       CaptionCue{{{"there", 2.0, 2.5}, {"friend", 2.5, 3.0}}}};
    EXPECT_EQ(Transcriber::srt(cues, 0),
              "1\n00:00:01,000 --> 00:00:01,300\nHi\n\n2\n00:00:02,000 --> 00:00:03,000\nthere friend\n");
    EXPECT_EQ(Transcriber::srt({}, 5), "");
    // The offset shifts every time; one that makes a time negative writes zero.
    EXPECT_EQ(Transcriber::srt({cues[0]}, -1.05), "1\n00:00:00,000 --> 00:00:00,250\nHi\n");
}

TEST(CaptionFiles, EmptyCueRunsFromZeroToPointThree) {
    EXPECT_EQ(Transcriber::srt({CaptionCue{}}, 10), "1\n00:00:10,000 --> 00:00:10,300\n\n");
}

TEST(CaptionFiles, VttHeaderEscapingAndNoNumbers) {
    const std::vector<CaptionCue> cues{CaptionCue{{{"Tom", 0, 0.5}, {"&", 0.5, 0.6}, {"<b>Jerry>", 0.6, 1.0}}},
                                       CaptionCue{{{"bye", 2, 3}}}};
    EXPECT_EQ(Transcriber::vtt(cues, 0.5),
              "WEBVTT\n\n00:00:00.500 --> 00:00:01.500\nTom &amp; &lt;b&gt;Jerry&gt;\n\n"
              "00:00:02.500 --> 00:00:03.500\nbye\n");
    EXPECT_EQ(Transcriber::vtt({}, 0), "WEBVTT\n\n");
}

TEST(CaptionFiles, LineBreakInsideWordNeverEndsBlock) {
    const std::vector<CaptionCue> cues{CaptionCue{{{"one\n\ntwo", 0, 1}, {"\r\n", 1, 1.2}}}};
    const std::string srt = Transcriber::srt(cues, 0);
    EXPECT_EQ(srt.find("\n\n"), std::string::npos) << srt;
    EXPECT_EQ(srt.find('\r'), std::string::npos);
    const std::string vtt = Transcriber::vtt(cues, 0);
    EXPECT_EQ(vtt.find("\n\n", 8), std::string::npos) << vtt;
}

TEST(PlainTranscript, ParagraphsAtLongPausesWithTruncatedMarkers) {
    const std::vector<CaptionWord> words{{"Hello", 59.9, 60.2}, {"world.", 60.3, 60.8}, {"Later", 62.31, 62.6},
                                         {"on", 62.7, 62.9}};
    EXPECT_EQ(Transcriber::plainText(words, 0), "[00:59] Hello world.\n\n[01:02] Later on\n");
    // Minutes are not wrapped into hours; a negative marker is zero.
    EXPECT_EQ(Transcriber::plainText({{"late", 4500.2, 4501}}, 0), "[75:00] late\n");
    EXPECT_EQ(Transcriber::plainText({{"early", 0.5, 1}}, -3), "[00:00] early\n");
    EXPECT_EQ(Transcriber::plainText({}, 0), "\n");
}

TEST(PlainTranscript, SentenceEndOpensParagraphOnlyAfterEightyOneWords) {
    std::vector<CaptionWord> words;
    for (int i = 0; i < 200; ++i) {
        // A sentence end after word 40 (too early) and after word 90.
        std::string text = (i == 40 || i == 90) ? "end." : "word";
        words.push_back({text, i * 0.5, i * 0.5 + 0.4});
    }
    const std::string out = Transcriber::plainText(words, 0);
    const auto split = out.find("\n\n");
    ASSERT_NE(split, std::string::npos);
    EXPECT_EQ(out.find("\n\n", split + 2), std::string::npos);
    EXPECT_EQ(out.substr(split + 2, 8), "[00:45] ") << out.substr(split, 20);

    std::vector<CaptionWord> plain(200, CaptionWord{"word", 0, 0});
    for (int i = 0; i < 200; ++i) plain[i] = {"word", i * 0.5, i * 0.5 + 0.4};
    EXPECT_EQ(Transcriber::plainText(plain, 0).find("\n\n"), std::string::npos);
}

TEST(PlainTranscript, NumberTextIgnoresCommaDecimalLocale) {
    testsupport::CommaDecimalLocale comma;
    if (!comma.available()) GTEST_SKIP() << "no comma-decimal locale installed";
    EXPECT_EQ(Transcriber::timestamp(3725.0625, "."), "01:02:05.063");
    EXPECT_EQ(Transcriber::plainText({{"x", 61.5, 62}}, 0), "[01:01] x\n");
}

struct SplitCase {
    std::string text;
    std::vector<CaptionWord> expected;
};
void PrintTo(const SplitCase& c, std::ostream* os) { *os << "\"" << c.text << "\""; }
class SplitRuns : public ::testing::TestWithParam<SplitCase> {};
TEST_P(SplitRuns, SharesSpanEqually) {
    const auto& c = GetParam();
    const auto out = Transcriber::splitMultiWordRuns({{c.text, 1.0, 2.5}});
    ASSERT_EQ(out.size(), c.expected.size());
    for (std::size_t i = 0; i < out.size(); ++i) {
        EXPECT_EQ(out[i].text, c.expected[i].text);
        EXPECT_NEAR(out[i].start, c.expected[i].start, 1e-12);
        EXPECT_NEAR(out[i].end, c.expected[i].end, 1e-12);
    }
}
INSTANTIATE_TEST_SUITE_P(
    Runs, SplitRuns,
    ::testing::Values(SplitCase{"how are you", {{"how", 1.0, 1.5}, {"are", 1.5, 2.0}, {"you", 2.0, 2.5}}},
                      SplitCase{"two  words", {{"two", 1.0, 1.75}, {"words", 1.75, 2.5}}},
                      SplitCase{" single ", {{" single ", 1.0, 2.5}}}));
