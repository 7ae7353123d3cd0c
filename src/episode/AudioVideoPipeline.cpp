#include "episode/AudioVideoPipeline.h"

#include <fmt/format.h>

#include <climits>

#include "audio/MediaDiagnostics.h"
#include "audio/PCMStream.h"
#include "core/Files.h"
#include "core/WorkArea.h"
#include "episode/PipelineSteps.h"

namespace episode {

AudioVideoPipeline::PipelineError AudioVideoPipeline::PipelineError::invalidBaseName(const std::string& baseName) {
    std::string shown;
    for (char c : baseName) shown += c == '\0' ? '?' : c;
    return PipelineError(fmt::format("The episode name \u201c{}\u201d cannot be used as a file name.", shown));
}

AudioVideoPipeline::PipelineError AudioVideoPipeline::PipelineError::unusableMusic(
    std::string_view role, const std::filesystem::path& file, const audio::PCMStream::StreamError& error) {
    return PipelineError(fmt::format("The {} music {} {}", role, file.filename().string(), error.saidOfFile()));
}

AudioVideoPipeline::AudioVideoPipeline(Engines engines)
    : normalizer_(engines.normalizer), ffmpeg_(engines.ffmpeg), tagInjector_(engines.ffmpeg),
      speechModel_(engines.speechModel), transcriber_(engines.speechModel) {}

core::SweepResult AudioVideoPipeline::sweepLeftovers() { return core::sweepLeftovers(kWorkFolderPrefix); }

namespace pipelinetext {

std::string fittedBaseName(const std::string& baseName, std::size_t longestSuffix) {
    const std::size_t limit = NAME_MAX > longestSuffix ? NAME_MAX - longestSuffix : 0;
    if (baseName.size() <= limit) return baseName;
    std::size_t cut = limit;
    // Back to the first byte of a UTF-8 sequence.
    while (cut > 0 && (static_cast<unsigned char>(baseName[cut]) & 0xC0) == 0x80) --cut;
    return baseName.substr(0, cut);
}

MultiFormatExportRequest absoluteRequest(const MultiFormatExportRequest& request) {
    MultiFormatExportRequest q = request;
    auto absolute = [](std::filesystem::path& p) {
        std::error_code ec;
        auto a = std::filesystem::absolute(p, ec);
        if (!ec) p = a.lexically_normal();
    };
    absolute(q.sourceURL);
    absolute(q.destinationDirectory);
    if (q.introURL) absolute(*q.introURL);
    if (q.outroURL) absolute(*q.outroURL);
    if (q.metadata.artworkURL) absolute(*q.metadata.artworkURL);
    std::size_t longest = masterSuffix(q.targetLUFS).size();
    for (auto suffix : {kRSSMP3Suffix, kRSSAACSuffix, kACXCheckSuffix, kWhisperReferenceSuffix, kTranscriptSRTSuffix,
                        kTranscriptVTTSuffix, kTranscriptTextSuffix, kChaptersJSONSuffix, kChaptersTextSuffix,
                        kAudiogramSuffix})
        longest = std::max(longest, suffix.size());
    q.baseFileName = fittedBaseName(q.baseFileName, longest);
    return q;
}

} // namespace pipelinetext

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

    // Every path handed on (FFmpeg among others) is absolute, so a folder
    // named "-out" is never read as an option; the base name is cut so that
    // every deliverable's name fits the file system.
    const MultiFormatExportRequest absolute = pipelinetext::absoluteRequest(request);
    core::createFolders(absolute.destinationDirectory);
    core::LockedWorkFolder work(kWorkFolderPrefix); // removed on every way out
    work.noteOutputFolder(absolute.destinationDirectory);

    PipelineRun run{*this, absolute, onProgress, onLog, work.path(), {}, {}, {}, {}, {}, false, false, 0, false,
                    0, 0, std::nullopt};
    // A source cut short is read as far as it goes, and said so in the log.
    const audio::ReadWarnings readWarnings([&run](const std::string& line) { run.log(line); });
    try {
        steps::checkMusic(run);
        steps::normalize(run);
        steps::transcribe(run);
        steps::dumpWords(run);
        steps::removeFillers(run);
        steps::addIntroAndOutro(run);
        steps::writeMaster(run);
        steps::writeACXCheck(run);
        steps::readLengths(run);
        steps::startRSSEncoding(run);
        steps::startWhisperReference(run);
        steps::writeChapters(run);
        steps::writeRSS(run);
        steps::writeWhisperReference(run);
        steps::writeTranscripts(run);
        steps::writeAudiogram(run);
    } catch (const audio::PCMStream::StreamError& e) {
        // The item fails with a plain text; libav's own words go to the log.
        if (!e.libavLine().empty()) run.log(e.libavLine());
        throw;
    }
    run.report(1.0, "Export complete.");
    return std::move(run.outputs);
}

} // namespace episode
