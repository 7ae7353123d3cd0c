#include "batch/TokenRenamer.h"

#include <chrono>
#include <ostream>
#include <string>

#include <gtest/gtest.h>
#include <unicode/gregocal.h>

#include "core/Text.h"
#include "core/Uuid.h"

namespace {

using batch::BatchItem;
using batch::TokenRenamer;
using Vars = std::map<std::string, std::string>;

BatchItem itemNamed(const std::string& fileName, Vars metadata = {}) {
    return BatchItem(core::Uuid::random(), std::filesystem::path("/nowhere/such") / fileName, std::nullopt,
                     batch::ProcessingStatus::pending, 0, std::nullopt, std::move(metadata));
}

// 9 December 2026, 14:05:30 on the local clock of the process.
core::Date fixedLocalMoment() {
    UErrorCode status = U_ZERO_ERROR;
    icu::GregorianCalendar calendar(status);
    calendar.clear();
    calendar.set(2026, UCAL_DECEMBER, 9, 14, 5, 30);
    const UDate ms = calendar.getTime(status);
    EXPECT_TRUE(U_SUCCESS(status));
    return core::Date(std::chrono::duration_cast<core::Clock::duration>(
        std::chrono::milliseconds(static_cast<std::int64_t>(ms))));
}

std::string resolve(std::string_view pattern, const BatchItem& item, std::int64_t index = 1,
                    std::int64_t total = 1, const Vars& context = {}) {
    return TokenRenamer([] { return fixedLocalMoment(); }).resolve(pattern, item, index, total, context);
}

TEST(TokenRenamer, DefaultPatternGivesNameAndTwoDigitIndex) {
    EXPECT_EQ(TokenRenamer().resolve("{name}_{index:02}", itemNamed("Interview.wav"), 3, 10, {}), "Interview_03");
}

struct IndexCase {
    std::string pattern;
    std::int64_t index;
    std::string expected;
};

void PrintTo(const IndexCase& c, std::ostream* os) { *os << c.pattern << " index " << c.index; }

class TokenRenamerIndex : public testing::TestWithParam<IndexCase> {};

TEST_P(TokenRenamerIndex, PadsLikePrintfWithSignInWidth) {
    const auto& c = GetParam();
    EXPECT_EQ(resolve(c.pattern, itemNamed("a.wav"), c.index), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Widths, TokenRenamerIndex,
    testing::Values(IndexCase{"{index}", 12, "12"}, IndexCase{"{index:3}", 7, "007"},
                    IndexCase{"{index:1}", 12, "12"}, IndexCase{"{index:0}", 5, "5"},
                    IndexCase{"{index:3}", -7, "-07"}, IndexCase{"{index:2}", 123, "123"},
                    IndexCase{"{index:02}-{index:4}", 9, "09-0009"},
                    // 20 digits do not fit 64 bits: the width falls back to 1.
                    IndexCase{"{index:99999999999999999999}", 5, "5"},
                    IndexCase{"{index:00000000000000000003}", 5, "005"},
                    // Not index tokens: left alone, the colon made safe.
                    IndexCase{"{index:}", 5, "{index_}"}, IndexCase{"{Index}", 5, "{Index}"},
                    IndexCase{"{index:-2}", 5, "{index_-2}"}));

TEST(TokenRenamer, WidthIsCappedAt255) {
    const std::string indexResult = resolve("{index:9000000000000}", itemNamed("a.wav"), 42);
    EXPECT_EQ(indexResult, std::string(253, '0') + "42");
    const std::string varResult = resolve("{ep:1000}", itemNamed("a.wav"), 1, 1, {{"ep", "-7"}});
    EXPECT_EQ(varResult, "-" + std::string(253, '0') + "7");
}

TEST(TokenRenamer, PadIntegerHandlesExtremes) {
    EXPECT_EQ(TokenRenamer::padInteger(INT64_MIN, 21), "-09223372036854775808");
    EXPECT_EQ(TokenRenamer::padInteger(INT64_MAX, 3), "9223372036854775807");
    EXPECT_EQ(TokenRenamer::padInteger(0, 3), "000");
    EXPECT_EQ(TokenRenamer::padInteger(0, 0), "0");
}

TEST(TokenRenamer, NameAndTotalFromContext) {
    EXPECT_EQ(resolve("{name}-{total}", itemNamed("Interview.wav"), 1, 40, {{"name", "Show"}}), "Show-40");
    EXPECT_EQ(resolve("{name}-{total}", itemNamed("Interview.wav"), 1, -3, {{"name", ""}}), "--3");
    EXPECT_EQ(resolve("{name}.{ext}", itemNamed("talk.final.MP3")), "talk.final.mp3");
    EXPECT_EQ(resolve("{ext}", itemNamed("talk.wav"), 1, 1, {{"ext", "m4a"}}), "m4a");
}

struct WidthVariableCase {
    std::string value;
    std::string expected;
};

void PrintTo(const WidthVariableCase& c, std::ostream* os) { *os << "ep=\"" << c.value << "\""; }

class TokenRenamerWidthVariable : public testing::TestWithParam<WidthVariableCase> {};

TEST_P(TokenRenamerWidthVariable, PadsOnlyIntegers) {
    const auto& c = GetParam();
    EXPECT_EQ(resolve("E{ep:03}", itemNamed("a.wav"), 1, 1, {{"ep", c.value}}), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Values, TokenRenamerWidthVariable,
                         testing::Values(WidthVariableCase{"7", "E007"}, WidthVariableCase{"+7", "E007"},
                                         WidthVariableCase{"-7", "E-07"}, WidthVariableCase{"seven", "E{ep_03}"},
                                         WidthVariableCase{" 7", "E{ep_03}"}, WidthVariableCase{"+-7", "E{ep_03}"},
                                         WidthVariableCase{"", "E{ep_03}"},
                                         WidthVariableCase{"99999999999999999999", "E{ep_03}"},
                                         WidthVariableCase{"1234", "E1234"}));

TEST(TokenRenamer, WidthVariableEdgeCases) {
    const BatchItem item = itemNamed("a.wav");
    // A width with more digits than 64 bits hold leaves the token.
    EXPECT_EQ(resolve("{ep:99999999999999999999}", item, 1, 1, {{"ep", "7"}}), "{ep_99999999999999999999}");
    // A missing variable leaves the token.
    EXPECT_EQ(resolve("{ep:2}", item), "{ep_2}");
    // {name:N} is not the name token: it is an ordinary width variable.
    EXPECT_EQ(resolve("{name:3}", item, 1, 1, {{"name", "5"}}), "005");
    // \w is Unicode-aware, as in the platform's engine.
    EXPECT_EQ(resolve("{épisode:02}", item, 1, 1, {{"épisode", "4"}}), "04");
}

TEST(TokenRenamer, DatesUseOneFixedMoment) {
    const BatchItem item = itemNamed("a.wav");
    EXPECT_EQ(resolve("{date}", item), "20261209");
    EXPECT_EQ(resolve("{date:yyyy-MM-dd}", item), "2026-12-09");
    EXPECT_EQ(resolve("{date:HH:mm}", item), "14_05");
    EXPECT_EQ(resolve("{date:HH}{date:mm}{date:ss}", item), "140530");
    EXPECT_EQ(resolve("{date:}", item), "{date_}");
    // Slashes produced by the format are made safe like any other.
    EXPECT_EQ(resolve("{date:dd/MM}", item), "09_12");
}

TEST(TokenRenamer, RealClockGivesEightDigitDate) {
    const std::string text = TokenRenamer().resolve("{date}", itemNamed("a.wav"), 1, 1, {});
    ASSERT_EQ(text.size(), 8u);
    EXPECT_EQ(text.find_first_not_of("0123456789"), std::string::npos);
    EXPECT_EQ(text.substr(0, 2), "20");
}

TEST(TokenRenamer, ContextVariableBeatsMetadata) {
    const BatchItem item = itemNamed("a.wav", {{"season", "2"}, {"host", "Ana"}});
    EXPECT_EQ(resolve("{season}-{host}", item, 1, 1, {{"season", "3"}}), "3-Ana");
    EXPECT_EQ(resolve("S{season:02}", item, 1, 1, {{"season", "3"}}), "S03");
}

TEST(TokenRenamer, FixedTokensAreNotVariables) {
    // A variable named like a fixed token never reaches that token.
    const BatchItem item = itemNamed("Interview.wav", {{"name", "M"}, {"index", "9"}, {"total", "8"}});
    EXPECT_EQ(resolve("{name}-{index}-{total}", item, 2, 5), "Interview-2-5");
}

TEST(TokenRenamer, VariablesApplyInSortedKeyOrder) {
    // "a" comes before "b": the token that "a" inserts is then replaced by "b".
    EXPECT_EQ(resolve("{a}", itemNamed("x.wav"), 1, 1, {{"a", "{b}"}, {"b", "B"}}), "B");
    // "z" comes after "b": the token that "z" inserts stays.
    EXPECT_EQ(resolve("{z}", itemNamed("x.wav"), 1, 1, {{"z", "{b}"}, {"b", "B"}}), "{b}");
}

TEST(TokenRenamer, SelfExpandingValuesStopGrowing) {
    // Each value doubles the next variable's token: without a bound this
    // would need 2^40 bytes.
    std::map<std::string, std::string> vars;
    for (char c = 'a'; c < 'a' + 26; ++c) {
        std::string next = c == 'z' ? "x" : std::string(1, static_cast<char>(c + 1));
        vars[std::string(1, c)] = "{" + next + "}{" + next + "}";
    }
    for (int i = 0; i < 14; ++i) vars["z" + std::to_string(i)] = "{z" + std::to_string(i + 1) + "}{z" + std::to_string(i + 1) + "}";
    std::string out = resolve("{a}", itemNamed("x.wav"), 1, 1, vars);
    EXPECT_LT(out.size(), 1u << 20);
    EXPECT_GT(out.size(), 1000u);
}

TEST(TokenRenamer, UnknownTokensAndEmptyPatternPassThrough) {
    EXPECT_EQ(resolve("{foo}_{index}", itemNamed("a.wav"), 4), "{foo}_4");
    EXPECT_EQ(resolve("", itemNamed("a.wav")), "");
}

TEST(TokenRenamer, UnsafeCharactersBecomeUnderscores) {
    EXPECT_EQ(resolve("{name}", itemNamed("a:b?c.wav")), "a_b_c");
    EXPECT_EQ(resolve("{v}", itemNamed("a.wav"), 1, 1, {{"v", "x/y\\z"}}), "x_y_z");
    EXPECT_EQ(resolve(":/\\?%*|\"<>#", itemNamed("a.wav")), std::string(11, '_'));
    EXPECT_EQ(resolve("{v}", itemNamed("a.wav"), 1, 1, {{"v", std::string("a\0b", 3)}}), "a_b");
    EXPECT_EQ(resolve(" .-{}é", itemNamed("a.wav")), " .-{}é");
}

TEST(TokenRenamer, InvalidUtf8IsCarriedThroughUnchanged) {
    const std::string name = "bad\xff:name";
    EXPECT_EQ(resolve("{name}_{index:2}", itemNamed(name + ".wav"), 3), "bad\xff_name_03");
}

} // namespace

namespace {

// 10 000 copies of {show} with a 100 kB show title would make 1 GB; the cap
// holds inside each replacement, so nothing near that size is ever built.
TEST(TokenRenamerCap, HugeExpansionStopsAtTheCap) {
    std::string pattern;
    for (int i = 0; i < 10000; ++i) pattern += "{show}";
    const std::string title(100 * 1024, 'a');
    const BatchItem item = itemNamed("ep.wav");
    for (const auto& [pat, vars] : std::vector<std::pair<std::string, std::map<std::string, std::string>>>{
             {pattern, {{"show", title}}},
             {std::string(pattern).replace(0, 6, "{name}"), {{"show", title}, {"name", title}}},
             {std::string(20000, '{') + pattern, {{"show", "\u00e9\u00e9\u00e9"}}}}) {
        const std::string name = batch::TokenRenamer().resolve(pat, item, 1, 1, vars);
        EXPECT_LE(name.size(), 64u * 1024);
        EXPECT_GT(name.size(), 60u * 1024);
        EXPECT_TRUE(core::isValidUtf8(name));
    }
}

// What a pattern lacks to tell items apart, as the clash texts advise it.
TEST(TokenRenamer, MissingItemTokens) {
    EXPECT_EQ(TokenRenamer::missingItemTokens("{show}_{ep:02}"), "{index} or {name}");
    EXPECT_EQ(TokenRenamer::missingItemTokens("{name}_{pot}"), "{index}");
    EXPECT_EQ(TokenRenamer::missingItemTokens("shot_{index:02}"), "{name}");
    EXPECT_EQ(TokenRenamer::missingItemTokens("{index}{name}"), "");
    // Neither a width form of the name nor a malformed index is the token.
    EXPECT_EQ(TokenRenamer::missingItemTokens("{name:3}_{index:}"), "{index} or {name}");
}

} // namespace
