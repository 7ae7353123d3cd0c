#include <gtest/gtest.h>

#include <cstdlib>
#include <ostream>

#include <fmt/format.h>

#include "batch/ExportablePresetBundle.h"
#include "presets/PresetSettingsCodec.h"

using presets::PresetSettingsCodec;
using presets::Vertical;
using CodecError = PresetSettingsCodec::CodecError;
using Map = PresetSettingsCodec::SettingsMap;
namespace fs = std::filesystem;

namespace {

// The description of the error a strict makePreset throws, or "" for none.
std::string strictError(Vertical v, const Map& values) {
    try {
        PresetSettingsCodec::makePreset(v, values, true);
    } catch (const CodecError& e) {
        return e.what();
    }
    return "";
}

template <typename P> P applied(const Map& values, bool strict = false) {
    P p;
    PresetSettingsCodec::apply(values, p, strict);
    return p;
}

struct ErrorCase {
    Vertical vertical;
    std::string key, value, message;
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.key << "=" << c.value; }

const std::string kBool = "(expected true or false)";

std::string invalid(const std::string& key, const std::string& value, const std::string& expected) {
    return "Invalid value '" + value + "' for '" + key + "' (expected " + expected + ")";
}

std::vector<ErrorCase> errorCases() {
    std::vector<ErrorCase> c;
    const auto add = [&](Vertical v, const std::string& key, const std::string& value, const std::string& expected) {
        c.push_back({v, key, value, invalid(key, value, expected)});
    };
    for (const char* key : {"straighten", "stripGPS", "web", "print", "brackets"})
        add(Vertical::halvane, key, "maybe", "true or false");
    add(Vertical::halvane, "portal", "Trulia", "mls, zillow, airbnb or custom");
    add(Vertical::halvane, "aspect", "1:1", "original, 4:3, 3:2 or 16:9");
    add(Vertical::halvane, "webMaxPixels", "100", "a whole number 256-16384");
    add(Vertical::halvane, "webMaxKB", " 49 ", "a whole number 50-100000");
    add(Vertical::halvane, "watermarkOpacity", "0", "a number 0.05 to 1.0");
    c.push_back({Vertical::halvane, "size", "1",
                 "Unknown option 'size'. Options: address, straighten, stripGPS, web, print, portal, aspect, "
                 "brackets, webMaxPixels, webMaxKB, watermark, watermarkOpacity"});

    for (const char* key : {"pot", "square", "mipmaps", "trim", "halfScale", "rotate", "makeNormal"})
        add(Vertical::zentrix, key, "2", "true or false");
    add(Vertical::zentrix, "mode", "bogus", "channel, normal, height, pot, sprite or tiling");
    add(Vertical::zentrix, "profile", "Unity", "unreal, gltf, hdrp or urp");
    add(Vertical::zentrix, "normal", "y+", "gl or dx");
    add(Vertical::zentrix, "potMode", "2000", "nearest, up, down or a power of two");
    add(Vertical::zentrix, "maxSize", "16385", "a whole number 0-16384");
    add(Vertical::zentrix, "padding", "17", "a whole number 0-16");
    add(Vertical::zentrix, "extrude", "-1", "a whole number 0-8");
    add(Vertical::zentrix, "format", "xml", "json, json-array, cocos, godot or unity");
    add(Vertical::zentrix, "strength", "0.4", "a number 0.5 to 10.0");
    c.push_back({Vertical::zentrix, "Mode", "pot",
                 "Unknown option 'Mode'. Options: mode, profile, normal, pot, potMode, square, maxSize, mipmaps, "
                 "trim, padding, extrude, halfScale, format, rotate, strength, makeNormal"});

    for (const char* key : {"rumble", "gate", "leveler", "trimSilence", "master", "rss", "whisper", "transcript",
                            "audiogram", "captions", "fillers"})
        add(Vertical::quorvel, key, "Yes please", "true or false");
    add(Vertical::quorvel, "episode", "100000", "a whole number 0-99999");
    add(Vertical::quorvel, "standard", "loud", "apple, spotify, youtube, ebu, atsc, acx, custom");
    add(Vertical::quorvel, "lufs", "-4", "a number -40.0 to -5.0");
    add(Vertical::quorvel, "hum", "50 Hz", "off, auto, 50 or 60");
    add(Vertical::quorvel, "maxPause", "31", "a number 0.0 to 30.0");
    add(Vertical::quorvel, "aspect", "round", "square, vertical or wide");
    add(Vertical::quorvel, "clip", "later", "auto, start or a time like 12:30");
    add(Vertical::quorvel, "clipLength", "9.99", "a number 10.0 to 120.0");
    add(Vertical::quorvel, "chapters", "yes", "off, auto or manual");
    c.push_back({Vertical::quorvel, "loudness", "-16",
                 "Unknown option 'loudness'. Options: show, host, episode, standard, lufs, rumble, hum, gate, "
                 "leveler, trimSilence, maxPause, intro, outro, master, rss, whisper, transcript, audiogram, "
                 "captions, aspect, clip, clipLength, fillers, chapters, chapterList, artwork"});
    return c;
}

// Keys whose value is never refused.
const std::map<Vertical, std::set<std::string>> kFreeKeys = {
    {Vertical::halvane, {"address", "watermark"}},
    {Vertical::zentrix, {}},
    {Vertical::quorvel, {"show", "host", "intro", "outro", "chapterList", "artwork"}},
};

} // namespace

