#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/Error.h"
#include "episode/AspectRatio.h"
#include "episode/CaptionCue.h"
#include "episode/CaptionWord.h"

namespace episode {

struct BGRAImage;

// Turns one audio excerpt into an MP4 social-media video: H.264 pictures of
// pulsing bars, title, captions and progress (drawn by FrameRenderer) with
// the excerpt's sound as AAC, both exactly frameCount / fps seconds long.
// Holds no state; one instance serves any number of calls at once.
class AudiogramGenerator {
public:
    using AspectRatio = episode::AspectRatio;

    struct AudiogramConfig {
        AspectRatio aspectRatio;
        std::optional<double> maxDurationSeconds; // absent: the whole input
        std::string waveformColor;                // e.g. "#3B82F6"
        std::optional<std::filesystem::path> backgroundImageURL;
        int framesPerSecond;                      // 1 or more
        std::vector<CaptionWord> captions;        // empty: no captions
        std::optional<std::string> title;         // absent or empty: none
        // The background already decoded by whoever read it (upright, in
        // sRGB, as FrameRenderer::loadImage gives it); when set,
        // backgroundImageURL is not read again.
        std::shared_ptr<const BGRAImage> backgroundPicture = {};

        AudiogramConfig(AspectRatio aspect, std::optional<double> maxDuration, std::string color,
                        std::optional<std::filesystem::path> background, int fps, std::vector<CaptionWord> words,
                        std::optional<std::string> titleText)
            : aspectRatio(aspect), maxDurationSeconds(maxDuration), waveformColor(std::move(color)),
              backgroundImageURL(std::move(background)), framesPerSecond(fps), captions(std::move(words)),
              title(std::move(titleText)) {}
        bool operator==(const AudiogramConfig&) const = default;
    };

    class AudiogramError : public core::Error {
    public:
        enum class Kind { audioTooShort, writerSetupFailed, invalidFrameRate, writingFailed };
        // "Audio is too short for an audiogram."
        static AudiogramError audioTooShort();
        // "Could not set up the audiogram video writer."
        static AudiogramError writerSetupFailed();
        // The frame rate is below 1, or so high that a frame holds no sample.
        static AudiogramError invalidFrameRate(int fps);
        // An encoder or the file refused data in the middle of the video.
        static AudiogramError writingFailed(const std::string& reason);
        Kind kind() const { return kind_; }

    private:
        AudiogramError(Kind kind, const std::string& text) : core::Error(text), kind_(kind) {}
        Kind kind_;
    };

    // Rate of the level envelope's analysis.
    static constexpr int kEnvelopeRate = 16000;

    // Writes the video to destinationURL (under a temporary name beside it,
    // renamed into place when complete; nothing appears there on failure).
    // Throws AudiogramError, audio::PCMStream::StreamError, core::FileError.
    void generate(const std::filesystem::path& audioURL, const std::filesystem::path& destinationURL,
                  const AudiogramConfig& config) const;

    // Root mean square of every complete block of 16000 / fps samples of the
    // first maxDuration seconds at 16 kHz mono, normalised (see normalizeEnvelope).
    static std::vector<float> levelEnvelope(const std::filesystem::path& audioURL, int fps, double maxDuration);
    // v → min(1, sqrt(v / max(P, 0.0001))) with P the largest value.
    static std::vector<float> normalizeEnvelope(std::vector<float> rms);
    // Cues of the words starting before `videoSeconds`: 32 characters, 3.0 s.
    static std::vector<CaptionCue> captionCues(const std::vector<CaptionWord>& words, double videoSeconds);
};

} // namespace episode
