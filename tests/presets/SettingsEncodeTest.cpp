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

namespace {

struct HelpRow {
    Vertical vertical;
    const char* key;
    const char* help;
};

// Every option of the three editions with its help text, in table order. The
// three options that rely on speech recognition name what this platform needs
// for it (the English speech model).
const HelpRow kHelpTexts[] = {
    {Vertical::halvane, "address", "Property address used by the {address} token"},
    {Vertical::halvane, "straighten", "Auto-straighten verticals (true/false)"},
    {Vertical::halvane, "stripGPS", "Remove GPS and private metadata (true/false)"},
    {Vertical::halvane, "web", "Export the MLS web set (true/false)"},
    {Vertical::halvane, "print", "Export the full-resolution print set (true/false)"},
    {Vertical::halvane, "portal", "Web set for: mls | zillow | airbnb | custom (sets size, shape and file-size cap)"},
    {Vertical::halvane, "aspect", "Web image shape: original | 4:3 | 3:2 | 16:9"},
    {Vertical::halvane, "brackets", "Merge exposure brackets into one photo (true/false)"},
    {Vertical::halvane, "webMaxPixels", "Longest side of web images, e.g. 2048"},
    {Vertical::halvane, "webMaxKB", "File-size cap for web images in KB, e.g. 2000"},
    {Vertical::halvane, "watermark", "Path to a PNG/JPEG logo (empty for none)"},
    {Vertical::halvane, "watermarkOpacity", "Watermark opacity 0.1-1.0"},
    {Vertical::zentrix, "mode", "channel | normal | height | pot | sprite | tiling"},
    {Vertical::zentrix, "profile", "Channel layout: unreal | gltf | hdrp | urp"},
    {Vertical::zentrix, "normal", "Normal map target: gl (OpenGL: Unity, Blender, Godot) | dx (DirectX: Unreal)"},
    {Vertical::zentrix, "pot", "Enforce power-of-two sizes (true/false)"},
    {Vertical::zentrix, "potMode", "nearest | up | down | a fixed size like 2048"},
    {Vertical::zentrix, "square", "Force square textures (true/false)"},
    {Vertical::zentrix, "maxSize", "Longest side limit in pixels, 0 for none (e.g. 2048 for mobile)"},
    {Vertical::zentrix, "mipmaps", "Export a mipmap chain (true/false)"},
    {Vertical::zentrix, "trim", "Sprite sheets: trim transparent edges (true/false)"},
    {Vertical::zentrix, "padding", "Sprite sheets: pixels between frames, 0-16"},
    {Vertical::zentrix, "extrude", "Sprite sheets: repeat edge pixels to stop bleeding, 0-8"},
    {Vertical::zentrix, "halfScale", "Sprite sheets: also write an @1x half-size sheet (true/false)"},
    {Vertical::zentrix, "format", "Sprite sheets: data file json | json-array | cocos | godot | unity"},
    {Vertical::zentrix, "rotate", "Sprite sheets: rotate frames to pack tighter (json and cocos formats; true/false)"},
    {Vertical::zentrix, "strength", "Normal from height: relief strength 0.5-10"},
    {Vertical::zentrix, "makeNormal",
     "Channel packing: make a normal map from the height map when none exists (true/false)"},
    {Vertical::quorvel, "show", "Podcast / show title"},
    {Vertical::quorvel, "host", "Host or artist name"},
    {Vertical::quorvel, "episode", "Episode number of the first file"},
    {Vertical::quorvel, "standard", "Loudness standard: apple | spotify | youtube | ebu | atsc | acx | custom"},
    {Vertical::quorvel, "lufs", "Custom target loudness, e.g. -19 for mono spoken word"},
    {Vertical::quorvel, "rumble", "Clean-up: 80 Hz rumble filter (true/false)"},
    {Vertical::quorvel, "hum", "Clean-up: hum removal off | auto | 50 | 60"},
    {Vertical::quorvel, "gate", "Clean-up: noise gate between phrases (true/false)"},
    {Vertical::quorvel, "leveler", "Clean-up: even out loud and quiet speakers (true/false)"},
    {Vertical::quorvel, "trimSilence", "Clean-up: cut dead air at the start and end (true/false)"},
    {Vertical::quorvel, "maxPause", "Clean-up: shorten pauses longer than this many seconds, 0 for off"},
    {Vertical::quorvel, "intro", "Path to intro music (empty for none)"},
    {Vertical::quorvel, "outro", "Path to outro music (empty for none)"},
    {Vertical::quorvel, "master", "Export the 24-bit WAV master (true/false)"},
    {Vertical::quorvel, "rss", "Export the RSS file (true/false)"},
    {Vertical::quorvel, "whisper", "Export the 16 kHz Whisper reference (true/false)"},
    {Vertical::quorvel, "transcript",
     "On-device transcript as .srt, .vtt and .txt (true/false, needs the English speech model)"},
    {Vertical::quorvel, "audiogram", "Export the audiogram video (true/false)"},
    {Vertical::quorvel, "captions", "Burn captions into the audiogram (true/false, needs the English speech model)"},
    {Vertical::quorvel, "aspect", "Audiogram shape: square | vertical | wide"},
    {Vertical::quorvel, "clip", "Audiogram clip: auto (liveliest part) | start | a start time like 12:30"},
    {Vertical::quorvel, "clipLength", "Audiogram length in seconds, 10-120"},
    {Vertical::quorvel, "fillers", "Cut um, uh and stuttered words (true/false, needs the English speech model)"},
    {Vertical::quorvel, "chapters", "Chapter markers: off | auto | manual"},
    {Vertical::quorvel, "chapterList", "Chapters for manual mode, e.g. \"0:00 Intro; 5:30 Interview\""},
    {Vertical::quorvel, "artwork", "Path to cover art (empty for none)"},
};

} // namespace

TEST(SettingsEncode, HelpTexts) {
    std::size_t row = 0;
    for (Vertical v : {Vertical::halvane, Vertical::zentrix, Vertical::quorvel}) {
        for (const auto& option : PresetSettingsCodec::options(v)) {
            ASSERT_LT(row, std::size(kHelpTexts)) << option.key;
            const HelpRow& expected = kHelpTexts[row++];
            EXPECT_EQ(v, expected.vertical) << option.key;
            EXPECT_EQ(option.key, expected.key);
            EXPECT_EQ(option.help, expected.help) << option.key;
        }
    }
    EXPECT_EQ(row, std::size(kHelpTexts));
    EXPECT_EQ(row, 54u);
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
