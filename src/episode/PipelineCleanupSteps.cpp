// Clean-up and normalisation, transcript, word dump and filler-word cut.

#include <algorithm>
#include <cstdlib>
#include <future>

#include <fmt/format.h>

#include "audio/FrameRange.h"
#include "core/Numbers.h"
#include "episode/PipelineSteps.h"
#include "episode/PlatformTexts.h"

namespace episode {

namespace pipelinetext {

std::string loudnessSummary(const std::string& fileName, const audio::LoudnessNormalizer::Result& r,
                            const audio::LoudnessTarget& target) {
    if (target.acx)
        return fmt::format("{}: RMS {:.1f} dB -> {:.1f} dB, peak {:.1f} dB, noise floor {:.1f} dB", fileName,
                           r.input.rmsDB, r.output.rmsDB, r.output.samplePeakDB, r.output.noiseFloorDB);
    const std::string limiter =
        r.limiterReductionDB < -0.1 ? fmt::format(", limiter {:.1f} dB", r.limiterReductionDB) : std::string();
    return fmt::format("{}: {:.1f} LUFS -> {:.1f} LUFS (gain {:+.1f} dB, true peak {:.1f} dBTP{})", fileName,
                       r.input.integratedLUFS, r.output.integratedLUFS, r.gainDB, r.output.truePeakDBTP, limiter);
}

std::string cleanupLine(const std::string& fileName, const audio::CleanupOptions& options,
                        const audio::LoudnessNormalizer::Result& r) {
    std::vector<std::string> pieces;
    if (options.rumbleFilter) pieces.emplace_back("rumble filter");
    if (r.humRemovedHz) {
        if (const auto hz = core::toInt64(*r.humRemovedHz)) pieces.push_back(fmt::format("{} Hz hum removed", *hz));
    }
    if (options.noiseGate) pieces.emplace_back("noise gate");
    if (r.levelerRangeDB)
        pieces.push_back(fmt::format("leveler {:+.1f} to {:+.1f} dB", r.levelerRangeDB->lower, r.levelerRangeDB->upper));
    if (r.secondsRemoved >= 0.1) pieces.push_back(fmt::format("{:.1f} s of silence cut", r.secondsRemoved));
    if (pieces.empty()) return {};
    return fmt::format("{}: Clean-up: {}", fileName, fmt::join(pieces, ", "));
}

bool needsWords(const MultiFormatExportRequest& q) {
    return q.generateTranscripts || q.removeFillers || q.chapters == ChapterSetting::automatic() ||
           (q.generateAudiogram && q.captionAudiogram) ||
           (q.generateAudiogram && q.audiogramClip == ClipChoice::automatic());
}

std::string wordDump(const std::vector<CaptionWord>& words) {
    std::vector<std::string> parts;
    parts.reserve(words.size());
    for (const auto& w : words) parts.push_back(fmt::format("{}[{:.2f}-{:.2f}]", w.text, w.start, w.end));
    return "Words: " + fmt::format("{}", fmt::join(parts, " "));
}

std::string fillerLine(const FillerRemover::Plan& plan) {
    std::vector<std::pair<std::string, int>> removed(plan.removed.begin(), plan.removed.end());
    std::stable_sort(removed.begin(), removed.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
    std::vector<std::string> parts;
    for (const auto& [word, count] : removed) parts.push_back(fmt::format("{} x {}", count, word));
    double seconds = 0;
    for (const auto& c : plan.cuts) seconds += c.upper - c.lower;
    return fmt::format("Filler words: removed {} ({}), {:.1f} s shorter", plan.count(), fmt::join(parts, ", "), seconds);
}

} // namespace pipelinetext

namespace steps {

void normalize(PipelineRun& run) {
    const auto& q = run.request;
    run.report(0.05, q.cleanup == audio::CleanupOptions::none() ? "Measuring loudness (ITU-R BS.1770)..."
                                                                 : "Analysing and cleaning up audio...");
    run.episodeAudio = run.workFolder / "episode.wav";
    run.normalized = run.pipeline.normalizer().process(q.sourceURL, run.episodeAudio, q.targetLUFS, q.cleanup);
    run.finalAudio = run.episodeAudio;
    if (!run.onLog) return;
    const std::string name = q.sourceURL.filename().string();
    run.log(pipelinetext::loudnessSummary(name, run.normalized, q.targetLUFS));
    if (auto line = pipelinetext::cleanupLine(name, q.cleanup, run.normalized); !line.empty()) run.log(line);
}

void transcribe(PipelineRun& run) {
    const auto& q = run.request;
    if (!pipelinetext::needsWords(q)) return;
    run.wantTranscripts = q.generateTranscripts;
    run.wantCaptions = q.generateAudiogram && q.captionAudiogram;
    if (!run.pipeline.transcriptionAvailable()) {
        run.log(std::string("Transcript skipped: ") + Transcriber::TranscriberError::unsupportedSystem().what());
        return;
    }
    run.report(0.25, std::string(platformtexts::kTranscribingProgress));
    // The recognition runs on the shared decoders while the steps that do
    // not need words go on; awaitWords() collects it.
    run.pendingWords = std::async(std::launch::async, [&transcriber = run.pipeline.transcriber(),
                                                       file = run.episodeAudio, locale = q.transcriptLocale] {
        PipelineRun::Recognition r;
        try {
            r.words = transcriber.transcribe(file, locale);
        } catch (const core::Error& e) { // any failure of transcription is passed over
            r.failure = e.what();
        }
        return r;
    });
}

void dumpWords(PipelineRun& run) {
    if (!run.onLog || std::getenv("OSTRAND_DEBUG_WORDS") == nullptr) return;
    run.awaitWords();
    run.log(pipelinetext::wordDump(run.words));
}

void removeFillers(PipelineRun& run) {
    if (!run.request.removeFillers) return;
    run.awaitWords();
    if (run.words.empty()) return;
    const auto frames = run.pipeline.normalizer().speechFrames(run.episodeAudio);
    const auto hidden = FillerRemover::hiddenFillerCuts(run.words, frames);
    const auto plan = FillerRemover::plan(run.words, true, hidden);
    if (plan.cuts.empty()) {
        run.log("Filler words: none found");
        return;
    }
    run.report(0.32, "Removing filler words...");
    std::vector<audio::TimeRange> ranges;
    ranges.reserve(plan.cuts.size());
    for (const auto& c : plan.cuts) ranges.push_back({c.lower, c.upper});
    const auto clean = run.workFolder / "episode_clean.wav";
    run.pipeline.normalizer().cut(run.episodeAudio, clean, ranges);
    run.episodeAudio = clean;
    run.finalAudio = clean;
    run.log(pipelinetext::fillerLine(plan));
    run.words = plan.words;
}

} // namespace steps

} // namespace episode
