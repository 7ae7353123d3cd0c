#include <gtest/gtest.h>

#include <ostream>
#include <random>

#include <fmt/format.h>

#include "PresetComparison.h"
#include "presets/PresetSettingsCodec.h"
#include "support/TestSupport.h"

using presets::PresetSettingsCodec;
using presets::Vertical;
using Map = PresetSettingsCodec::SettingsMap;
namespace fs = std::filesystem;

namespace {

constexpr int kRounds = 3000;

class Generator {
public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    bool coin() { return std::uniform_int_distribution<int>(0, 1)(rng_) == 1; }
    std::int64_t whole(std::int64_t lo, std::int64_t hi) { return std::uniform_int_distribution<std::int64_t>(lo, hi)(rng_); }
    double real(double lo, double hi) {
        // Now and then a short decimal, otherwise a full-precision value.
        const double v = std::uniform_real_distribution<double>(lo, hi)(rng_);
        if (coin()) return std::clamp(std::round(v * 100) / 100, lo, hi);
        return v;
    }
    template <typename T> T pick(const std::vector<T>& from) {
        return from[static_cast<std::size_t>(whole(0, static_cast<std::int64_t>(from.size()) - 1))];
    }

    // Free text with blanks, separators, line breaks and non-ASCII letters.
    std::string text() {
        static const std::vector<std::string> pieces = {"a", "Z", " ", "\t", ";", "\n", "_", "{ep}", "é", "🎙",
                                                        "0:00 Intro", ",", "=", "'", "\"", "~", "\u00B7"};
        std::string out;
        for (std::int64_t n = whole(0, 12); n > 0; --n) out += pick(pieces);
        return out;
    }
    // An absolute path with no blanks at either end.
    std::optional<fs::path> file() {
        if (coin()) return std::nullopt;
        static const std::vector<std::string> segments = {"music", "My Show", "take 1", "é", "a.b", "logo.png"};
        fs::path p = "/";
        for (std::int64_t n = whole(1, 4); n > 0; --n) p /= pick(segments);
        return p;
    }

    presets::HalvanePreset halvane() {
        presets::HalvanePreset p;
        p.propertyAddress = text();
        p.setPortal(pick(presets::allPortals()));
        p.webAspect = pick(presets::allWebAspects());
        p.mergeBrackets = coin();
        p.autoStraightenVerticals = coin();
        p.stripGPSMetadata = coin();
        p.exportWebPackage = coin();
        p.exportPrintPackage = coin();
        p.maxWebDimension = static_cast<double>(whole(256, 16384));
        p.maxWebFileSizeKB = whole(50, 100000);
        p.watermarkURL = file();
        p.watermarkOpacity = real(0.05, 1.0);
        return p;
    }

    presets::ZentrixPreset zentrix() {
        presets::ZentrixPreset p;
        p.operationalMode = pick(presets::allOperationalModes());
        p.engineProfile = pick(image::allEngineProfiles());
        p.enforcePOT = coin();
        switch (whole(0, 3)) {
        case 0: p.potScaleMode = image::ScaleMode::fixedTarget(std::int64_t{1} << whole(0, 14)); break;
        case 1: p.potScaleMode = image::ScaleMode::roundUpPowerOfTwo(); break;
        case 2: p.potScaleMode = image::ScaleMode::roundDownPowerOfTwo(); break;
        default: p.potScaleMode = image::ScaleMode::nearestPowerOfTwo(); break;
        }
        p.forceSquare = coin();
        p.maxTextureSize = whole(0, 16384);
        p.generateMipmaps = coin();
        p.normalTarget = pick(image::allNormalConventions());
        p.spriteTrim = coin();
        p.spritePadding = whole(0, 16);
        p.spriteExtrude = whole(0, 8);
        p.spriteHalfScale = coin();
        p.spriteFormat = pick(image::allDataFormats());
        p.spriteRotate = coin();
        p.normalStrength = real(0.5, 10.0);
        p.generateMissingNormal = coin();
        return p;
    }