class StrictErrors : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(StrictErrors, ExactText) {
    const auto& c = GetParam();
    EXPECT_EQ(strictError(c.vertical, {{c.key, c.value}}), c.message);
    // Lenient mode drops it and gives the default preset's settings.
    // (A web value without a portal still marks the web set as custom.)
    const auto lenient = PresetSettingsCodec::makePreset(c.vertical, {{c.key, c.value}}, false);
    auto expected = PresetSettingsCodec::encode(*presets::defaultPreset(c.vertical));
    if (c.vertical == Vertical::halvane && (c.key == "webMaxPixels" || c.key == "webMaxKB" || c.key == "aspect"))
        expected["portal"] = "custom";
    EXPECT_EQ(PresetSettingsCodec::encode(*lenient), expected);
}

INSTANTIATE_TEST_SUITE_P(EveryKey, StrictErrors, ::testing::ValuesIn(errorCases()),
                         [](const auto& info) { return fmt::format("{}_{}", info.index, info.param.key); });

TEST(SettingsApply, EveryRefusableKeyHasAnErrorCase) {
    for (const auto v : presets::allVerticals()) {
        std::set<std::string> covered = kFreeKeys.at(v);
        for (const auto& c : errorCases())
            if (c.vertical == v) covered.insert(c.key);
        for (const auto& o : PresetSettingsCodec::options(v)) EXPECT_TRUE(covered.contains(o.key)) << o.key;
    }
}

TEST(SettingsApply, CodecErrorCarriesItsParts) {
    try {
        applied<presets::ZentrixPreset>({{"padding", " 99"}}, true);
        FAIL();
    } catch (const CodecError& e) {
        EXPECT_EQ(e.kind(), CodecError::Kind::invalidValue);
        EXPECT_EQ(e.key(), "padding");
        EXPECT_EQ(e.value(), " 99"); // as it stood, untrimmed
        EXPECT_EQ(e.expected(), "a whole number 0-16");
        EXPECT_EQ(e, CodecError::invalidValue("padding", " 99", "a whole number 0-16"));
        EXPECT_FALSE(e == CodecError::invalidValue("padding", "99", "a whole number 0-16"));
    }
    const auto unknown = CodecError::unknownKey("x", {"a", "b"});
    EXPECT_STREQ(unknown.what(), "Unknown option 'x'. Options: a, b");
    EXPECT_EQ(unknown.allowed(), (std::vector<std::string>{"a", "b"}));
}

