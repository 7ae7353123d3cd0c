#include <gtest/gtest.h>

#include <vector>

#include "episode/ClipPicker.h"

using episode::CaptionWord;
using episode::ClipPicker;

namespace {

// "Hi." at 0 s, then eight words from 5 s; the last two end after 30 s, so
// the window from 5 s holds more words than the one from 0 s.
std::vector<CaptionWord> nineWords() {
    std::vector<CaptionWord> words{{"Hi.", 0, 0.5}};
    for (double t : {5.0, 6.0, 7.0, 8.0, 9.0, 10.0, 31.0, 32.0}) words.push_back({"word", t, t + 0.5});
    return words;
}

} // namespace

TEST(ClipPicker, NineWordsInFortySecondsChoose) {
    EXPECT_DOUBLE_EQ(ClipPicker::liveliestStart(nineWords(), 40, 30), 4.75);
    auto eight = nineWords();
    eight.pop_back();
    EXPECT_EQ(ClipPicker::liveliestStart(eight, 40, 30), 0);
    EXPECT_EQ(ClipPicker::liveliestStart(nineWords(), 31, 30), 0);
}

TEST(ClipPicker, EqualScoresKeepEarliestAndQuestionsWin) {
    // Sentences of three words at 0, 20 and 40 s; windows of 10 s hold one sentence each.
    std::vector<CaptionWord> words;
    for (double base : {0.0, 20.0, 40.0})
        for (int k = 0; k < 3; ++k) words.push_back({k == 2 ? "end." : "word", base + k, base + k + 0.5});
    EXPECT_EQ(ClipPicker::liveliestStart(words, 100, 10), 0);
    words[5].text = "end?";
    EXPECT_DOUBLE_EQ(ClipPicker::liveliestStart(words, 100, 10), 19.75);
}

TEST(ClipPicker, WindowPastTheEndIsNeverChosen) {
    std::vector<CaptionWord> words{{"One.", 1, 1.5}, {"two", 2, 2.5}, {"Three.", 3, 3.5}};
    for (int k = 0; k < 20; ++k) words.push_back({"dense!", 40 + k * 0.2, 40.1 + k * 0.2});
    EXPECT_DOUBLE_EQ(ClipPicker::liveliestStart(words, 46, 10), 0.75);
}

TEST(ClipPicker, BestNearZeroIsNotNegative) {
    std::vector<CaptionWord> words;
    for (int k = 0; k < 10; ++k) words.push_back({"w", 0.1 + k, 0.5 + k});
    EXPECT_EQ(ClipPicker::liveliestStart(words, 60, 20), 0);
}

TEST(ClipPicker, LoudestWindow) {
    std::vector<float> levels(300, -30.0f);
    EXPECT_EQ(ClipPicker::loudestStart(levels, 0.1, 1.0), 0);
    levels[100] = -10.0f;
    EXPECT_DOUBLE_EQ(ClipPicker::loudestStart(levels, 0.1, 1.0), 0.1 * 91);
}

TEST(ClipPicker, LoudestNeedsWindowBetweenOneStepAndTheList) {
    std::vector<float> levels(20, -30.0f);
    levels[15] = 0;
    EXPECT_EQ(ClipPicker::loudestStart(levels, 1.0, 0.5), 0);
    EXPECT_EQ(ClipPicker::loudestStart(levels, 1.0, 20), 0);
    EXPECT_EQ(ClipPicker::loudestStart(levels, 1.0, 19), 0); // both windows hold the loud step
    EXPECT_EQ(ClipPicker::loudestStart(levels, 1.0, 10), 6);
    EXPECT_EQ(ClipPicker::loudestStart(levels, 0, 10), 0);
    EXPECT_EQ(ClipPicker::loudestStart(levels, 1e-300, 1e300), 0);
}
