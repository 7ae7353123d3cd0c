#include <gtest/gtest.h>

#include "presets/HalvanePreset.h"
#include "presets/QuorvelPreset.h"
#include "presets/Vertical.h"

#include <fmt/format.h>
#include <ostream>
#include "presets/ZentrixPreset.h"

using presets::Vertical;

TEST(Vertical, CasesAndTexts) {
    EXPECT_EQ(presets::allVerticals(), (std::vector<Vertical>{Vertical::halvane, Vertical::zentrix, Vertical::quorvel}));
    EXPECT_EQ(presets::rawValue(Vertical::zentrix), "texture");
    EXPECT_EQ(presets::displayName(Vertical::halvane), "Halvane Pro");
    EXPECT_EQ(presets::displayName(Vertical::zentrix), "Zentrix Express");
    EXPECT_EQ(presets::displayName(Vertical::quorvel), "Quorvel");
    EXPECT_EQ(presets::presetID(Vertical::halvane), "com.tembrook.halvanepro");
    EXPECT_EQ(presets::presetID(Vertical::zentrix), "com.tembrook.zentrix");
    EXPECT_EQ(presets::presetID(Vertical::quorvel), "com.tembrook.quorvel");
}

TEST(Vertical, DefaultPresetsAreOfTheEditionsType) {
    for (const auto v : presets::allVerticals()) EXPECT_EQ(presets::defaultPreset(v)->id(), presets::presetID(v));
    EXPECT_NE(dynamic_cast<presets::HalvanePreset*>(presets::defaultPreset(Vertical::halvane).get()), nullptr);
    EXPECT_NE(dynamic_cast<presets::ZentrixPreset*>(presets::defaultPreset(Vertical::zentrix).get()), nullptr);
    auto q = presets::defaultPreset(Vertical::quorvel);
    auto* quorvel = dynamic_cast<presets::QuorvelPreset*>(q.get());
    ASSERT_NE(quorvel, nullptr);
    EXPECT_EQ(quorvel->loudnessStandard(), presets::LoudnessStandard::applePodcasts);
}

struct NameCase {
    const char* name;
    std::optional<Vertical> byName, byRaw, byID;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }

class VerticalLookup : public ::testing::TestWithParam<NameCase> {};

TEST_P(VerticalLookup, ByNameRawAndPresetID) {
    const auto& c = GetParam();
    EXPECT_EQ(presets::verticalFromName(c.name), c.byName);
    EXPECT_EQ(presets::verticalFromRaw(c.name), c.byRaw);
    EXPECT_EQ(presets::verticalFromPresetID(c.name), c.byID);
}

INSTANTIATE_TEST_SUITE_P(
    Names, VerticalLookup,
    ::testing::Values(NameCase{"PODCAST", Vertical::quorvel, std::nullopt, std::nullopt},
                      NameCase{"Texture", Vertical::zentrix, std::nullopt, std::nullopt},
                      NameCase{"texture", Vertical::zentrix, Vertical::zentrix, std::nullopt},
                      NameCase{" podcast", std::nullopt, std::nullopt, std::nullopt},
                      NameCase{"zentrix", Vertical::zentrix, std::nullopt, std::nullopt},
                      NameCase{"game", Vertical::zentrix, std::nullopt, std::nullopt},
                      NameCase{"photos", Vertical::halvane, std::nullopt, std::nullopt},
                      NameCase{"real-estate", Vertical::halvane, std::nullopt, std::nullopt},
                      NameCase{"Halvane Pro", std::nullopt, std::nullopt, std::nullopt},
                      NameCase{"", std::nullopt, std::nullopt, std::nullopt},
                      NameCase{"com.tembrook.quorvel", Vertical::quorvel, std::nullopt, Vertical::quorvel},
                      NameCase{"COM.TEMBROOK.QUORVEL", Vertical::quorvel, std::nullopt, std::nullopt},
                      NameCase{"com.tembrook.halvanepro", Vertical::halvane, std::nullopt, Vertical::halvane},
                      NameCase{"halvane", Vertical::halvane, Vertical::halvane, std::nullopt}),
    [](const auto& info) { return fmt::format("case{}", info.index); });
