#include "presets/QuorvelPreset.h"

#include <cmath>
#include <ctime>
#include <limits>
#include <map>

#include <fmt/format.h>

#include "batch/TokenRenamer.h"
#include "core/Text.h"

namespace presets {

namespace {

struct StandardLevels {
    LoudnessStandard value;
    std::optional<double> lufs;
    double truePeak;
};

constexpr StandardLevels kLevels[] = {
    {LoudnessStandard::applePodcasts, -16.0, -1.0}, {LoudnessStandard::spotify, -14.0, -1.0},
    {LoudnessStandard::youtube, -14.0, -1.0},       {LoudnessStandard::ebuR128, -23.0, -1.0},
    {LoudnessStandard::atsc, -24.0, -2.0},          {LoudnessStandard::acx, std::nullopt, -3.5},
    {LoudnessStandard::custom, std::nullopt, -1.0},
};

const StandardLevels& levels(LoudnessStandard s) {
    for (const auto& l : kLevels)
        if (l.value == s) return l;
    return kLevels[0];
}

// The year of the current date in the local time zone.
std::optional<int> currentYear() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) == nullptr) return std::nullopt;
    return local.tm_year + 1900;
}

episode::ChapterSetting chapterSetting(ChapterMode mode, const std::string& list) {
    switch (mode) {
    case ChapterMode::automatic:
        return episode::ChapterSetting::automatic();
    case ChapterMode::manual:
        return episode::ChapterSetting::manual(list);
    case ChapterMode::off:
        break;
    }
    return episode::ChapterSetting::off();
}

} // namespace

std::optional<double> lufs(LoudnessStandard s) { return levels(s).lufs; }
double truePeak(LoudnessStandard s) { return levels(s).truePeak; }

std::optional<LoudnessStandard> matchingLoudnessStandard(double value) {
    for (const auto s : allLoudnessStandards()) {
        const auto level = lufs(s);
        if (level && std::fabs(*level - value) < 0.05) return s;
    }
    return std::nullopt;
}

PodcastPresetError PodcastPresetError::episodeNumberOutOfRange(std::int64_t firstEpisode, std::int64_t itemIndex) {
    return PodcastPresetError(fmt::format(
        "The episode number is out of range: the batch starts at episode {} and this is file {}.", firstEpisode,
        itemIndex));
}

QuorvelPreset::QuorvelPreset()
    : QuorvelPreset("Brindlemoor Podcast", "Velmora Master", 1, -16.0, true, false, true, std::nullopt) {}

QuorvelPreset::QuorvelPreset(std::string showTitle, std::string hostName, std::int64_t episodeNumber,
                             double targetLUFS, bool generateRSSMaster, bool generateWhisperReference,
                             bool generateAudiogram, std::optional<std::filesystem::path> artworkURL)
    : showTitle(std::move(showTitle)), hostName(std::move(hostName)), episodeNumber(episodeNumber),
      targetLUFS(targetLUFS), generateRSSMaster(generateRSSMaster),
      generateWhisperReference(generateWhisperReference), generateAudiogram(generateAudiogram),
      artworkURL(std::move(artworkURL)),
      loudnessStandard_(matchingLoudnessStandard(targetLUFS).value_or(LoudnessStandard::custom)) {}

std::string QuorvelPreset::id() const { return "com.tembrook.quorvel"; }
std::string QuorvelPreset::displayName() const { return "Quorvel"; }
std::string QuorvelPreset::verticalName() const { return "Podcasting & Video Editing"; }
std::string QuorvelPreset::description() const {
    return "Cleans up and loudness-matches episodes for Apple, Spotify, YouTube, broadcast or Audible (ACX), adds "
           "intro/outro music, tags the RSS file, and makes on-device transcripts and captioned audiograms.";
}
std::string QuorvelPreset::systemIconName() const { return "waveform.badge.mic"; }
std::set<std::string> QuorvelPreset::supportedExtensions() const {
    return {"wav", "aif", "aiff", "mp3", "m4a", "flac", "mov", "mp4", "caf"};
}
std::string QuorvelPreset::defaultNamingPattern() const { return "{show}_{ep:02}_{title}"; }

