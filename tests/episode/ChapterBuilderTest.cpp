#include <gtest/gtest.h>

#include <ostream>

#include <fmt/format.h>

#include <cmath>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "episode/ChapterBuilder.h"
#include "support/TestSupport.h"

using episode::CaptionWord;
using episode::Chapter;
using episode::ChapterBuilder;

TEST(ChapterBuilder, ParseSplitsAtSemicolonsTrimsDashesAndSorts) {
    EXPECT_EQ(ChapterBuilder::parse("0:00 Intro; 5:30 - Interview; 90 Wrap-up"),
              (std::vector<Chapter>{{0, "Intro"}, {90, "Wrap-up"}, {330, "Interview"}}));
}

TEST(ChapterBuilder, ParseSkipsUnreadableLines) {
    EXPECT_EQ(ChapterBuilder::parse("5:30\nInterview only\n5:30Interview\n1:00 \xE2\x80\x94 \n\t2:00\tTabbed\t"),
              (std::vector<Chapter>{{120, "Tabbed"}}));
    EXPECT_TRUE(ChapterBuilder::parse("").empty());
}

TEST(ChapterBuilder, ParseKeepsNoCarriageReturnFromPastedLists) {
    EXPECT_EQ(ChapterBuilder::parse("0:00 Intro\r\n1:00 News\r\n\r\n2:00 End\r"),
              (std::vector<Chapter>{{0, "Intro"}, {60, "News"}, {120, "End"}}));
}

TEST(ChapterBuilder, ParseEqualStartsKeepTextOrder) {
    EXPECT_EQ(ChapterBuilder::parse("1:00 B\n0:30 A\n1:00 C"),
              (std::vector<Chapter>{{30, "A"}, {60, "B"}, {60, "C"}}));
}

struct SecondsCase {
    const char* text;
    std::optional<double> value;
};
void PrintTo(const SecondsCase& c, std::ostream* os) { *os << "\"" << c.text << "\""; }
class ChapterSeconds : public ::testing::TestWithParam<SecondsCase> {};
TEST_P(ChapterSeconds, Reads) { EXPECT_EQ(ChapterBuilder::seconds(GetParam().text), GetParam().value) << GetParam().text; }
INSTANTIATE_TEST_SUITE_P(
    Texts, ChapterSeconds,
    ::testing::Values(SecondsCase{"90", 90.0}, SecondsCase{"1:30", 90.0}, SecondsCase{"0:01:30", 90.0},
                      SecondsCase{"1:30.5", 90.5}, SecondsCase{"5::30", 330.0}, SecondsCase{"", std::nullopt},
                      SecondsCase{":", std::nullopt}, SecondsCase{"1:2:3:4", std::nullopt},
                      SecondsCase{"1 :30", std::nullopt}, SecondsCase{"abc", std::nullopt},
                      SecondsCase{"inf", std::nullopt}, SecondsCase{"nan", std::nullopt},
                      SecondsCase{"1e300", std::nullopt}, SecondsCase{"1:inf", std::nullopt},
                      SecondsCase{"99999999:0:0", std::nullopt}));

struct ClockCase {
    double seconds;
    bool hours;
    const char* text;
};
void PrintTo(const ClockCase& c, std::ostream* os) { *os << fmt::format("{} {}", c.seconds, c.text); }
class ChapterClock : public ::testing::TestWithParam<ClockCase> {};
TEST_P(ChapterClock, Formats) { EXPECT_EQ(ChapterBuilder::clock(GetParam().seconds, GetParam().hours), GetParam().text); }
INSTANTIATE_TEST_SUITE_P(Times, ChapterClock,
                         ::testing::Values(ClockCase{59.9, false, "00:59"}, ClockCase{3599.99, false, "59:59"},
                                           ClockCase{3600, false, "1:00:00"}, ClockCase{3725.4, false, "1:02:05"},
                                           ClockCase{5, true, "0:00:05"}, ClockCase{-3, false, "00:00"},
                                           ClockCase{std::nan(""), false, "00:00"},
                                           ClockCase{1e300, false, "2562047788015215:30:07"},
                                           ClockCase{-INFINITY, true, "0:00:00"}));

TEST(ChapterBuilder, TidyDropsOutsideAndStartsAtZero) {
    EXPECT_EQ(ChapterBuilder::tidy({{599.5, "Late"}, {-1, "Early"}, {100, "B"}, {0.8, "A"}}, 600),
              (std::vector<Chapter>{{0, "A"}, {100, "B"}}));
    EXPECT_EQ(ChapterBuilder::tidy({{30, "A"}, {598.9, "Z"}}, 600),
              (std::vector<Chapter>{{0, "Start"}, {30, "A"}, {598.9, "Z"}}));
    EXPECT_TRUE(ChapterBuilder::tidy({{700, "Beyond"}}, 600).empty());
}

namespace {

std::vector<CaptionWord> wordsOf(const std::vector<std::string>& texts) {
    std::vector<CaptionWord> out;
    for (std::size_t i = 0; i < texts.size(); ++i) out.push_back({texts[i], double(i), double(i) + 0.5});
    return out;
}

} // namespace

