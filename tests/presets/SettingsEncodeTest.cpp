#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "presets/PresetSettingsCodec.h"
#include "support/TestSupport.h"

using presets::PresetSettingsCodec;
using presets::Vertical;
using Map = PresetSettingsCodec::SettingsMap;

namespace {

std::vector<std::string> keysOf(Vertical v) {
    std::vector<std::string> out;
    for (const auto& o : PresetSettingsCodec::options(v)) out.push_back(o.key);
    return out;
}

} // namespace

TEST(SettingsEncode, OptionTablesInOrder) {
    EXPECT_EQ(keysOf(Vertical::halvane),
              (std::vector<std::string>{"address", "straighten", "stripGPS", "web", "print", "portal", "aspect",
                                        "brackets", "webMaxPixels", "webMaxKB", "watermark", "watermarkOpacity"}));
    EXPECT_EQ(keysOf(Vertical::zentrix),
              (std::vector<std::string>{"mode", "profile", "normal", "pot", "potMode", "square", "maxSize",
                                        "mipmaps", "trim", "padding", "extrude", "halfScale", "format", "rotate",
                                        "strength", "makeNormal"}));
    EXPECT_EQ(keysOf(Vertical::quorvel),
              (std::vector<std::string>{"show", "host", "episode", "standard", "lufs", "rumble", "hum", "gate",
                                        "leveler", "trimSilence", "maxPause", "intro", "outro", "master", "rss",
                                        "whisper", "transcript", "audiogram", "captions", "aspect", "clip",
                                        "clipLength", "fillers", "chapters", "chapterList", "artwork"}));
    EXPECT_EQ(PresetSettingsCodec::namingPatternKey, "namingPattern");
}

TEST(SettingsEncode, HelpTexts) {
    const auto h = PresetSettingsCodec::options(Vertical::halvane);
    EXPECT_EQ(h[0].help, "Property address used by the {address} token");
    EXPECT_EQ(h[5].help, "Web set for: mls | zillow | airbnb | custom (sets size, shape and file-size cap)");
    EXPECT_EQ(h[11].help, "Watermark opacity 0.1-1.0");
    const auto z = PresetSettingsCodec::options(Vertical::zentrix);
    EXPECT_EQ(z[2].help, "Normal map target: gl (OpenGL: Unity, Blender, Godot) | dx (DirectX: Unreal)");
    EXPECT_EQ(z[13].help, "Sprite sheets: rotate frames to pack tighter (json and cocos formats; true/false)");
    const auto q = PresetSettingsCodec::options(Vertical::quorvel);
    EXPECT_EQ(q[3].help, "Loudness standard: apple | spotify | youtube | ebu | atsc | acx | custom");
    EXPECT_EQ(q[20].help, "Audiogram clip: auto (liveliest part) | start | a start time like 12:30");
    EXPECT_EQ(q[24].help, "Chapters for manual mode, e.g. \"0:00 Intro; 5:30 Interview\"");
    EXPECT_EQ(q[25].help, "Path to cover art (empty for none)");
}

TEST(SettingsEncode, DefaultRealEstatePreset) {
    EXPECT_EQ(PresetSettingsCodec::encode(presets::HalvanePreset()),
              (Map{{"address", "1042_Maple_Lane"}, {"straighten", "true"}, {"stripGPS", "true"}, {"web", "true"},
                   {"print", "true"}, {"portal", "mls"}, {"aspect", "original"}, {"brackets", "false"},
                   {"webMaxPixels", "2048"}, {"webMaxKB", "2000"}, {"watermark", ""}, {"watermarkOpacity", "0.85"}}));
}

TEST(SettingsEncode, DefaultTexturePreset) {
    EXPECT_EQ(PresetSettingsCodec::encode(presets::ZentrixPreset()),
              (Map{{"mode", "channel"}, {"profile", "unreal"}, {"normal", "gl"}, {"pot", "true"},
                   {"potMode", "nearest"}, {"square", "false"}, {"maxSize", "0"}, {"mipmaps", "false"},
                   {"trim", "true"}, {"padding", "2"}, {"extrude", "1"}, {"halfScale", "false"}, {"format", "json"},
                   {"rotate", "false"}, {"strength", "2.0"}, {"makeNormal", "false"}}));
}