void QuorvelPreset::setLoudnessStandard(LoudnessStandard standard) {
    loudnessStandard_ = standard;
    if (const auto level = lufs(standard)) targetLUFS = *level;
}

audio::LoudnessTarget QuorvelPreset::loudnessTarget() const {
    if (loudnessStandard_ == LoudnessStandard::acx) return {-20.0, -3.5, 11.0, true};
    return {targetLUFS, truePeak(loudnessStandard_), 11.0, false};
}

audio::CleanupOptions QuorvelPreset::effectiveCleanup() const {
    audio::CleanupOptions out = cleanup;
    if (loudnessStandard_ == LoudnessStandard::acx) out.roomToneSeconds = 1.0;
    return out;
}

int QuorvelPreset::episodeNumberOf(std::int64_t itemIndex) const {
    // First item of the batch gets episodeNumber, the next one more, ...
    std::int64_t episode = 0;
    if (__builtin_add_overflow(episodeNumber, itemIndex - 1, &episode) || episode < std::numeric_limits<int>::min() ||
        episode > std::numeric_limits<int>::max())
        throw PodcastPresetError::episodeNumberOutOfRange(episodeNumber, itemIndex);
    return static_cast<int>(episode);
}

std::map<std::string, std::string> QuorvelPreset::namingVariables(const batch::BatchItem& item, int episode) const {
    return {
        {"show", showTitle},
        {"ep", fmt::format("{}", episode)},
        {"title", item.originalFileName},
    };
}

std::vector<std::filesystem::path> QuorvelPreset::process(const batch::BatchItem& item,
                                                          const batch::ProcessingContext& context) const {
    const auto pipeline = pipeline_ ? pipeline_ : episode::sharedEpisodePipelinePointer();

    const int episode = episodeNumberOf(context.itemIndex);
    const std::string baseName = batch::TokenRenamer().resolve(context.configuration.namingPattern, item,
                                                              context.itemIndex, context.totalItems,
                                                              namingVariables(item, episode));

    episode::PodcastMetadata tags;
    tags.title = core::replaceAll(item.originalFileName, "_", " ");
    tags.artist = hostName;
    tags.podcastName = showTitle;
    tags.episodeNumber = episode;
    tags.seasonNumber = std::nullopt;
    tags.showNotes = loudnessStandard_ == LoudnessStandard::acx
                         ? std::string("Exported with Quorvel for Audible / ACX.")
                         : fmt::format("Exported with Quorvel. Loudness normalized to {:.0f} LUFS.", targetLUFS);
    tags.releaseYear = currentYear();
    tags.artworkURL = artworkURL;

    episode::MultiFormatExportRequest request(item.sourceURL, context.configuration.outputDirectory, baseName,
                                              std::move(tags), generateMaster, generateRSSMaster,
                                              generateWhisperReference, generateAudiogram, loudnessTarget());
    request.cleanup = effectiveCleanup();
    request.introURL = introURL;
    request.outroURL = outroURL;
    request.generateTranscripts = generateTranscripts;
    request.captionAudiogram = captionAudiogram;
    request.audiogramAspect = audiogramAspect;
    request.audiogramSeconds = audiogramSeconds;
    request.audiogramClip = audiogramClip;
    request.removeFillers = removeFillerWords;
    request.chapters = chapterSetting(chapterMode, chapterList);
    request.claimant = context.claimant;

    // The callbacks forward unchanged; each holds its own copy of the
    // context's callable.
    auto onProgress = [progress = context.onProgressUpdate](double fraction, const std::string& message) {
        if (progress) progress(fraction, message);
    };
    auto onLog = [log = context.log](const std::string& line) {
        if (log) log(line);
    };
    return pipeline->processMultiFormat(request, onProgress, onLog);
}

} // namespace presets
