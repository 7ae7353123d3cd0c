#include "audio/CleanupOptions.h"

#include <gtest/gtest.h>

#include <string>
#include <unordered_set>

using audio::CleanupOptions;
using audio::HumMode;

namespace {

TEST(CleanupOptions, NoneHasEverySwitchOffAndDefaultRoomTone) {
    const CleanupOptions n = CleanupOptions::none();
    EXPECT_FALSE(n.rumbleFilter || n.noiseGate || n.leveler || n.trimSilence);
    EXPECT_EQ(n.humRemoval, HumMode::off);
    EXPECT_EQ(n.maxPauseSeconds, 0.0);
    EXPECT_EQ(n.roomToneSeconds, 0.3);
    EXPECT_EQ(CleanupOptions(false, HumMode::off, false, false, false, 0), n);
}

TEST(CleanupOptions, ConstructorSetsSixFieldsAndAlwaysThreeTenthsRoomTone) {
    const CleanupOptions o(true, HumMode::hz60, true, false, true, 2.5);
    EXPECT_TRUE(o.rumbleFilter);
    EXPECT_EQ(o.humRemoval, HumMode::hz60);
    EXPECT_TRUE(o.noiseGate);
    EXPECT_FALSE(o.leveler);
    EXPECT_TRUE(o.trimSilence);
    EXPECT_EQ(o.maxPauseSeconds, 2.5);
    EXPECT_EQ(o.roomToneSeconds, 0.3);
}

TEST(CleanupOptions, EqualityLooksAtAllSevenFields) {
    const CleanupOptions base(true, HumMode::autoDetect, false, true, true, 1.5);
    auto changed = [&](auto edit) {
        CleanupOptions o = base;
        edit(o);
        return o;
    };
    EXPECT_EQ(base, changed([](CleanupOptions&) {}));
    EXPECT_NE(base, changed([](CleanupOptions& o) { o.rumbleFilter = false; }));
    EXPECT_NE(base, changed([](CleanupOptions& o) { o.humRemoval = HumMode::hz50; }));
    EXPECT_NE(base, changed([](CleanupOptions& o) { o.noiseGate = true; }));
    EXPECT_NE(base, changed([](CleanupOptions& o) { o.leveler = false; }));
    EXPECT_NE(base, changed([](CleanupOptions& o) { o.trimSilence = false; }));
    EXPECT_NE(base, changed([](CleanupOptions& o) { o.maxPauseSeconds = 1.25; }));
    EXPECT_NE(base, changed([](CleanupOptions& o) { o.roomToneSeconds = 0.5; }));
    // Durations compare as numbers.
    EXPECT_EQ(base, changed([](CleanupOptions& o) { o.maxPauseSeconds = 3.0 / 2.0; }));
}

TEST(HumMode, CasesInOrderWithRawValuesAndDisplayNames) {
    const auto all = audio::allHumModes();
    ASSERT_EQ(all.size(), 4u);
    const std::string raw[] = {"off", "auto", "50", "60"};
    const std::string shown[] = {"Off", "Auto-detect", "50 Hz (Europe, Asia)", "60 Hz (Americas)"};
    const HumMode order[] = {HumMode::off, HumMode::autoDetect, HumMode::hz50, HumMode::hz60};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(all[i], order[i]);
        EXPECT_EQ(audio::rawValue(all[i]), raw[i]);
        EXPECT_EQ(audio::displayName(all[i]), shown[i]);
        EXPECT_EQ(audio::humModeFromRaw(raw[i]), all[i]);
    }
    EXPECT_EQ(std::unordered_set<HumMode>(all.begin(), all.end()).size(), 4u);
}

TEST(HumMode, OnlyExactRawValuesAreAccepted) {
    EXPECT_EQ(audio::humModeFromRaw("60"), HumMode::hz60);
    for (const char* text : {"Auto", "AUTO", "Off", "Auto-detect", "50 Hz (Europe, Asia)", "", " 50", "60Hz", "hz60"})
        EXPECT_FALSE(audio::humModeFromRaw(text).has_value()) << text;
}

} // namespace
