// Intro and outro, master, ACX check, lengths and chapters.

#include <algorithm>
#include <array>
#include <system_error>

#include <fmt/format.h>

#include "audio/PCMStream.h"
#include "core/Files.h"
#include "episode/ChapterBuilder.h"
#include "episode/PipelineSteps.h"

namespace episode {

namespace fs = std::filesystem;

namespace pipelinetext {

std::string chaptersLine(const std::vector<Chapter>& chapters) {
    std::vector<std::string> titles;
    for (std::size_t i = 0; i < chapters.size() && i < 4; ++i) titles.push_back(chapters[i].title);
    return fmt::format("Chapters: {} ({}{})", chapters.size(), fmt::join(titles, " \u00B7 "),
                       chapters.size() >= 5 ? " \u2026" : "");
}

std::vector<Chapter> framedChapters(std::vector<Chapter> spoken, double introLength, bool outroJoined,
                                    double episodeLength) {
    for (auto& c : spoken) c.start += introLength;
    if (introLength > 0) {
        if (!spoken.empty()) spoken.front().start = introLength;
        spoken.insert(spoken.begin(), Chapter{0, "Intro"});
    }
    if (outroJoined) spoken.push_back(Chapter{episodeLength + introLength, "Outro"});
    return spoken;
}

} // namespace pipelinetext

namespace {

// The piece converted to the joined file's rate and channel count first, so
// that it is measured as it will sound there (a mono piece copied to two
// channels reads 3 LU louder than alone), then brought to the target.
void matchPiece(const PipelineRun& run, const fs::path& source, const fs::path& destination,
                const audio::PCMStream::Format& joined) {
    const auto& target = run.request.targetLUFS;
    const audio::LoudnessTarget pieceTarget{target.acx ? -20.0 : target.integratedLUFS, target.truePeakDB,
                                            target.loudnessRangeLU, false};
    const fs::path conformed = run.workFolder / ("conformed_" + destination.filename().string());
    run.pipeline.normalizer().concatenate({source}, conformed, joined.sampleRate, joined.channels);
    run.pipeline.normalizer().process(conformed, destination, pieceTarget, audio::CleanupOptions::none());
    std::error_code ignored;
    fs::remove(conformed, ignored);
}

bool fileExists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// The two pieces of music by role, in the order they are joined.
std::array<std::pair<const char*, const std::optional<fs::path>*>, 2> musicPieces(const MultiFormatExportRequest& q) {
    return {{{"intro", &q.introURL}, {"outro", &q.outroURL}}};
}

} // namespace

namespace steps {

void checkMusic(const PipelineRun& run) {
    for (const auto& [role, location] : musicPieces(run.request)) {
        if (!*location || !fileExists(**location)) continue;
        try {
            audio::PCMStream::format(**location);
        } catch (const audio::PCMStream::StreamError& e) {
            if (!e.libavLine().empty()) run.log(e.libavLine());
            throw AudioVideoPipeline::PipelineError::unusableMusic(role, **location, e);
        }
    }
}

void addIntroAndOutro(PipelineRun& run) {
    const auto& q = run.request;
    if (!q.introURL && !q.outroURL) return;
    run.report(0.3, "Adding intro / outro music...");
    const auto format = audio::PCMStream::format(run.episodeAudio);
    std::vector<fs::path> pieces;
    for (const auto& [name, location] : musicPieces(q)) {
        if (!*location) continue;
        const std::string label = name;
        if (!fileExists(**location)) {
            std::string shown = label;
            shown[0] = static_cast<char>(shown[0] - 'a' + 'A');
            run.log(shown + " music not found: " + (*location)->string());
            continue;
        }
        const fs::path matched = run.workFolder / (label + ".wav");
        matchPiece(run, **location, matched, format);
        if (label == "intro") {
            pieces.push_back(matched);
            run.introLength = audio::PCMStream::format(matched).durationSeconds;
        } else {
            pieces.push_back(run.episodeAudio);
            pieces.push_back(matched);
            run.outroJoined = true;
        }
    }
    if (std::find(pieces.begin(), pieces.end(), run.episodeAudio) == pieces.end()) pieces.push_back(run.episodeAudio);
    if (pieces.size() < 2) return;
    run.finalAudio = run.workFolder / "final.wav";
    run.pipeline.normalizer().concatenate(pieces, run.finalAudio, format.sampleRate, format.channels);
}

void writeMaster(PipelineRun& run) {
    if (!run.request.generateMaster) return;
    const fs::path master = run.claimDeliverable(AudioVideoPipeline::masterSuffix(run.request.targetLUFS));
    // Copied under a temporary name and renamed over any old master only
    // once complete, so an existing master is never lost to a failed copy.
    core::AtomicFile file(master);
    // Copied by hand so a full disk is reported as such, not as an I/O error.
    core::copyFileContents(run.finalAudio, file.tempPath(), master);
    file.commit();
    run.outputs.push_back(master);
}

void writeACXCheck(PipelineRun& run) {
    if (!run.normalized.acxReport) return;
    // Measured on the audio the master is made of, so the verdict holds for
    // the delivered file. Without music the normaliser has set the head and
    // tail room tone; with it the file starts and ends with music, and the
    // report says what that leaves at either end.
    audio::ACXReport report = run.pipeline.normalizer().acxCheck(run.finalAudio);
    if (run.finalAudio == run.episodeAudio) report.roomTone.reset();
    report.noiseGateOn = run.request.cleanup.noiseGate;
    const fs::path file = run.claimDeliverable(kACXCheckSuffix);
    core::writeFileAtomically(file, report.text());
    run.outputs.push_back(file);
    run.log(report.passes() ? std::string("ACX check: passes")
                            : "ACX check: does not pass yet, see " + file.filename().string());
}

void readLengths(PipelineRun& run) {
    run.totalLength = audio::PCMStream::format(run.finalAudio).durationSeconds;
    run.episodeLength = audio::PCMStream::format(run.episodeAudio).durationSeconds;
}

void writeChapters(PipelineRun& run) {
    run.awaitWords();
    const auto& setting = run.request.chapters;
    std::vector<Chapter> chapters;
    if (setting.kind == ChapterSetting::Kind::off) return;
    if (setting.kind == ChapterSetting::Kind::manual) {
        chapters = ChapterBuilder::tidy(ChapterBuilder::parse(setting.text), run.totalLength);
        if (chapters.empty())
            run.log("Chapters skipped: couldn't read the chapter list (use lines like \"5:30 Interview\")");
    } else if (run.words.empty()) {
        run.log("Chapters skipped: automatic chapters need the transcript");
    } else {
        auto spoken = ChapterBuilder::automatic(run.words, run.episodeLength, std::nullopt);
        chapters = ChapterBuilder::tidy(
            pipelinetext::framedChapters(std::move(spoken), run.introLength, run.outroJoined, run.episodeLength),
            run.totalLength);
    }
    if (chapters.empty()) return;
    const auto files = run.claimDeliverables({kChaptersJSONSuffix, kChaptersTextSuffix});
    const fs::path& json = files[0];
    const fs::path& text = files[1];
    core::writeFileAtomically(json, ChapterBuilder::json(chapters));
    core::writeFileAtomically(text, ChapterBuilder::text(chapters));
    run.outputs.push_back(json);
    run.outputs.push_back(text);
    const fs::path meta = run.workFolder / "chapters.ffmeta";
    core::writeFileAtomically(meta, ChapterBuilder::ffmetadata(chapters, run.totalLength));
    run.chaptersFile = meta;
    run.log(pipelinetext::chaptersLine(chapters));
}

} // namespace steps

} // namespace episode
