#pragma once

// The steps of one AudioVideoPipeline::processMultiFormat call and the texts
// they log. Each step reads and updates the call's PipelineRun.

#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/LoudnessNormalizer.h"
#include "episode/AudioVideoPipeline.h"
#include "episode/CaptionWord.h"
#include "episode/Chapter.h"
#include "episode/CoverArt.h"
#include "episode/FillerRemover.h"
#include "episode/FrameRenderer.h"

namespace episode {

// Everything one call keeps between its steps.
struct PipelineRun {
    const AudioVideoPipeline& pipeline;
    const MultiFormatExportRequest& request;
    const EpisodePipeline::Progress& onProgress;
    const EpisodePipeline::Log& onLog;
    std::filesystem::path workFolder;

    std::vector<std::filesystem::path> outputs;
    std::filesystem::path episodeAudio;
    std::filesystem::path finalAudio;
    audio::LoudnessNormalizer::Result normalized;
    std::vector<CaptionWord> words;
    bool wantTranscripts = false;
    bool wantCaptions = false;
    double introLength = 0;
    bool outroJoined = false;
    double totalLength = 0;
    double episodeLength = 0;
    std::optional<std::filesystem::path> chaptersFile;

    // Work that runs beside the steps: the recognition (from the transcript
    // step until the first step that needs words), the MP3 encoding of the
    // RSS file and its check (until the RSS step) and the Whisper reference.
    // Nothing in them calls back.
    struct Recognition {
        std::vector<CaptionWord> words;
        std::string failure; // the reason when the transcript was skipped
    };
    std::future<Recognition> pendingWords = {};
    std::future<void> pendingRSSEncoding = {};
    // The Whisper reference, written into the work folder beside the
    // recognition (until the reference step).
    std::future<void> pendingReference = {};
    // The request's cover, read and decoded once for the tags and the
    // audiogram: the tags' picture, and the audiogram's background when one
    // is drawn.
    struct Cover {
        CoverArt::Picture tag;
        std::shared_ptr<const BGRAImage> background;
    };
    // Once it has been checked (see usableCover).
    std::optional<std::optional<Cover>> checkedCover = {};

    // Waits for the recognition, if one is running, and takes its words
    // (or logs why there are none). Every step that reads `words` calls it.
    void awaitWords() {
        if (!pendingWords.valid()) return;
        Recognition r = pendingWords.get();
        words = std::move(r.words);
        if (!r.failure.empty()) log("Transcript skipped: " + r.failure);
    }

    // The request's cover when it can be used as cover art; nothing when
    // there is none or it can't be used, which is said once in the log. The
    // tags and the audiogram both ask; the file is read on the first ask.
    const Cover* usableCover();

    void report(double fraction, const std::string& message) const {
        if (onProgress) onProgress(fraction, message);
    }
    void log(const std::string& line) const {
        if (onLog) onLog(line);
    }
    std::filesystem::path deliverable(std::string_view suffix) const {
        return request.destinationDirectory / (request.baseFileName + std::string(suffix));
    }
    // The deliverables' paths, claimed together for the request's batch item
    // before any of them is written.
    std::vector<std::filesystem::path> claimDeliverables(std::initializer_list<std::string_view> suffixes) const {
        std::vector<std::filesystem::path> files;
        for (auto suffix : suffixes) files.push_back(deliverable(suffix));
        request.claimant.claim(files);
        return files;
    }
    std::filesystem::path claimDeliverable(std::string_view suffix) const { return claimDeliverables({suffix}).front(); }
};

namespace steps {

// Opens and probes the named intro and outro before any audio work, so that
// one that can't be read fails the episode at once, in words that name its
// role. A missing one is no failure (addIntroAndOutro logs it).
void checkMusic(const PipelineRun& run);
void normalize(PipelineRun& run);
void transcribe(PipelineRun& run);
void dumpWords(PipelineRun& run);
void removeFillers(PipelineRun& run);
void addIntroAndOutro(PipelineRun& run);
void writeMaster(PipelineRun& run);
void writeACXCheck(PipelineRun& run);
void readLengths(PipelineRun& run);
// Starts encoding the RSS file's MP3 audio beside the next steps.
void startRSSEncoding(PipelineRun& run);
void startWhisperReference(PipelineRun& run);
void writeChapters(PipelineRun& run);
void writeRSS(PipelineRun& run);
void writeWhisperReference(PipelineRun& run);
void writeTranscripts(PipelineRun& run);
void writeAudiogram(PipelineRun& run);

} // namespace steps

// The log texts and small decisions of the steps, kept apart so they can be
// checked on their own.
namespace pipelinetext {

std::string loudnessSummary(const std::string& fileName, const audio::LoudnessNormalizer::Result& result,
                            const audio::LoudnessTarget& target);
// "<file name>: Clean-up: ..."; empty when the clean-up did nothing worth a
// line. Several episodes log at once, so every line names its episode.
std::string cleanupLine(const std::string& fileName, const audio::CleanupOptions& options,
                        const audio::LoudnessNormalizer::Result& result);
bool needsWords(const MultiFormatExportRequest& request);
std::string wordDump(const std::vector<CaptionWord>& words);
std::string fillerLine(const FillerRemover::Plan& plan);
std::string chaptersLine(const std::vector<Chapter>& chapters);
// Automatic chapters framed by the intro and outro, before tidying.
std::vector<Chapter> framedChapters(std::vector<Chapter> spoken, double introLength, bool outroJoined,
                                    double episodeLength);
std::vector<std::string> mp3Arguments(const std::filesystem::path& source, const std::filesystem::path& output,
                                      bool acx);
// max(0, min(wished, duration - length)).
double clipStart(double wished, double duration, double length);
// Words overlapping [start, start + length), moved to the excerpt's time.
std::vector<CaptionWord> clipCaptions(const std::vector<CaptionWord>& words, double start, double length);
std::string clipLine(const std::string& fileName, double start, double length);
std::string transcriptLine(const std::string& fileName, std::size_t words, std::size_t captions);
// `baseName` cut on a UTF-8 boundary so that it and `longestSuffix` bytes
// fit one file name (NAME_MAX bytes).
std::string fittedBaseName(const std::string& baseName, std::size_t longestSuffix);
// The request with every path absolute and the base name fitted to the
// longest ending this request can write.
MultiFormatExportRequest absoluteRequest(const MultiFormatExportRequest& request);

} // namespace pipelinetext

} // namespace episode
