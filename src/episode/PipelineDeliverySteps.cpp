// RSS file, Whisper reference, transcript files and audiogram.

#include <algorithm>
#include <future>

#include <fmt/format.h>

#include "audio/PCMStream.h"
#include "audio/WAVWriter.h"
#include "core/Files.h"
#include "episode/ChapterBuilder.h"
#include "episode/ClipPicker.h"
#include "episode/CoverArt.h"
#include "episode/FrameRenderer.h"
#include "episode/PipelineSteps.h"
#include "episode/PlatformTexts.h"
#include "episode/WrittenAudioCheck.h"

namespace episode {

namespace fs = std::filesystem;

namespace pipelinetext {

std::vector<std::string> mp3Arguments(const fs::path& source, const fs::path& output, bool acx) {
    std::vector<std::string> args{"-y", "-i", source.string(), "-codec:a", "libmp3lame", "-b:a", "192k"};
    if (acx) {
        args.emplace_back("-ar");
        args.emplace_back("44100");
    }
    args.push_back(output.string());
    return args;
}

double clipStart(double wished, double duration, double length) {
    return std::max(0.0, std::min(wished, duration - length));
}

std::vector<CaptionWord> clipCaptions(const std::vector<CaptionWord>& words, double start, double length) {
    std::vector<CaptionWord> kept;
    for (const auto& w : words) {
        if (!(w.end > start && w.start < start + length)) continue;
        kept.push_back({w.text, std::max(0.0, w.start - start), w.end - start});
    }
    return kept;
}

std::string clipLine(const std::string& fileName, double start, double length) {
    return fmt::format("{}: Audiogram clip: {} to {}", fileName, ChapterBuilder::clock(start, false),
                       ChapterBuilder::clock(start + length, false));
}

std::string transcriptLine(const std::string& fileName, std::size_t words, std::size_t captions) {
    return fmt::format("{}: Transcript: {} words, {} captions", fileName, words, captions);
}

} // namespace pipelinetext

const PipelineRun::Cover* PipelineRun::usableCover() {
    if (!checkedCover) {
        checkedCover.emplace();
        const auto& file = request.metadata.artworkURL;
        std::string why;
        auto prepared = file ? CoverArt::prepare(*file, &why) : std::nullopt;
        if (file && !prepared) log(CoverArt::leftOutLine(*file, why));
        if (prepared) {
            std::shared_ptr<const BGRAImage> background;
            if (request.generateAudiogram)
                if (auto bgra = FrameRenderer::fromImage(prepared->upright))
                    background = std::make_shared<const BGRAImage>(std::move(*bgra));
            checkedCover->emplace(Cover{std::move(prepared->tag), std::move(background)});
        }
    }
    return *checkedCover ? &**checkedCover : nullptr;
}

namespace steps {

void startRSSEncoding(PipelineRun& run) {
    const auto& q = run.request;
    if (!q.generateRSSMaster || !run.pipeline.ffmpeg().isFFmpegAvailable()) return;
    // The encoding and its check run beside the recognition; the tags,
    // which need the chapters, are added by the RSS step.
    run.pendingRSSEncoding = std::async(
        std::launch::async,
        [&ffmpeg = run.pipeline.ffmpeg(), rss = run.workFolder / "rss.mp3", mp3 = run.deliverable(kRSSMP3Suffix),
         arguments = pipelinetext::mp3Arguments(run.finalAudio, run.workFolder / "rss.mp3", q.targetLUFS.acx),
         length = run.totalLength] {
            ffmpeg.execute(arguments);
            verifyWrittenAudio(rss, mp3, length);
        });
}

namespace {

// The cover's picture for the tags, when it can be used.
const CoverArt::Picture* tagCover(PipelineRun& run) {
    const PipelineRun::Cover* cover = run.usableCover();
    return cover ? &cover->tag : nullptr;
}

} // namespace

void writeRSS(PipelineRun& run) {
    const auto& q = run.request;
    if (!q.generateRSSMaster) return;
    if (run.pipeline.ffmpeg().isFFmpegAvailable()) {
        run.report(0.45, "Encoding 192kbps MP3 RSS Master with ID3 tags...");
        const fs::path rss = run.workFolder / "rss.mp3";
        const fs::path mp3 = run.claimDeliverable(kRSSMP3Suffix);
        if (run.pendingRSSEncoding.valid()) {
            run.pendingRSSEncoding.get(); // started after the lengths were read, and checked
        } else {
            run.pipeline.ffmpeg().execute(pipelinetext::mp3Arguments(run.finalAudio, rss, q.targetLUFS.acx));
            verifyWrittenAudio(rss, mp3, run.totalLength);
        }
        run.pipeline.tagInjector().inject(q.metadata, rss, mp3, run.chaptersFile, tagCover(run));
        run.outputs.push_back(mp3);
        return;
    }
    run.report(0.45, "Encoding AAC RSS Master with tags...");
    const fs::path m4a = run.claimDeliverable(kRSSAACSuffix);
    run.pipeline.tagInjector().inject(q.metadata, run.finalAudio, m4a, std::nullopt, tagCover(run));
    run.outputs.push_back(m4a);
    run.log(std::string(platformtexts::kRSSWrittenAsAAC));
}

namespace {

// The reference, streamed: each decoded chunk is written before the next is
// read.
void writeReferenceFile(const fs::path& source, const fs::path& file) {
    audio::WAVWriter writer(file, 16000, 1, 16);
    audio::PCMStream::read(source, 16000.0, 1, std::nullopt,
                           [&](std::span<const float> samples, std::size_t frames) { writer.write(samples, frames); });
    writer.close();
}

} // namespace

void startWhisperReference(PipelineRun& run) {
    if (!run.request.generateWhisperReference) return;
    // Written into the work folder beside the recognition; the step below
    // copies it into place in its turn.
    run.pendingReference =
        std::async(std::launch::async, writeReferenceFile, run.finalAudio, run.workFolder / "reference.wav");
}

void writeWhisperReference(PipelineRun& run) {
    if (!run.request.generateWhisperReference) return;
    run.report(0.6, "Generating 16kHz mono Whisper transcript reference...");
    const fs::path file = run.claimDeliverable(kWhisperReferenceSuffix);
    if (!run.pendingReference.valid()) {
        writeReferenceFile(run.finalAudio, file);
    } else {
        run.pendingReference.get();
        core::AtomicFile out(file);
        core::copyFileContents(run.workFolder / "reference.wav", out.tempPath(), file);
        out.commit();
    }
    run.outputs.push_back(file);
}

void writeTranscripts(PipelineRun& run) {
    run.awaitWords();
    if (!run.wantTranscripts || run.words.empty()) return;
    const auto cues = Transcriber::cues(run.words, 42, 4.0);
    const auto files = run.claimDeliverables({kTranscriptSRTSuffix, kTranscriptVTTSuffix, kTranscriptTextSuffix});
    const std::string texts[] = {
        Transcriber::srt(cues, run.introLength),
        Transcriber::vtt(cues, run.introLength),
        Transcriber::plainText(run.words, run.introLength),
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        core::writeFileAtomically(files[i], texts[i]);
        run.outputs.push_back(files[i]);
    }
    run.log(pipelinetext::transcriptLine(run.request.sourceURL.filename().string(), run.words.size(), cues.size()));
}

void writeAudiogram(PipelineRun& run) {
    run.awaitWords();
    const auto& q = run.request;
    if (!q.generateAudiogram) return;
    run.report(0.85, "Rendering social audiogram video snippet...");
    const double d = run.episodeLength;
    const double len = std::min(d, q.audiogramSeconds);
    double wished = 0;
    switch (q.audiogramClip.kind) {
    case ClipChoice::Kind::at: wished = q.audiogramClip.seconds; break;
    case ClipChoice::Kind::start: wished = 0; break;
    case ClipChoice::Kind::automatic:
        if (!run.words.empty()) {
            wished = ClipPicker::liveliestStart(run.words, d, len);
        } else {
            const auto levels = run.pipeline.normalizer().levels(run.episodeAudio, 0.5);
            wished = ClipPicker::loudestStart(levels, 0.5, len);
        }
        break;
    }
    const double s = pipelinetext::clipStart(wished, d, len);
    std::vector<CaptionWord> captions = run.wantCaptions ? run.words : std::vector<CaptionWord>{};
    fs::path audio = run.episodeAudio;
    if (s > 0.05) {
        audio = run.workFolder / "clip.wav";
        run.pipeline.normalizer().excerpt(run.episodeAudio, audio, s, len);
        captions = pipelinetext::clipCaptions(captions, s, len);
        run.log(pipelinetext::clipLine(q.sourceURL.filename().string(), s, len));
    }
    // The cover read for the tags, not read again.
    const PipelineRun::Cover* cover = run.usableCover();
    AudiogramGenerator::AudiogramConfig config(
        q.audiogramAspect, len, "#3B82F6", std::nullopt, 30, std::move(captions),
        q.metadata.podcastName.empty() ? std::nullopt : std::optional<std::string>(q.metadata.podcastName));
    if (cover) config.backgroundPicture = cover->background;
    const fs::path video = run.claimDeliverable(kAudiogramSuffix);
    run.pipeline.audiogramGenerator().generate(audio, video, config);
    run.outputs.push_back(video);
}

} // namespace steps

} // namespace episode