TEST(SettingsApply, RealEstatePortalFirstThenExplicitValues) {
    const auto p = applied<presets::HalvanePreset>({{"portal", "AIRBNB"}, {"webMaxKB", "5000"}});
    EXPECT_EQ(p.portal(), presets::Portal::airbnb);
    EXPECT_EQ(p.maxWebDimension, 3000.0);
    EXPECT_EQ(p.webAspect, presets::WebAspect::threeTwo);
    EXPECT_EQ(p.maxWebFileSizeKB, 5000);

    const auto alone = applied<presets::HalvanePreset>({{"webMaxPixels", "1600"}});
    EXPECT_EQ(alone.portal(), presets::Portal::custom);
    EXPECT_EQ(alone.maxWebDimension, 1600.0);
    EXPECT_EQ(alone.maxWebFileSizeKB, 2000);
    const auto zillow = applied<presets::HalvanePreset>({{"webMaxPixels", "1600"}, {"portal", "zillow"}});
    EXPECT_EQ(zillow.portal(), presets::Portal::zillow);
    EXPECT_EQ(zillow.maxWebDimension, 1600.0);
    EXPECT_EQ(zillow.maxWebFileSizeKB, 10000);
    EXPECT_EQ(applied<presets::HalvanePreset>({{"aspect", "16:9"}}).portal(), presets::Portal::custom);
    EXPECT_EQ(applied<presets::HalvanePreset>({{"address", "x"}}).portal(), presets::Portal::mls);
    // Even a refused web value marks the set as the user's own.
    EXPECT_EQ(applied<presets::HalvanePreset>({{"webMaxKB", "1"}}).portal(), presets::Portal::custom);
}

TEST(SettingsApply, RefusedWebDimension) {
    EXPECT_EQ(strictError(Vertical::halvane, {{"webMaxPixels", "100"}}),
              "Invalid value '100' for 'webMaxPixels' (expected a whole number 256-16384)");
    EXPECT_EQ(applied<presets::HalvanePreset>({{"webMaxPixels", "100"}}).maxWebDimension, 2048.0);
}

TEST(SettingsApply, OpacityAndWatermark) {
    EXPECT_EQ(applied<presets::HalvanePreset>({{"watermarkOpacity", "0.07"}}, true).watermarkOpacity, 0.07);
    const char* home = std::getenv("HOME");
    ASSERT_NE(home, nullptr);
    EXPECT_EQ(applied<presets::HalvanePreset>({{"watermark", "  ~/logo.png\t"}}, true).watermarkURL,
              fs::path(home) / "logo.png");
    EXPECT_EQ(applied<presets::HalvanePreset>({{"watermark", "/a/b c/logo.png"}}, true).watermarkURL,
              fs::path("/a/b c/logo.png"));
    EXPECT_EQ(applied<presets::HalvanePreset>({{"watermark", "logo.png"}}, true).watermarkURL,
              fs::current_path() / "logo.png");
    for (const char* empty : {"", "   "}) {
        presets::HalvanePreset p;
        p.watermarkURL = fs::path("/old.png");
        PresetSettingsCodec::apply({{"watermark", empty}}, p, true);
        EXPECT_FALSE(p.watermarkURL);
    }
}

