#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "audio/CleanupOptions.h"
#include "audio/LoudnessTarget.h"
#include "batch/BatchPreset.h"
#include "core/EnumTable.h"
#include "core/Error.h"
#include "episode/AspectRatio.h"
#include "episode/EpisodePipeline.h"
#include "episode/MultiFormatExportRequest.h"

namespace presets {

// Delivery loudness of an episode.
enum class LoudnessStandard { applePodcasts, spotify, youtube, ebuR128, atsc, acx, custom };

inline constexpr core::EnumTable<LoudnessStandard, 7> kLoudnessStandards{{{
    {LoudnessStandard::applePodcasts, "apple", "Apple Podcasts (-16 LUFS)"},
    {LoudnessStandard::spotify, "spotify", "Spotify (-14 LUFS)"},
    {LoudnessStandard::youtube, "youtube", "YouTube (-14 LUFS)"},
    {LoudnessStandard::ebuR128, "ebu", "Broadcast EBU R128 (-23 LUFS)"},
    {LoudnessStandard::atsc, "atsc", "Broadcast ATSC A/85 (-24 LKFS)"},
    {LoudnessStandard::acx, "acx", "Audible / ACX audiobook"},
    {LoudnessStandard::custom, "custom", "Custom"},
}}};

inline std::string_view rawValue(LoudnessStandard s) { return kLoudnessStandards.rawValue(s); }
inline std::string_view displayName(LoudnessStandard s) { return kLoudnessStandards.displayName(s); }
inline std::optional<LoudnessStandard> loudnessStandardFromRaw(std::string_view raw) { return kLoudnessStandards.fromRaw(raw); }
inline std::vector<LoudnessStandard> allLoudnessStandards() { return kLoudnessStandards.allCases(); }
// The standard's fixed level; none for acx and custom.
std::optional<double> lufs(LoudnessStandard s);
// The true-peak ceiling in dBTP.
double truePeak(LoudnessStandard s);
// The first standard, in case order, whose level is less than 0.05 away.
std::optional<LoudnessStandard> matchingLoudnessStandard(double lufs);

// Chapter markers of an episode.
enum class ChapterMode { off, automatic, manual };

inline constexpr core::EnumTable<ChapterMode, 3> kChapterModes{{{
    {ChapterMode::off, "off", "Off"},
    {ChapterMode::automatic, "auto", "Automatic (from pauses)"},
    {ChapterMode::manual, "manual", "My list"},
}}};

inline std::string_view rawValue(ChapterMode m) { return kChapterModes.rawValue(m); }
inline std::string_view displayName(ChapterMode m) { return kChapterModes.displayName(m); }
inline std::optional<ChapterMode> chapterModeFromRaw(std::string_view raw) { return kChapterModes.fromRaw(raw); }
inline std::vector<ChapterMode> allChapterModes() { return kChapterModes.allCases(); }

// Failures of the podcast preset itself (the pipeline's own errors pass through).
class PodcastPresetError : public core::Error {
public:
    using core::Error::Error;
    static PodcastPresetError episodeNumberOutOfRange(std::int64_t firstEpisode, std::int64_t itemIndex);
};

// The podcast edition's preset: every option of an episode export. process()
// hands one request per episode to the episode pipeline.
class QuorvelPreset : public batch::BatchPreset {
public:
    using LoudnessStandard = presets::LoudnessStandard;
    using ChapterMode = presets::ChapterMode;

    // Every option at its default (the edition's default preset).
    QuorvelPreset();
    // The standard is the one matching targetLUFS, else custom; the
    // standard's side effect does not run here.
    QuorvelPreset(std::string showTitle, std::string hostName, std::int64_t episodeNumber, double targetLUFS,
                  bool generateRSSMaster, bool generateWhisperReference, bool generateAudiogram,
                  std::optional<std::filesystem::path> artworkURL);

    std::string id() const override;
    std::string displayName() const override;
    std::string verticalName() const override;
    std::string description() const override;
    std::string systemIconName() const override;
    std::set<std::string> supportedExtensions() const override;
    std::string defaultNamingPattern() const override;

    std::vector<std::filesystem::path> process(const batch::BatchItem& item,
                                               const batch::ProcessingContext& context) const override;

    // Setting a standard with a fixed level also sets targetLUFS to it, also
    // when the standard was already set; acx and custom keep targetLUFS.
    LoudnessStandard loudnessStandard() const { return loudnessStandard_; }
    void setLoudnessStandard(LoudnessStandard standard);

    // acx: -20 LUFS, -3.5 dBTP; otherwise targetLUFS at the standard's peak.
    audio::LoudnessTarget loudnessTarget() const;
    // The episode number of the job's item at itemIndex (from 1). Throws
    // PodcastPresetError when it leaves the range of the tags' numbers.
    int episodeNumberOf(std::int64_t itemIndex) const;
    // The naming variables show, ep and title of an item.
    std::map<std::string, std::string> namingVariables(const batch::BatchItem& item, int episode) const;

    // cleanup, with 1.0 s room tone for acx.
    audio::CleanupOptions effectiveCleanup() const;

    // The pipeline process() hands requests to; none means the shared one.
    void setPipeline(std::shared_ptr<const episode::EpisodePipeline> pipeline) { pipeline_ = std::move(pipeline); }

    std::string showTitle = "Brindlemoor Podcast";
    std::string hostName = "Velmora Master";
    std::int64_t episodeNumber = 1; // of the first item of a batch
    // loudnessStandard (observed) sits here in the option order.
    double targetLUFS = -16;
    audio::CleanupOptions cleanup{true, audio::HumMode::autoDetect, false, true, true, 0};
    std::optional<std::filesystem::path> introURL;
    std::optional<std::filesystem::path> outroURL;
    bool generateMaster = true;
    bool generateRSSMaster = true;
    bool generateWhisperReference = false;
    bool generateTranscripts = true;
    bool generateAudiogram = true;
    bool captionAudiogram = true;
    episode::AspectRatio audiogramAspect = episode::AspectRatio::square;
    episode::ClipChoice audiogramClip = episode::ClipChoice::automatic();
    double audiogramSeconds = 45;
    bool removeFillerWords = false;
    ChapterMode chapterMode = ChapterMode::off;
    std::string chapterList;
    std::optional<std::filesystem::path> artworkURL;

private:
    LoudnessStandard loudnessStandard_ = LoudnessStandard::applePodcasts;
    std::shared_ptr<const episode::EpisodePipeline> pipeline_;
};

} // namespace presets
