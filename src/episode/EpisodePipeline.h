#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/LoudnessTarget.h"
#include "episode/MultiFormatExportRequest.h"

namespace episode {

// Endings the pipeline writes after an episode's base name (the output
// planner repeats them). The master's ending depends on the target: see
// masterSuffix.
inline constexpr std::string_view kRSSMP3Suffix = "_RSS_192k.mp3";
inline constexpr std::string_view kRSSAACSuffix = "_RSS.m4a";
inline constexpr std::string_view kACXCheckSuffix = "_ACX_Check.txt";
inline constexpr std::string_view kWhisperReferenceSuffix = "_WhisperRef_16k.wav";
inline constexpr std::string_view kTranscriptSRTSuffix = "_Transcript.srt";
inline constexpr std::string_view kTranscriptVTTSuffix = "_Transcript.vtt";
inline constexpr std::string_view kTranscriptTextSuffix = "_Transcript.txt";
inline constexpr std::string_view kChaptersJSONSuffix = "_Chapters.json";
inline constexpr std::string_view kChaptersTextSuffix = "_Chapters.txt";
inline constexpr std::string_view kAudiogramSuffix = "_Audiogram.mp4";

// "_Master_ACX.wav" for an ACX target, else "_Master_<LUFS>LUFS.wav" with the
// level printed without decimals ("_Master_-16LUFS.wav").
std::string masterSuffix(const audio::LoudnessTarget& target);

// The episode pipeline as the presets see it: one package per request.
// Implementations are safe to call from several items at once.
class EpisodePipeline {
public:
    using Progress = std::function<void(double, const std::string&)>;
    using Log = std::function<void(const std::string&)>;

    virtual ~EpisodePipeline() = default;

    // Writes the episode's package into the request's destination folder and
    // returns the written files in the order written. Throws on a failure
    // that stops the package; either callback may be empty.
    virtual std::vector<std::filesystem::path> processMultiFormat(const MultiFormatExportRequest& request,
                                                                  Progress onProgress, Log onLog) const = 0;

    // True when the RSS file is an MP3 ("_RSS_192k.mp3"), false for AAC ("_RSS.m4a").
    virtual bool producesMP3() const = 0;

    static std::string masterSuffix(const audio::LoudnessTarget& target) { return episode::masterSuffix(target); }
};

// The process-wide pipeline. Until one is registered this is a stand-in
// whose processMultiFormat fails with "The episode pipeline is not available."
// A pipeline once registered stays alive for the rest of the process, so the
// reference stays valid after another is registered.
EpisodePipeline& sharedEpisodePipeline();
std::shared_ptr<EpisodePipeline> sharedEpisodePipelinePointer();
void setSharedEpisodePipeline(std::shared_ptr<EpisodePipeline> pipeline);

} // namespace episode
