#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "audio/LoudnessNormalizer.h"
#include "audio/PCMStream.h"
#include "core/Error.h"
#include "core/WorkArea.h"
#include "episode/AudiogramGenerator.h"
#include "episode/EpisodePipeline.h"
#include "episode/FFmpegRunner.h"
#include "episode/ID3TagInjector.h"
#include "episode/MultiFormatExportRequest.h"
#include "episode/Transcriber.h"

namespace episode {

// Turns one episode into its package: master, ACX check, chapters, tagged
// RSS file, Whisper reference, transcripts and audiogram. The engines keep no
// state between calls, so one instance serves every episode, also several at
// once; each call works in its own work folder.
class AudioVideoPipeline final : public EpisodePipeline {
public:
    using MultiFormatExportRequest = episode::MultiFormatExportRequest;
    using ClipChoice = episode::ClipChoice;
    using ChapterSetting = episode::ChapterSetting;

    // A request the pipeline refuses before writing anything.
    class PipelineError : public core::Error {
    public:
        using core::Error::Error;
        // The base name holds "/" or NUL and would leave the destination folder.
        static PipelineError invalidBaseName(const std::string& baseName);
        // "The intro music <file name> <what the reader said of it>", for
        // `role` "intro" or "outro": "The intro music intro.wav is not a
        // regular file".
        static PipelineError unusableMusic(std::string_view role, const std::filesystem::path& file,
                                           const audio::PCMStream::StreamError& error);
    };

    // The engines a pipeline works with; tests swap single ones.
    struct Engines {
        audio::LoudnessNormalizer normalizer;
        FFmpegRunner ffmpeg;                   // MP3 encode and tagging
        Transcriber::SpeechModel speechModel = Transcriber::SpeechModel::installed();
    };

    AudioVideoPipeline() : AudioVideoPipeline(Engines{}) {}
    explicit AudioVideoPipeline(Engines engines);

    // Work folders are "Quorvel-<UUID>" under the temporary directory.
    static constexpr std::string_view kWorkFolderPrefix = "Quorvel";
    // Removes what crashed or killed runs left: their work folders and the
    // temporary files in their output folders. Called once at start-up.
    static core::SweepResult sweepLeftovers();

    // The one pipeline of the process, made on first use and never released.
    static const AudioVideoPipeline& shared();
    static std::shared_ptr<AudioVideoPipeline> sharedPointer();

    std::vector<std::filesystem::path> processMultiFormat(const MultiFormatExportRequest& request,
                                                          Progress onProgress, Log onLog) const override;
    bool producesMP3() const override { return ffmpeg_.isFFmpegAvailable(); }

    const audio::LoudnessNormalizer& normalizer() const { return normalizer_; }
    const ID3TagInjector& tagInjector() const { return tagInjector_; }
    const AudiogramGenerator& audiogramGenerator() const { return audiogramGenerator_; }
    const FFmpegRunner& ffmpeg() const { return ffmpeg_; }
    const Transcriber& transcriber() const { return transcriber_; }
    bool transcriptionAvailable() const { return speechModel_.isReadable(); }

private:
    audio::LoudnessNormalizer normalizer_;
    FFmpegRunner ffmpeg_;
    ID3TagInjector tagInjector_;
    AudiogramGenerator audiogramGenerator_;
    Transcriber::SpeechModel speechModel_;
    Transcriber transcriber_;
};

} // namespace episode
