// The podcast preset's outputs: one episode package per item.

#include <memory>

#include "episode/AudioVideoPipeline.h"
#include "episode/ChapterBuilder.h"
#include "episode/EpisodePipeline.h"
#include "presets/OutputPlanner.h"
#include "presets/PlatformTexts.h"
#include "presets/QuorvelPreset.h"

namespace presets {

namespace {

// Whether on-device transcription can run: asked of the pipeline the preset
// hands its requests to (the shared one), or of the program's own pipeline
// when a stand-in is registered that can't tell.
bool transcriptionAvailable(const std::shared_ptr<episode::EpisodePipeline>& pipeline) {
    if (const auto* real = dynamic_cast<const episode::AudioVideoPipeline*>(pipeline.get()))
        return real->transcriptionAvailable();
    return episode::AudioVideoPipeline::shared().transcriptionAvailable();
}

} // namespace

OutputPlanner::Prediction OutputPlanner::planEpisode(const QuorvelPreset& preset, const Slot& slot) {
    Prediction out;

    int episodeNumber = 0;
    try {
        episodeNumber = preset.episodeNumberOf(slot.index);
    } catch (const PodcastPresetError& error) {
        // The item would fail with this text.
        out.warnings.emplace_back(error.what());
        return out;
    }
    const std::string base = slot.resolve(preset.namingVariables(slot.item, episodeNumber));

    const auto pipeline = episode::sharedEpisodePipelinePointer();
    const bool available = transcriptionAvailable(pipeline);
    const bool acx = preset.loudnessStandard() == LoudnessStandard::acx;
    const bool manualChapters = preset.chapterMode == ChapterMode::manual;
    const bool chaptersParsed = manualChapters && !episode::ChapterBuilder::parse(preset.chapterList).empty();

    auto add = [&](std::string_view suffix) { out.names.push_back(base + std::string(suffix)); };
    if (preset.generateMaster) add(episode::EpisodePipeline::masterSuffix(preset.loudnessTarget()));
    if (acx) add(episode::kACXCheckSuffix);
    if (preset.generateRSSMaster) add(pipeline->producesMP3() ? episode::kRSSMP3Suffix : episode::kRSSAACSuffix);
    if (preset.generateWhisperReference) add(episode::kWhisperReferenceSuffix);
    if (preset.generateTranscripts && available) {
        add(episode::kTranscriptSRTSuffix);
        add(episode::kTranscriptVTTSuffix);
        add(episode::kTranscriptTextSuffix);
    }
    if ((preset.chapterMode == ChapterMode::automatic && available) || chaptersParsed) {
        add(episode::kChaptersJSONSuffix);
        add(episode::kChaptersTextSuffix);
    }
    if (preset.generateAudiogram) add(episode::kAudiogramSuffix);

    if (preset.generateTranscripts && !available)
        out.warnings.emplace_back(platformtexts::kTranscriptsSkippedWarning);
    if (manualChapters && !chaptersParsed)
        out.warnings.emplace_back("Chapter list is empty or unreadable (use lines like \"5:30 Interview\")");
    if (preset.removeFillerWords && !available) out.warnings.emplace_back(platformtexts::kFillersSkippedWarning);
    const std::pair<const char*, const std::optional<std::filesystem::path>*> music[] = {
        {"Intro", &preset.introURL}, {"Outro", &preset.outroURL}};
    for (const auto& [label, url] : music) {
        std::error_code ec;
        if (*url && !std::filesystem::exists(**url, ec))
            out.warnings.push_back(std::string(label) + " music not found: " + (*url)->filename().string());
    }
    return out;
}

} // namespace presets
