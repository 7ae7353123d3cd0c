#include "episode/AudiogramGenerator.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "audio/PCMStream.h"
#include "core/Files.h"
#include "core/Numbers.h"
#include "episode/AudiogramWriter.h"
#include "episode/FrameRenderer.h"
#include "episode/Transcriber.h"

namespace episode {

namespace fs = std::filesystem;

AudiogramGenerator::AudiogramError AudiogramGenerator::AudiogramError::audioTooShort() {
    return AudiogramError(Kind::audioTooShort, "Audio is too short for an audiogram.");
}

AudiogramGenerator::AudiogramError AudiogramGenerator::AudiogramError::writerSetupFailed() {
    return AudiogramError(Kind::writerSetupFailed, "Could not set up the audiogram video writer.");
}

AudiogramGenerator::AudiogramError AudiogramGenerator::AudiogramError::invalidFrameRate(int fps) {
    return AudiogramError(Kind::invalidFrameRate,
                          fmt::format("The audiogram frame rate must be between 1 and {} frames per second, not {}.",
                                      kEnvelopeRate, fps));
}

AudiogramGenerator::AudiogramError AudiogramGenerator::AudiogramError::writingFailed(const std::string& reason) {
    return AudiogramError(Kind::writingFailed, "Could not write the audiogram video: " + reason);
}

std::vector<float> AudiogramGenerator::normalizeEnvelope(std::vector<float> rms) {
    float peak = 1.0f;
    if (!rms.empty()) peak = *std::max_element(rms.begin(), rms.end());
    const double divisor = std::max(static_cast<double>(peak), 0.0001);
    for (float& v : rms) v = static_cast<float>(std::min(1.0, std::sqrt(std::max(0.0, v / divisor))));
    return rms;
}

std::vector<float> AudiogramGenerator::levelEnvelope(const fs::path& audioURL, int fps, double maxDuration) {
    if (fps < 1 || kEnvelopeRate / fps < 1) throw AudiogramError::invalidFrameRate(fps);
    const std::size_t block = static_cast<std::size_t>(kEnvelopeRate / fps);
    std::vector<float> rms;
    double sum = 0;
    std::size_t filled = 0;
    audio::PCMStream::read(audioURL, static_cast<double>(kEnvelopeRate), 1, maxDuration,
                           [&](std::span<const float> samples, std::size_t) {
                               for (float s : samples) {
                                   sum += static_cast<double>(s) * s;
                                   if (++filled == block) {
                                       rms.push_back(static_cast<float>(std::sqrt(sum / static_cast<double>(block))));
                                       sum = 0;
                                       filled = 0;
                                   }
                               }
                           });
    return normalizeEnvelope(std::move(rms)); // an incomplete last block is dropped
}

std::vector<CaptionCue> AudiogramGenerator::captionCues(const std::vector<CaptionWord>& words, double videoSeconds) {
    std::vector<CaptionWord> shown;
    for (const auto& w : words)
        if (w.start < videoSeconds) shown.push_back(w);
    return Transcriber::cues(shown, 32, 3.0);
}

void AudiogramGenerator::generate(const fs::path& audioURL, const fs::path& destinationURL,
                                  const AudiogramConfig& config) const {
    const int fps = config.framesPerSecond;
    if (fps < 1 || kEnvelopeRate / fps < 1) throw AudiogramError::invalidFrameRate(fps);
    const AspectRatioInfo& shape = info(config.aspectRatio);

    const audio::PCMStream::Format format = audio::PCMStream::format(audioURL);
    double clip = format.durationSeconds;
    if (config.maxDurationSeconds) clip = std::min(clip, *config.maxDurationSeconds);
    if (!(clip > 0.5)) throw AudiogramError::audioTooShort();

    const std::vector<float> envelope = levelEnvelope(audioURL, fps, clip);
    const auto wanted = core::toInt64(static_cast<double>(fps) * clip); // truncated
    if (!wanted) throw AudiogramError::audioTooShort();
    const std::int64_t frames =
        std::max<std::int64_t>(1, std::min<std::int64_t>(static_cast<std::int64_t>(envelope.size()), *wanted));
    if (frames > INT32_MAX) throw AudiogramError::writerSetupFailed();
    const int frameCount = static_cast<int>(frames);
    const double videoSeconds = static_cast<double>(frameCount) / fps;

    std::optional<BGRAImage> loaded;
    const BGRAImage* background = config.backgroundPicture.get();
    if (!background && config.backgroundImageURL) {
        loaded = FrameRenderer::loadImage(*config.backgroundImageURL);
        if (loaded) background = &*loaded;
    }
    const FrameRenderer renderer(shape.width, shape.height, FrameRenderer::parseColor(config.waveformColor),
                                 background, captionCues(config.captions, videoSeconds), config.title, fps);

    core::AtomicFile out(destinationURL);
    AudiogramWriter::write({audioURL, out.tempPath(), &renderer, &envelope, frameCount, fps});
    out.commit();
}

} // namespace episode