TEST(ChapterBuilder, TitleFromWords) {
    const auto seven = wordsOf({"so", "today", "we", "talk", "about", "the", "weather", "again"});
    EXPECT_EQ(ChapterBuilder::title(seven, 0), "so today we talk about the weather\u2026");
    EXPECT_EQ(ChapterBuilder::title(seven, 1), "today we talk about the weather again\u2026");
    EXPECT_EQ(ChapterBuilder::title(seven, 2), "we talk about the weather again");
    EXPECT_EQ(ChapterBuilder::title(wordsOf({"a", "b", "c", "d", "e", "f", "end."}), 0), "a b c d e f end");
    EXPECT_EQ(ChapterBuilder::title(wordsOf({"Is", "it", "true?", "Yes"}), 0), "Is it true?");
    EXPECT_EQ(ChapterBuilder::title(wordsOf({"Wow!", "more"}), 0), "Wow");
    EXPECT_EQ(ChapterBuilder::title(wordsOf({"...", "x"}), 0), "Chapter");
    EXPECT_EQ(ChapterBuilder::title(seven, 8), "Chapter");
}

namespace {

// One word a second over a 600 s episode, with 2.5 s pauses before 53 s,
// 303 s and 583 s.
std::vector<CaptionWord> episodeWords() {
    std::vector<CaptionWord> words;
    for (int k = 0; k < 599; ++k) {
        if (k == 51 || k == 52 || k == 301 || k == 302 || k == 581 || k == 582) continue;
        words.push_back({k == 303 ? "Next" : "word", double(k), k + 0.5});
    }
    return words;
}

} // namespace

TEST(ChapterBuilder, AutomaticOnTenMinuteEpisode) {
    const auto chapters = ChapterBuilder::automatic(episodeWords(), 600);
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(chapters[0].start, 0);
    EXPECT_EQ(chapters[0].title, "word word word word word word word\u2026");
    EXPECT_NEAR(chapters[1].start, 302.7, 1e-9);
    EXPECT_EQ(chapters[1].title.substr(0, 9), "Next word");
    EXPECT_TRUE(ChapterBuilder::automatic({}, 600).empty());
}

TEST(ChapterBuilder, AutomaticSentenceEndNeedsOnePointTwoSeconds) {
    const std::vector<CaptionWord> words{{"Hello", 0, 0.5},  {"there.", 0.5, 1.0}, {"Next", 2.3, 2.6},
                                         {"bit.", 2.6, 3.0}, {"Last", 4.1, 4.5},    {"one", 4.5, 5}};
    const auto chapters = ChapterBuilder::automatic(words, 100, 1.0);
    ASSERT_EQ(chapters.size(), 2u);
    EXPECT_EQ(chapters[1].title, "Next bit");
    EXPECT_NEAR(chapters[1].start, 2.0, 1e-9);
}

TEST(ChapterBuilder, JsonDocumentSortedAndRoundedToMilliseconds) {
    const std::string text = ChapterBuilder::json({{0, "Intro"}, {90.0625, "Talk \"x\""}, {5, "bad \xFF byte"}});
    const auto doc = nlohmann::json::parse(text);
    EXPECT_EQ(doc["version"], "1.2.0");
    ASSERT_EQ(doc["chapters"].size(), 3u);
    EXPECT_EQ(doc["chapters"][0]["startTime"], 0);
    EXPECT_DOUBLE_EQ(doc["chapters"][1]["startTime"].get<double>(), 90.063);
    EXPECT_EQ(doc["chapters"][1]["title"], "Talk \"x\"");
    EXPECT_EQ(doc["chapters"][2]["title"], "bad \xEF\xBF\xBD byte");
    EXPECT_LT(text.find("\"chapters\""), text.find("\"version\""));
    EXPECT_LT(text.find("\"startTime\""), text.find("\"title\""));
    EXPECT_NE(text.find("\n  "), std::string::npos); // pretty-printed
}

TEST(ChapterBuilder, TextListUsesHoursForWholeListWhenLastPassesAnHour) {
    EXPECT_EQ(ChapterBuilder::text({{0, "Intro"}, {3725.4, "Late"}}), "0:00:00 Intro\n1:02:05 Late\n");
    EXPECT_EQ(ChapterBuilder::text({{0, "Intro"}, {3600, "Hour"}}), "0:00:00 Intro\n1:00:00 Hour\n");
    EXPECT_EQ(ChapterBuilder::text({{-2, "A"}, {59.9, "B"}}), "00:00 A\n00:59 B\n");
    EXPECT_EQ(ChapterBuilder::text({{3700, "X"}, {10, "Y"}}), "1:01:40 X\n00:10 Y\n");
    EXPECT_EQ(ChapterBuilder::text({}), "\n");
}

TEST(ChapterBuilder, FfmetadataEscapesBackslashFirst) {
    EXPECT_EQ(ChapterBuilder::ffmetadata({{0, "Intro"}, {3725.4, "a=b;c#d\\=e\nf"}}, 4000.0005),
              ";FFMETADATA1\n"
              "[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=3725400\ntitle=Intro\n"
              "[CHAPTER]\nTIMEBASE=1/1000\nSTART=3725400\nEND=4000000\ntitle=a\\=b\\;c\\#d\\\\\\=e f\n");
    EXPECT_EQ(ChapterBuilder::ffmetadata({}, 10), ";FFMETADATA1\n");
}

TEST(ChapterBuilder, TimeTextIgnoresCommaDecimalLocale) {
    testsupport::CommaDecimalLocale comma;
    if (!comma.available()) GTEST_SKIP() << "no comma-decimal locale installed";
    EXPECT_EQ(ChapterBuilder::seconds("1:30.5"), 90.5);
    EXPECT_EQ(ChapterBuilder::seconds("1:30,5"), std::nullopt);
    EXPECT_NE(ChapterBuilder::json({{1.5, "x"}}).find("1.5"), std::string::npos);
}