TEST(SettingsApply, ValueReaders) {
    using C = PresetSettingsCodec;
    EXPECT_TRUE(C::boolValue("k", " YES "));
    EXPECT_FALSE(C::boolValue("k", "Off"));
    EXPECT_TRUE(C::boolValue("k", "\t1"));
    EXPECT_THROW(C::boolValue("k", "2"), CodecError);
    EXPECT_THROW(C::boolValue("k", "true\n"), CodecError); // line breaks are not blanks
    EXPECT_EQ(C::intValue("k", "+12", 0, 16), 12);
    EXPECT_EQ(C::intValue("k", " -3 ", -5, 16), -3);
    for (const char* bad : {"12.0", "1 2", "", "0x10", "99999999999999999999", "++1"})
        EXPECT_THROW(C::intValue("k", bad, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()),
                     CodecError)
            << bad;
    EXPECT_EQ(C::doubleValue("k", "1e1", 0, 100), 10.0);
    EXPECT_EQ(C::doubleValue("k", ".5", 0, 1), 0.5);
    EXPECT_EQ(C::doubleValue("k", " +0.25 ", 0, 1), 0.25);
    for (const char* bad : {"nan", "inf", "-inf", "1,5", "", "0.5x"}) EXPECT_THROW(C::doubleValue("k", bad, -1e308, 1e308), CodecError) << bad;
}

TEST(SettingsApply, TextureWords) {
    using presets::OperationalMode;
    const auto fixed = applied<presets::ZentrixPreset>({{"potMode", "2048"}}, true);
    EXPECT_EQ(fixed.potScaleMode, image::ScaleMode::fixedTarget(2048));
    EXPECT_EQ(applied<presets::ZentrixPreset>({{"potMode", "RoundDown"}}, true).potScaleMode,
              image::ScaleMode::roundDownPowerOfTwo());
    EXPECT_EQ(applied<presets::ZentrixPreset>({{"potMode", "UP"}}, true).potScaleMode,
              image::ScaleMode::roundUpPowerOfTwo());
    for (const char* bad : {"2000", "32768", "0", " 2048", "-2"})
        EXPECT_EQ(strictError(Vertical::zentrix, {{"potMode", bad}}),
                  std::string("Invalid value '") + bad + "' for 'potMode' (expected nearest, up, down or a power of two)");
    EXPECT_EQ(PresetSettingsCodec::scaleMode("1"), image::ScaleMode::fixedTarget(1));
    EXPECT_EQ(PresetSettingsCodec::scaleMode("16384"), image::ScaleMode::fixedTarget(16384));
    EXPECT_EQ(PresetSettingsCodec::mode("Bump"), OperationalMode::normalFromHeight);
    EXPECT_EQ(PresetSettingsCodec::mode("Seamless Tiling Check"), OperationalMode::tilingCheck);
    EXPECT_EQ(PresetSettingsCodec::mode("ATLAS"), OperationalMode::spriteSheetAtlas);
    EXPECT_EQ(PresetSettingsCodec::mode("ORM"), OperationalMode::channelPackingORM);
    EXPECT_EQ(PresetSettingsCodec::mode("normalmap"), OperationalMode::normalMapConvert);
    EXPECT_EQ(PresetSettingsCodec::mode("Resize"), OperationalMode::powerOfTwoEnforce);
    EXPECT_FALSE(PresetSettingsCodec::mode("seamless tiling check"));
    EXPECT_FALSE(PresetSettingsCodec::mode(" pot"));
    EXPECT_EQ(applied<presets::ZentrixPreset>({{"profile", "HDRP"}, {"format", "Json-Array"}, {"normal", "DX"}}, true)
                  .spriteFormat,
              image::DataFormat::jsonArray);
}

TEST(SettingsApply, TextureColumnsAreIgnoredAndOrderIsSorted) {
    EXPECT_EQ(strictError(Vertical::zentrix, {{"columns", "anything"}}), "");
    // Sorted key order: "format" is handled before "trim", whatever the map.
    EXPECT_EQ(strictError(Vertical::zentrix, {{"trim", "x"}, {"format", "y"}}),
              "Invalid value 'y' for 'format' (expected json, json-array, cocos, godot or unity)");
}

