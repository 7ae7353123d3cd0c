// The podcast option table and its apply order ("standard" first, so that an
// explicit "lufs" overrides the standard's level).

#include <cmath>

#include "episode/ChapterBuilder.h"
#include "presets/PlatformTexts.h"
#include "presets/SettingsTable.h"

namespace presets {

namespace settings {

namespace {

using C = PresetSettingsCodec;
using P = QuorvelPreset;

std::string clipText(const episode::ClipChoice& clip) {
    switch (clip.kind) {
    case episode::ClipChoice::Kind::start: return "start";
    case episode::ClipChoice::Kind::automatic: return "auto";
    case episode::ClipChoice::Kind::at: break;
    }
    return episode::ChapterBuilder::clock(clip.seconds, false);
}

std::string standardsList() {
    std::string out;
    for (const auto s : allLoudnessStandards()) {
        if (!out.empty()) out += ", ";
        out += rawValue(s);
    }
    return out;
}

// A level read from "lufs" without a "standard" entry also picks the
// standard: one of the fixed levels (within 0.05) snaps to it, anything else
// is custom. Spotify comes before YouTube, so -14 is Spotify.
void applyLevel(P& p, double level, bool hasStandard) {
    if (hasStandard) {
        p.targetLUFS = level;
        return;
    }
    const LoudnessStandard order[] = {LoudnessStandard::applePodcasts, LoudnessStandard::spotify,
                                      LoudnessStandard::ebuR128, LoudnessStandard::atsc};
    for (const auto s : order) {
        const double fixed = *lufs(s);
        if (std::fabs(level - fixed) < 0.05) {
            p.setLoudnessStandard(s); // sets targetLUFS to exactly `fixed`
            return;
        }
    }
    p.setLoudnessStandard(LoudnessStandard::custom);
    p.targetLUFS = level;
}


} // namespace

const OptionTable<QuorvelPreset>& quorvelTable() {
    static const OptionTable<P> table = {
        {"show", "Podcast / show title", [](const P& p) { return p.showTitle; },
         [](P& p, const std::string&, const std::string& v, const SettingsMap&) { p.showTitle = v; }},
        {"host", "Host or artist name", [](const P& p) { return p.hostName; },
         [](P& p, const std::string&, const std::string& v, const SettingsMap&) { p.hostName = v; }},
        {"episode", "Episode number of the first file", [](const P& p) { return C::wholeText(p.episodeNumber); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.episodeNumber = C::intValue(k, v, 0, 99999);
         }},
        {"standard", "Loudness standard: apple | spotify | youtube | ebu | atsc | acx | custom",
         [](const P& p) { return std::string(rawValue(p.loudnessStandard())); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.setLoudnessStandard(lowered(
                 k, v, [](const std::string& t) { return loudnessStandardFromRaw(t); }, standardsList()));
         }},
        {"lufs", "Custom target loudness, e.g. -19 for mono spoken word",
         [](const P& p) { return C::decimalText(p.targetLUFS); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap& all) {
             applyLevel(p, C::doubleValue(k, v, -40.0, -5.0), all.contains("standard"));
         }},
        {"rumble", "Clean-up: 80 Hz rumble filter (true/false)",
         [](const P& p) { return C::boolText(p.cleanup.rumbleFilter); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.cleanup.rumbleFilter = C::boolValue(k, v);
         }},
        {"hum", "Clean-up: hum removal off | auto | 50 | 60",
         [](const P& p) { return std::string(audio::rawValue(p.cleanup.humRemoval)); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.cleanup.humRemoval = lowered(
                 k, v, [](const std::string& t) { return audio::humModeFromRaw(core::replaceAll(t, "hz", "")); },
                 "off, auto, 50 or 60");
         }},
        {"gate", "Clean-up: noise gate between phrases (true/false)",
         [](const P& p) { return C::boolText(p.cleanup.noiseGate); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.cleanup.noiseGate = C::boolValue(k, v);
         }},
        {"leveler", "Clean-up: even out loud and quiet speakers (true/false)",
         [](const P& p) { return C::boolText(p.cleanup.leveler); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.cleanup.leveler = C::boolValue(k, v);
         }},
        {"trimSilence", "Clean-up: cut dead air at the start and end (true/false)",
         [](const P& p) { return C::boolText(p.cleanup.trimSilence); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.cleanup.trimSilence = C::boolValue(k, v);
         }},
        {"maxPause", "Clean-up: shorten pauses longer than this many seconds, 0 for off",
         [](const P& p) { return C::decimalText(p.cleanup.maxPauseSeconds); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.cleanup.maxPauseSeconds = C::doubleValue(k, v, 0.0, 30.0);
         }},
        {"intro", "Path to intro music (empty for none)", [](const P& p) { return C::fileText(p.introURL); },
         [](P& p, const std::string&, const std::string& v, const SettingsMap&) { p.introURL = C::fileURL(v); }},
        {"outro", "Path to outro music (empty for none)", [](const P& p) { return C::fileText(p.outroURL); },
         [](P& p, const std::string&, const std::string& v, const SettingsMap&) { p.outroURL = C::fileURL(v); }},
        {"master", "Export the 24-bit WAV master (true/false)",
         [](const P& p) { return C::boolText(p.generateMaster); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.generateMaster = C::boolValue(k, v);
         }},
        {"rss", "Export the RSS file (true/false)", [](const P& p) { return C::boolText(p.generateRSSMaster); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.generateRSSMaster = C::boolValue(k, v);
         }},
        {"whisper", "Export the 16 kHz Whisper reference (true/false)",
         [](const P& p) { return C::boolText(p.generateWhisperReference); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.generateWhisperReference = C::boolValue(k, v);
         }},
        {"transcript", platformtexts::kTranscriptHelp,
         [](const P& p) { return C::boolText(p.generateTranscripts); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.generateTranscripts = C::boolValue(k, v);
         }},
        {"audiogram", "Export the audiogram video (true/false)",
         [](const P& p) { return C::boolText(p.generateAudiogram); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.generateAudiogram = C::boolValue(k, v);
         }},
        {"captions", platformtexts::kCaptionsHelp,
         [](const P& p) { return C::boolText(p.captionAudiogram); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.captionAudiogram = C::boolValue(k, v);
         }},
        {"aspect", "Audiogram shape: square | vertical | wide",
         [](const P& p) { return std::string(episode::key(p.audiogramAspect)); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             const auto shape = episode::aspectRatioFromKey(v);
             if (!shape) throw CodecError::invalidValue(k, v, "square, vertical or wide");
             p.audiogramAspect = *shape;
         }},
        {"clip", "Audiogram clip: auto (liveliest part) | start | a start time like 12:30",
         [](const P& p) { return clipText(p.audiogramClip); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             const auto clip = C::clip(v);
             if (!clip) throw CodecError::invalidValue(k, v, "auto, start or a time like 12:30");
             p.audiogramClip = *clip;
         }},
        {"clipLength", "Audiogram length in seconds, 10-120",
         [](const P& p) { return C::decimalText(p.audiogramSeconds); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.audiogramSeconds = C::doubleValue(k, v, 10.0, 120.0);
         }},
        {"fillers", platformtexts::kFillersHelp,
         [](const P& p) { return C::boolText(p.removeFillerWords); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.removeFillerWords = C::boolValue(k, v);
         }},
        {"chapters", "Chapter markers: off | auto | manual",
         [](const P& p) { return std::string(rawValue(p.chapterMode)); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.chapterMode = lowered(k, v, [](const std::string& t) { return chapterModeFromRaw(t); },
                                     "off, auto or manual");
         }},
        {"chapterList", "Chapters for manual mode, e.g. \"0:00 Intro; 5:30 Interview\"",
         [](const P& p) { return p.chapterList; },
         [](P& p, const std::string&, const std::string& v, const SettingsMap&) { p.chapterList = v; }},
        {"artwork", "Path to cover art (empty for none)", [](const P& p) { return C::fileText(p.artworkURL); },
         [](P& p, const std::string&, const std::string& v, const SettingsMap&) { p.artworkURL = C::fileURL(v); }},
    };
    return table;
}

} // namespace settings

void PresetSettingsCodec::apply(const SettingsMap& values, QuorvelPreset& preset, bool strict) {
    settings::applyEntries(settings::quorvelTable(), preset, settings::ordered(values, "standard"), values, strict);
}

} // namespace presets