    presets::QuorvelPreset quorvel() {
        presets::QuorvelPreset p;
        p.showTitle = text();
        p.hostName = text();
        p.episodeNumber = whole(0, 99999);
        p.setLoudnessStandard(pick(presets::allLoudnessStandards()));
        p.targetLUFS = real(-40.0, -5.0);
        p.cleanup.rumbleFilter = coin();
        p.cleanup.humRemoval = pick(audio::allHumModes());
        p.cleanup.noiseGate = coin();
        p.cleanup.leveler = coin();
        p.cleanup.trimSilence = coin();
        p.cleanup.maxPauseSeconds = real(0.0, 30.0);
        p.introURL = file();
        p.outroURL = file();
        p.generateMaster = coin();
        p.generateRSSMaster = coin();
        p.generateWhisperReference = coin();
        p.generateTranscripts = coin();
        p.generateAudiogram = coin();
        p.captionAudiogram = coin();
        p.audiogramAspect = pick(episode::allAspectRatios());
        switch (whole(0, 2)) {
        // A clip start is written in whole seconds; 0 s is written as the start.
        case 0: p.audiogramClip = episode::ClipChoice::at(static_cast<double>(whole(1, 359999))); break;
        case 1: p.audiogramClip = episode::ClipChoice::start(); break;
        default: p.audiogramClip = episode::ClipChoice::automatic(); break;
        }
        p.audiogramSeconds = real(10.0, 120.0);
        p.removeFillerWords = coin();
        p.chapterMode = pick(presets::allChapterModes());
        p.chapterList = text();
        p.artworkURL = file();
        return p;
    }

private:
    std::mt19937_64 rng_;
};

std::set<std::string> tableKeys(Vertical v) {
    std::set<std::string> out;
    for (const auto& o : PresetSettingsCodec::options(v)) out.insert(o.key);
    return out;
}

std::set<std::string> keysOf(const Map& m) {
    std::set<std::string> out;
    for (const auto& [k, v] : m) out.insert(k);
    return out;
}

// Checks one encoded map: the table's keys exactly, and decimals with "." only.
::testing::AssertionResult wellFormed(const Map& m, Vertical v, std::size_t count,
                                      const std::vector<std::string>& decimalKeys) {
    if (m.size() != count) return ::testing::AssertionFailure() << fmt::format("size {}", m.size());
    if (keysOf(m) != tableKeys(v)) return ::testing::AssertionFailure() << "keys differ from the table";
    if (m.contains("namingPattern")) return ::testing::AssertionFailure() << "namingPattern written";
    for (const auto& k : decimalKeys) {
        const auto& text = m.at(k);
        if (text.find(',') != std::string::npos || text.find_first_of(".e") == std::string::npos)
            return ::testing::AssertionFailure() << k << " = " << text;
    }
    return ::testing::AssertionSuccess();
}

template <typename P> const P& as(const std::unique_ptr<batch::BatchPreset>& p) { return dynamic_cast<const P&>(*p); }

enum class LocaleMode { plain, commaDecimal };

void PrintTo(LocaleMode m, std::ostream* os) { *os << (m == LocaleMode::plain ? "C" : "comma-decimal"); }

class SettingsRoundTrip : public ::testing::TestWithParam<LocaleMode> {
protected:
    void SetUp() override {
        if (GetParam() == LocaleMode::commaDecimal) {
            locale_ = std::make_unique<testsupport::CommaDecimalLocale>();
            if (!locale_->available()) GTEST_SKIP() << "no comma-decimal locale installed";
        }
    }
    std::unique_ptr<testsupport::CommaDecimalLocale> locale_;
};

} // namespace

TEST_P(SettingsRoundTrip, RealEstate) {
    Generator gen(0x4841'4C56);
    for (int i = 0; i < kRounds; ++i) {
        const auto p = gen.halvane();
        const Map m = PresetSettingsCodec::encode(p);
        ASSERT_TRUE(wellFormed(m, Vertical::halvane, 12, {"watermarkOpacity"})) << fmt::format("round {}", i);
        const auto back = PresetSettingsCodec::makePreset(Vertical::halvane, m, true);
        ASSERT_TRUE(presettest::sameOptions(as<presets::HalvanePreset>(back), p)) << fmt::format("round {}", i);
        ASSERT_EQ(PresetSettingsCodec::encode(*back), m) << fmt::format("round {}", i);
    }
}

TEST_P(SettingsRoundTrip, Texture) {
    Generator gen(0x5A45'4E54);
    for (int i = 0; i < kRounds; ++i) {
        const auto p = gen.zentrix();
        const Map m = PresetSettingsCodec::encode(p);
        ASSERT_TRUE(wellFormed(m, Vertical::zentrix, 16, {"strength"})) << fmt::format("round {}", i);
        const auto back = PresetSettingsCodec::makePreset(Vertical::zentrix, m, true);
        ASSERT_TRUE(presettest::sameOptions(as<presets::ZentrixPreset>(back), p)) << fmt::format("round {}", i);
        ASSERT_EQ(PresetSettingsCodec::encode(*back), m) << fmt::format("round {}", i);
    }
}

TEST_P(SettingsRoundTrip, Podcast) {
    Generator gen(0x5155'4F52);
    for (int i = 0; i < kRounds; ++i) {
        const auto p = gen.quorvel();
        const Map m = PresetSettingsCodec::encode(p);
        ASSERT_TRUE(wellFormed(m, Vertical::quorvel, 26, {"lufs", "maxPause", "clipLength"})) << fmt::format("round {}", i);
        const auto back = PresetSettingsCodec::makePreset(Vertical::quorvel, m, true);
        ASSERT_TRUE(presettest::sameOptions(as<presets::QuorvelPreset>(back), p)) << fmt::format("round {}", i);
        ASSERT_EQ(PresetSettingsCodec::encode(*back), m) << fmt::format("round {}", i);
    }
}

TEST_P(SettingsRoundTrip, LenientSkipsOneBadEntryAndKeepsTheRest) {
    Generator gen(0x4C45'4E49);
    for (int i = 0; i < 300; ++i) {
        const auto p = gen.quorvel();
        Map m = PresetSettingsCodec::encode(p);
        m["episode"] = "not a number";
        const auto back = PresetSettingsCodec::makePreset(Vertical::quorvel, m, false);
        auto expected = p;
        expected.episodeNumber = 1;
        ASSERT_TRUE(presettest::sameOptions(as<presets::QuorvelPreset>(back), expected)) << fmt::format("round {}", i);
        EXPECT_THROW(PresetSettingsCodec::makePreset(Vertical::quorvel, m, true), PresetSettingsCodec::CodecError);
    }
}

INSTANTIATE_TEST_SUITE_P(Locales, SettingsRoundTrip, ::testing::Values(LocaleMode::plain, LocaleMode::commaDecimal),
                         [](const auto& info) { return info.param == LocaleMode::plain ? "C" : "CommaDecimal"; });