TEST(SettingsApply, PodcastLevelPicksTheStandardOnlyWithoutOne) {
    using presets::LoudnessStandard;
    auto p = applied<presets::QuorvelPreset>({{"lufs", "-16.02"}}, true);
    EXPECT_EQ(p.loudnessStandard(), LoudnessStandard::applePodcasts);
    EXPECT_EQ(p.targetLUFS, -16.0);
    p = applied<presets::QuorvelPreset>({{"lufs", "-15.9"}}, true);
    EXPECT_EQ(p.loudnessStandard(), LoudnessStandard::custom);
    EXPECT_EQ(p.targetLUFS, -15.9);
    p = applied<presets::QuorvelPreset>({{"lufs", "-14"}}, true);
    EXPECT_EQ(p.loudnessStandard(), LoudnessStandard::spotify);
    p = applied<presets::QuorvelPreset>({{"lufs", "-23.04"}}, true);
    EXPECT_EQ(p.loudnessStandard(), LoudnessStandard::ebuR128);
    EXPECT_EQ(p.targetLUFS, -23.0);
    p = applied<presets::QuorvelPreset>({{"lufs", "-24"}}, true);
    EXPECT_EQ(p.loudnessStandard(), LoudnessStandard::atsc);
    p = applied<presets::QuorvelPreset>({{"standard", "acx"}, {"lufs", "-18"}}, true);
    EXPECT_EQ(p.loudnessStandard(), LoudnessStandard::acx);
    EXPECT_EQ(p.targetLUFS, -18.0);
    p = applied<presets::QuorvelPreset>({{"standard", "EBU"}}, true);
    EXPECT_EQ(p.loudnessStandard(), LoudnessStandard::ebuR128);
    EXPECT_EQ(p.targetLUFS, -23.0);
    // "standard" runs first although "lufs" sorts before it, so the level wins.
    p = applied<presets::QuorvelPreset>({{"lufs", "-19"}, {"standard", "spotify"}}, true);
    EXPECT_EQ(p.loudnessStandard(), LoudnessStandard::spotify);
    EXPECT_EQ(p.targetLUFS, -19.0);
    // A refused level leaves the standard's own.
    p = applied<presets::QuorvelPreset>({{"lufs", "-50"}, {"standard", "youtube"}});
    EXPECT_EQ(p.loudnessStandard(), LoudnessStandard::youtube);
    EXPECT_EQ(p.targetLUFS, -14.0);
}

TEST(SettingsApply, HumAndClipWords) {
    EXPECT_EQ(applied<presets::QuorvelPreset>({{"hum", "50Hz"}}, true).cleanup.humRemoval, audio::HumMode::hz50);
    EXPECT_EQ(applied<presets::QuorvelPreset>({{"hum", "60hz"}}, true).cleanup.humRemoval, audio::HumMode::hz60);
    EXPECT_EQ(applied<presets::QuorvelPreset>({{"hum", "OFF"}}, true).cleanup.humRemoval, audio::HumMode::off);
    EXPECT_EQ(applied<presets::QuorvelPreset>({{"clip", " Best "}}, true).audiogramClip, episode::ClipChoice::automatic());
    EXPECT_EQ(applied<presets::QuorvelPreset>({{"clip", "12:30"}}, true).audiogramClip, episode::ClipChoice::at(750));
    EXPECT_EQ(applied<presets::QuorvelPreset>({{"clip", "00:00"}}, true).audiogramClip, episode::ClipChoice::start());
    EXPECT_EQ(applied<presets::QuorvelPreset>({{"clip", "1:02:05"}}, true).audiogramClip, episode::ClipChoice::at(3725));
    EXPECT_EQ(applied<presets::QuorvelPreset>({{"clip", "90"}}, true).audiogramClip, episode::ClipChoice::at(90));
    // Non-finite, absurdly long and negative times are refused like any other word.
    for (const char* bad : {"later", "inf", "nan", "1e300", "9999999999", "-5", "1:2:3:4", "12:3o"})
        EXPECT_EQ(strictError(Vertical::quorvel, {{"clip", bad}}),
                  std::string("Invalid value '") + bad + "' for 'clip' (expected auto, start or a time like 12:30)");
}

