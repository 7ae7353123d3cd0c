#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "audio/CleanupOptions.h"
#include "audio/LoudnessTarget.h"
#include "batch/OutputClaims.h"
#include "episode/AspectRatio.h"
#include "episode/PodcastMetadata.h"

namespace episode {

// Where the audiogram excerpt starts.
struct ClipChoice {
    enum class Kind { at, start, automatic };
    Kind kind = Kind::start;
    double seconds = 0; // for `at`

    static ClipChoice at(double s) { return {Kind::at, s}; }
    static ClipChoice start() { return {Kind::start, 0}; }
    static ClipChoice automatic() { return {Kind::automatic, 0}; }
    bool operator==(const ClipChoice& o) const {
        return kind == o.kind && (kind != Kind::at || seconds == o.seconds);
    }
};

// How chapters are made.
struct ChapterSetting {
    enum class Kind { manual, off, automatic };
    Kind kind = Kind::off;
    std::string text; // for `manual`: one entry per line, a time, a blank, a title

    static ChapterSetting manual(std::string t) { return {Kind::manual, std::move(t)}; }
    static ChapterSetting off() { return {Kind::off, {}}; }
    static ChapterSetting automatic() { return {Kind::automatic, {}}; }
    bool operator==(const ChapterSetting& o) const {
        return kind == o.kind && (kind != Kind::manual || text == o.text);
    }
};

// Everything one episode's package needs.
struct MultiFormatExportRequest {
    std::filesystem::path sourceURL;
    std::filesystem::path destinationDirectory;
    std::string baseFileName; // the stem of every output name
    PodcastMetadata metadata;
    bool generateMaster = true;
    bool generateRSSMaster = true;
    bool generateWhisperReference = false;
    bool generateAudiogram = false;
    audio::LoudnessTarget targetLUFS = audio::LoudnessTarget::stereoPodcast();
    audio::CleanupOptions cleanup = audio::CleanupOptions::none();
    std::optional<std::filesystem::path> introURL;
    std::optional<std::filesystem::path> outroURL;
    bool generateTranscripts = false;
    bool captionAudiogram = false;
    AspectRatio audiogramAspect = AspectRatio::square;
    double audiogramSeconds = 45;
    ClipChoice audiogramClip = ClipChoice::start();
    bool removeFillers = false;
    ChapterSetting chapters = ChapterSetting::off();
    std::string transcriptLocale; // a locale identifier such as "en_US"; empty: the user's current locale
    // The batch item's hold on its run's outputs: every deliverable is
    // claimed before it is written. Checks nothing when made outside a run.
    batch::OutputClaimant claimant;

    MultiFormatExportRequest() = default;
    // The first nine fields; the rest take the defaults above.
    MultiFormatExportRequest(std::filesystem::path source, std::filesystem::path destination,
                             std::string baseName, PodcastMetadata tags, bool master, bool rss,
                             bool whisper, bool audiogram, audio::LoudnessTarget target)
        : sourceURL(std::move(source)), destinationDirectory(std::move(destination)),
          baseFileName(std::move(baseName)), metadata(std::move(tags)), generateMaster(master),
          generateRSSMaster(rss), generateWhisperReference(whisper), generateAudiogram(audiogram),
          targetLUFS(target) {}

    bool operator==(const MultiFormatExportRequest&) const = default;
};

} // namespace episode