TEST(SettingsEncode, DefaultPodcastPreset) {
    EXPECT_EQ(PresetSettingsCodec::encode(presets::QuorvelPreset()),
              (Map{{"show", "Brindlemoor Podcast"}, {"host", "Velmora Master"}, {"episode", "1"},
                   {"standard", "apple"}, {"lufs", "-16.0"}, {"rumble", "true"}, {"hum", "auto"}, {"gate", "false"},
                   {"leveler", "true"}, {"trimSilence", "true"}, {"maxPause", "0.0"}, {"intro", ""}, {"outro", ""},
                   {"master", "true"}, {"rss", "true"}, {"whisper", "false"}, {"transcript", "true"},
                   {"audiogram", "true"}, {"captions", "true"}, {"aspect", "square"}, {"clip", "auto"},
                   {"clipLength", "45.0"}, {"fillers", "false"}, {"chapters", "off"}, {"chapterList", ""},
                   {"artwork", ""}}));
}

TEST(SettingsEncode, ValueForms) {
    presets::QuorvelPreset q;
    q.audiogramClip = episode::ClipChoice::at(750);
    EXPECT_EQ(PresetSettingsCodec::encode(q).at("clip"), "12:30");
    q.audiogramClip = episode::ClipChoice::at(3725);
    EXPECT_EQ(PresetSettingsCodec::encode(q).at("clip"), "1:02:05");
    q.audiogramClip = episode::ClipChoice::at(59.9);
    EXPECT_EQ(PresetSettingsCodec::encode(q).at("clip"), "00:59");
    q.audiogramClip = episode::ClipChoice::start();
    q.showTitle = " semi;colon\nline ";
    q.introURL = std::filesystem::path("/music/my intro.wav");
    q.audiogramAspect = episode::AspectRatio::landscape;
    q.cleanup.humRemoval = audio::HumMode::hz50;
    const auto m = PresetSettingsCodec::encode(q);
    EXPECT_EQ(m.at("clip"), "start");
    EXPECT_EQ(m.at("show"), " semi;colon\nline ");
    EXPECT_EQ(m.at("intro"), "/music/my intro.wav");
    EXPECT_EQ(m.at("aspect"), "wide");
    EXPECT_EQ(m.at("hum"), "50");

    presets::ZentrixPreset z;
    z.potScaleMode = image::ScaleMode::fixedTarget(1024);
    EXPECT_EQ(PresetSettingsCodec::encode(z).at("potMode"), "1024");
    z.potScaleMode = image::ScaleMode::roundDownPowerOfTwo();
    z.operationalMode = presets::OperationalMode::normalMapConvert;
    z.normalTarget = image::NormalConvention::directX;
    z.spriteFormat = image::DataFormat::jsonArray;
    const auto zm = PresetSettingsCodec::encode(z);
    EXPECT_EQ(zm.at("potMode"), "down");
    EXPECT_EQ(zm.at("mode"), "normal");
    EXPECT_EQ(zm.at("normal"), "dx");
    EXPECT_EQ(zm.at("format"), "json-array");

    presets::HalvanePreset h;
    h.maxWebDimension = 2047.9;
    EXPECT_EQ(PresetSettingsCodec::encode(h).at("webMaxPixels"), "2047");
    h.setPortal(presets::Portal::zillow);
    EXPECT_EQ(PresetSettingsCodec::encode(h).at("aspect"), "4:3");
}