TEST(SettingsApply, NamingPatternIsNeverApplied) {
    for (const auto v : presets::allVerticals()) {
        EXPECT_EQ(strictError(v, {{"namingPattern", "{name}_x"}}), "");
        const auto p = PresetSettingsCodec::makePreset(v, {{"namingPattern", "{name}_x"}}, true);
        EXPECT_EQ(p->id(), presets::presetID(v));
        EXPECT_EQ(PresetSettingsCodec::encode(*p), PresetSettingsCodec::encode(*presets::defaultPreset(v)));
    }
}

TEST(SettingsApply, StrictStopsAtTheFirstRefusalInOrder) {
    presets::HalvanePreset p;
    EXPECT_THROW(PresetSettingsCodec::apply({{"address", "X"}, {"brackets", "maybe"}, {"web", "false"}}, p, true),
                 CodecError);
    EXPECT_EQ(p.propertyAddress, "X"); // applied before the refusal
    EXPECT_TRUE(p.exportWebPackage);   // after it: not reached
}

TEST(SettingsApply, LenientSkipsOnlyTheRefusedEntry) {
    presets::QuorvelPreset p;
    PresetSettingsCodec::apply({{"show", "Night Shift"}, {"episode", "ten"}, {"hum", "60"}, {"clip", "soon"},
                                {"volume", "11"}, {"clipLength", "30"}, {"standard", "nope"}, {"lufs", "-19"}},
                               p, false);
    EXPECT_EQ(p.showTitle, "Night Shift");
    EXPECT_EQ(p.episodeNumber, 1);
    EXPECT_EQ(p.cleanup.humRemoval, audio::HumMode::hz60);
    EXPECT_EQ(p.audiogramClip, episode::ClipChoice::automatic());
    EXPECT_EQ(p.audiogramSeconds, 30.0);
    // The map has a (refused) standard entry, so the level does not pick one.
    EXPECT_EQ(p.loudnessStandard(), presets::LoudnessStandard::applePodcasts);
    EXPECT_EQ(p.targetLUFS, -19.0);
}

TEST(SettingsApply, MakePresetGivesTheEditionsType) {
    const auto q = PresetSettingsCodec::makePreset(Vertical::quorvel, {{"show", "X"}}, true);
    const auto* podcast = dynamic_cast<const presets::QuorvelPreset*>(q.get());
    ASSERT_NE(podcast, nullptr);
    EXPECT_EQ(podcast->showTitle, "X");
    EXPECT_NE(dynamic_cast<const presets::ZentrixPreset*>(PresetSettingsCodec::makePreset(Vertical::zentrix, {}, true).get()),
              nullptr);
    EXPECT_THROW(PresetSettingsCodec::makePreset(Vertical::quorvel, {{"show", "X"}, {"x", "y"}}, true), CodecError);
}

TEST(SettingsApply, Bundle) {
    const auto before = core::Clock::now();
    presets::QuorvelPreset p;
    p.showTitle = "Night Shift";
    const auto b = PresetSettingsCodec::bundle("My show", p, "{show}-{ep:03}");
    EXPECT_EQ(b.version, "1.0");
    EXPECT_EQ(b.presetID, "com.tembrook.quorvel");
    EXPECT_EQ(b.presetName, "My show");
    EXPECT_EQ(b.verticalName, "Podcasting & Video Editing");
    EXPECT_EQ(b.defaultNamingPattern, "{show}_{ep:02}_{title}");
    EXPECT_EQ(b.configuration.size(), 27u);
    EXPECT_EQ(b.configuration.at("namingPattern"), "{show}-{ep:03}");
    EXPECT_EQ(b.configuration.at("show"), "Night Shift");
    EXPECT_GE(b.exportedAt, before);
    EXPECT_LE(b.exportedAt, core::Clock::now());
    auto config = b.configuration;
    config.erase("namingPattern");
    EXPECT_EQ(Map(config.begin(), config.end()), PresetSettingsCodec::encode(p));
}
