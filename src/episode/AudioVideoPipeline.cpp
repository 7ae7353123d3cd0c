#include "episode/AudioVideoPipeline.h"

#include <fmt/format.h>

#include "core/Files.h"
#include "episode/PipelineSteps.h"

namespace episode {

AudioVideoPipeline::PipelineError AudioVideoPipeline::PipelineError::invalidBaseName(const std::string& baseName) {
    std::string shown;
    for (char c : baseName) shown += c == '\0' ? '?' : c;
    return PipelineError(fmt::format("The episode name \u201c{}\u201d cannot be used as a file name.", shown));
}

AudioVideoPipeline::AudioVideoPipeline(Engines engines)
    : normalizer_(engines.normalizer), ffmpeg_(engines.ffmpeg), tagInjector_(engines.ffmpeg),
      speechModel_(engines.speechModel), transcriber_(engines.speechModel) {}

std::shared_ptr<AudioVideoPipeline> AudioVideoPipeline::sharedPointer() {
    // Made once, thread-safe, and kept for the whole process.
    static const auto* instance = new std::shared_ptr<AudioVideoPipeline>(std::make_shared<AudioVideoPipeline>());
    return *instance;
}

const AudioVideoPipeline& AudioVideoPipeline::shared() { return *sharedPointer(); }

std::vector<std::filesystem::path> AudioVideoPipeline::processMultiFormat(const MultiFormatExportRequest& request,
                                                                          Progress onProgress, Log onLog) const {
    // A name with a folder separator or NUL would write outside the
    // destination (or be cut short by the system): refuse it up front.
    if (request.baseFileName.find('/') != std::string::npos ||
        request.baseFileName.find('\0') != std::string::npos)
        throw PipelineError::invalidBaseName(request.baseFileName);

    core::createFolders(request.destinationDirectory);
    const core::WorkFolder work("Quorvel"); // removed on every way out

    PipelineRun run{*this, request, onProgress, onLog, work.path(), {}, {}, {}, {}, {}, false, false, 0, false,
                    0, 0, std::nullopt};
    steps::normalize(run);
    steps::transcribe(run);
    steps::dumpWords(run);
    steps::removeFillers(run);
    steps::addIntroAndOutro(run);
    steps::writeMaster(run);
    steps::writeACXCheck(run);
    steps::readLengths(run);
    steps::writeChapters(run);
    steps::writeRSS(run);
    steps::writeWhisperReference(run);
    steps::writeTranscripts(run);
    steps::writeAudiogram(run);
    run.report(1.0, "Export complete.");
    return std::move(run.outputs);
}

} // namespace episode