TEST(SettingsEncode, NumbersThatCannotBecomeIntegersAreClamped) {
    presets::HalvanePreset h;
    h.maxWebDimension = std::nan("");
    EXPECT_EQ(PresetSettingsCodec::encode(h).at("webMaxPixels"), "0");
    h.maxWebDimension = std::numeric_limits<double>::infinity();
    EXPECT_EQ(PresetSettingsCodec::encode(h).at("webMaxPixels"), "9223372036854775807");
    h.maxWebDimension = -1e300;
    EXPECT_EQ(PresetSettingsCodec::encode(h).at("webMaxPixels"), "-9223372036854775808");
    h.maxWebDimension = -3.7;
    EXPECT_EQ(PresetSettingsCodec::encode(h).at("webMaxPixels"), "-3");
    presets::QuorvelPreset q;
    q.audiogramClip = episode::ClipChoice::at(std::numeric_limits<double>::infinity());
    EXPECT_FALSE(PresetSettingsCodec::encode(q).at("clip").empty());
    q.audiogramClip = episode::ClipChoice::at(std::nan(""));
    EXPECT_EQ(PresetSettingsCodec::encode(q).at("clip"), "00:00");
    q.audiogramClip = episode::ClipChoice::at(-30);
    EXPECT_EQ(PresetSettingsCodec::encode(q).at("clip"), "00:00");
}

TEST(SettingsEncode, DecimalText) {
    using C = PresetSettingsCodec;
    EXPECT_EQ(C::decimalText(-16), "-16.0");
    EXPECT_EQ(C::decimalText(45), "45.0");
    EXPECT_EQ(C::decimalText(0), "0.0");
    EXPECT_EQ(C::decimalText(0.85), "0.85");
    EXPECT_EQ(C::decimalText(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(C::decimalText(1e300), "1e+300");
    EXPECT_EQ(C::decimalText(std::numeric_limits<double>::infinity()), "inf");
}

TEST(SettingsEncode, DecimalsIgnoreACommaDecimalLocale) {
    testsupport::CommaDecimalLocale comma;
    if (!comma.available()) GTEST_SKIP() << "no comma-decimal locale installed";
    presets::ZentrixPreset z;
    z.normalStrength = 2.5;
    EXPECT_EQ(PresetSettingsCodec::encode(z).at("strength"), "2.5");
    EXPECT_EQ(PresetSettingsCodec::encode(presets::HalvanePreset()).at("watermarkOpacity"), "0.85");
    presets::QuorvelPreset q;
    PresetSettingsCodec::apply({{"lufs", "-18.5"}, {"maxPause", "1.25"}}, q, true);
    EXPECT_EQ(q.targetLUFS, -18.5);
    EXPECT_EQ(q.cleanup.maxPauseSeconds, 1.25);
    EXPECT_THROW(PresetSettingsCodec::apply({{"lufs", "-18,5"}}, q, true), PresetSettingsCodec::CodecError);
}

namespace {
class ForeignPreset : public batch::BatchPreset {
public:
    std::string id() const override { return "x"; }
    std::string displayName() const override { return "x"; }
    std::string verticalName() const override { return "x"; }
    std::string description() const override { return "x"; }
    std::string systemIconName() const override { return "x"; }
    std::set<std::string> supportedExtensions() const override { return {}; }
    std::string defaultNamingPattern() const override { return "{name}"; }
    std::vector<std::filesystem::path> process(const batch::BatchItem&, const batch::ProcessingContext&) const override {
        return {};
    }
};
} // namespace

TEST(SettingsEncode, AnyPresetEncodesByItsType) {
    const std::unique_ptr<batch::BatchPreset> q = std::make_unique<presets::QuorvelPreset>();
    EXPECT_EQ(PresetSettingsCodec::encode(*q).size(), 26u);
    EXPECT_EQ(PresetSettingsCodec::encode(*presets::defaultPreset(Vertical::halvane)).size(), 12u);
    EXPECT_EQ(PresetSettingsCodec::encode(*presets::defaultPreset(Vertical::zentrix)).size(), 16u);
    EXPECT_TRUE(PresetSettingsCodec::encode(ForeignPreset()).empty());
}
