#include "audio/ACXReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>

#include "audio/LoudnessTarget.h"
#include "support/TestSupport.h"

using audio::ACXReport;
using audio::LoudnessTarget;

namespace {

TEST(LoudnessTarget, NamedTargets) {
    EXPECT_EQ(LoudnessTarget::stereoPodcast(), (LoudnessTarget{-16, -1.5, 11, false}));
    EXPECT_EQ(LoudnessTarget::monoPodcast(), (LoudnessTarget{-19, -1.5, 11, false}));
    EXPECT_EQ(LoudnessTarget::audibleACX(), (LoudnessTarget{-20, -3.5, 11, true}));
    EXPECT_NE(LoudnessTarget::stereoPodcast(), LoudnessTarget::monoPodcast());
}

class ACXRules : public ::testing::TestWithParam<std::tuple<double, double, double, bool, bool, bool>> {};

TEST_P(ACXRules, BoundsAreInclusiveAndNaNFails) {
    const auto [rms, peak, noise, rmsOK, peakOK, noiseOK] = GetParam();
    const ACXReport r{rms, peak, noise, 44100, {}};
    EXPECT_EQ(r.rmsOK(), rmsOK);
    EXPECT_EQ(r.peakOK(), peakOK);
    EXPECT_EQ(r.noiseOK(), noiseOK);
    EXPECT_EQ(r.passes(), rmsOK && peakOK && noiseOK);
}

INSTANTIATE_TEST_SUITE_P(
    Values, ACXRules,
    ::testing::Values(std::make_tuple(-18.0, -3.0, -60.0, true, true, true),
                      std::make_tuple(-23.0, -3.5, -70.0, true, true, true),
                      std::make_tuple(-17.95, -3.0, -60.0, false, true, true),
                      std::make_tuple(-23.05, -2.99, -59.9, false, false, false),
                      std::make_tuple(NAN, NAN, NAN, false, false, false)));

TEST(ACXReport, PassingReportText) {
    const ACXReport r{-19.9, -3.5, -64.2, 44100, {}};
    EXPECT_EQ(r.text(),
              "Audible / ACX audio check\n"
              "==========================\n"
              "PASS  RMS level       -19.9 dB   (needs -23 to -18 dB)\n"
              "PASS  Peak level       -3.5 dB   (needs -3 dB or lower)\n"
              "PASS  Noise floor     -64.2 dB   (needs -60 dB or lower)\n"
              "Sample rate    44100 Hz    (ACX wants 44100 Hz; upload as 192 kbps CBR MP3)\n"
              "\n"
              "Overall: PASSES the ACX audio requirements.\n");
}

TEST(ACXReport, FailingRMSSaysNotYetWithoutTheTip) {
    const std::string t = ACXReport{-17.95, -3.5, -64.2, 48000, {}}.text();
    EXPECT_NE(t.find("FAIL  RMS level       -17.9 dB"), std::string::npos) << t;
    EXPECT_NE(t.find("Sample rate    48000 Hz    ("), std::string::npos);
    EXPECT_NE(t.find("\nOverall: Does NOT pass yet. See the FAIL lines above.\n"), std::string::npos);
    EXPECT_EQ(t.find("Tip:"), std::string::npos);
    EXPECT_EQ(t.back(), '\n');
}

class NoisyFloorTip : public ::testing::TestWithParam<std::tuple<bool, std::string>> {};

// The tip suggests the gate only when it is off; with it on, what else helps.
TEST_P(NoisyFloorTip, AddsTheTipAsANinthLine) {
    const auto& [gateOn, tipText] = GetParam();
    const std::string t = ACXReport{-20, -4, -55, 44100.9, {}, gateOn}.text();
    EXPECT_NE(t.find("FAIL  Noise floor     -55.0 dB"), std::string::npos);
    EXPECT_NE(t.find("Sample rate    44100 Hz"), std::string::npos);   // fraction dropped
    const std::string tip = "\n" + tipText;
    ASSERT_GE(t.size(), tip.size());
    EXPECT_EQ(t.substr(t.size() - tip.size()), tip);
    EXPECT_EQ(std::count(t.begin(), t.end(), '\n'), 8);
}

INSTANTIATE_TEST_SUITE_P(
    Gate, NoisyFloorTip,
    ::testing::Values(std::make_tuple(false, "Tip: turn on the noise gate, or record with less background noise."),
                      std::make_tuple(true, "Tip: the noise gate is on; record in a quieter room, or run a "
                                            "noise-reduction pass before importing.")));

TEST(ACXReport, RoomToneLinesJudgeHeadAndTailInclusively) {
    const auto report = [](double head, double tail) {
        return ACXReport{-19.9, -3.5, -64.2, 44100, audio::RoomTone{head, tail}};
    };
    EXPECT_EQ(report(0.75, 2.5).text(),
              "Audible / ACX audio check\n"
              "==========================\n"
              "PASS  RMS level       -19.9 dB   (needs -23 to -18 dB)\n"
              "PASS  Peak level       -3.5 dB   (needs -3 dB or lower)\n"
              "PASS  Noise floor     -64.2 dB   (needs -60 dB or lower)\n"
              "PASS  Room tone head   0.75 s    (needs 0.5 to 1 s)\n"
              "PASS  Room tone tail   2.50 s    (needs 1 to 5 s)\n"
              "Sample rate    44100 Hz    (ACX wants 44100 Hz; upload as 192 kbps CBR MP3)\n"
              "\n"
              "Overall: PASSES the ACX audio requirements.\n");
    EXPECT_TRUE(report(0.5, 1.0).passes());
    EXPECT_TRUE(report(1.0, 5.0).passes());
    EXPECT_FALSE(report(0.49, 2.5).passes());
    EXPECT_FALSE(report(1.01, 2.5).passes());
    EXPECT_FALSE(report(0.75, 0.99).passes());
    EXPECT_FALSE(report(0.75, 5.01).passes());
    const std::string music = report(0, 0).text();
    EXPECT_NE(music.find("FAIL  Room tone head   0.00 s"), std::string::npos) << music;
    EXPECT_NE(music.find("FAIL  Room tone tail   0.00 s"), std::string::npos) << music;
    EXPECT_NE(music.find("\nOverall: Does NOT pass yet. See the FAIL lines above.\n"), std::string::npos) << music;
}

TEST(ACXReport, NumbersIgnoreTheUserLocale) {
    testsupport::CommaDecimalLocale comma;
    if (!comma.available()) GTEST_SKIP() << "no comma-decimal locale installed";
    const ACXReport r{-19.9, -3.5, -64.2, 44100, {}};
    EXPECT_NE(r.text().find("-19.9 dB"), std::string::npos);
}

} // namespace
