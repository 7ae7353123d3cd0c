// The editing tools of LoudnessNormalizer: cut, concatenate, excerpt and the
// two light analyses (level envelope, speech frames).

#include <algorithm>
#include <cmath>

#include "audio/CleanupFilters.h"
#include "audio/LoudnessNormalizer.h"
#include "audio/PCMStream.h"
#include "audio/WAVWriter.h"
#include "core/Numbers.h"

namespace audio {

namespace {

constexpr int kBitDepth = 24;
constexpr double kCutFadeSeconds = 0.006;
constexpr double kJoinFadeSeconds = 0.015;
constexpr double kExcerptFadeSeconds = 0.02;
constexpr double kExcerptReadMarginSeconds = 0.1;
constexpr double kLevelsRate = 8000;
constexpr double kSpeechRate = 16000;
constexpr std::size_t kSpeechFrameSamples = 320;

// A time in seconds as a frame position, truncated toward zero; times that
// are not finite or out of range are clamped.
std::int64_t framePosition(double seconds, double sampleRate)
{
    return core::clampToInt64(seconds * sampleRate, 0);
}

// A fade length in frames, never below one frame.
std::int64_t fadeFrames(double sampleRate, double seconds)
{
    return std::max<std::int64_t>(1, core::toInt64(sampleRate * seconds).value_or(1));
}

} // namespace

void LoudnessNormalizer::cut(const std::filesystem::path& source, const std::filesystem::path& destination,
                             const std::vector<TimeRange>& removing) const
{
    const PCMStream::Format format = PCMStream::format(source);
    const double fs = format.sampleRate;
    WAVWriter writer(destination, fs, format.channels, kBitDepth);

    std::vector<FrameRange> ranges;
    ranges.reserve(removing.size());
    for (const TimeRange& r : removing) ranges.push_back({framePosition(r.start, fs), framePosition(r.end, fs)});
    CutRenderer cuts(std::move(ranges), fadeFrames(fs, kCutFadeSeconds));

    const auto channels = static_cast<std::size_t>(format.channels);
    std::int64_t position = 0;
    std::vector<float> kept;
    PCMStream::read(source, fs, format.channels, std::nullopt, [&](std::span<const float> samples, std::size_t frames) {
        kept.clear();
        for (std::size_t f = 0; f < frames; ++f, ++position) {
            const auto factor = cuts.gain(position);
            if (!factor) continue;
            for (std::size_t c = 0; c < channels; ++c) kept.push_back(samples[f * channels + c] * *factor);
        }
        writer.write(kept, kept.size() / std::max<std::size_t>(1, channels));
    });
    writer.close();
}

void LoudnessNormalizer::concatenate(const std::vector<std::filesystem::path>& files,
                                     const std::filesystem::path& destination, double sampleRate, int channels) const
{
    WAVWriter writer(destination, sampleRate, channels, kBitDepth);
    const std::int64_t fade = fadeFrames(sampleRate, kJoinFadeSeconds);
    const auto width = static_cast<std::size_t>(std::max(0, channels));
    std::vector<float> held; // the last `fade` frames read, not yet written
    for (const auto& file : files) {
        // The fade-out ends at the last decoded frame, not at the stated
        // duration (an MP3's header may promise more than it holds), so the
        // newest `fade` frames are held back until the next chunk or the end.
        held.clear();
        std::int64_t position = 0; // frames read from this file
        auto fadeIn = [&](std::span<float> frames, std::int64_t first) {
            for (std::size_t f = 0; f * width < frames.size(); ++f) {
                const std::int64_t p = first + static_cast<std::int64_t>(f);
                if (p >= fade) break;
                const auto factor = static_cast<float>(static_cast<double>(p) / static_cast<double>(fade));
                for (std::size_t c = 0; c < width; ++c) frames[f * width + c] *= factor;
            }
        };
        PCMStream::read(file, sampleRate, channels, std::nullopt, [&](std::span<const float> samples, std::size_t frames) {
            const std::size_t heldBefore = held.size();
            held.insert(held.end(), samples.begin(), samples.end());
            fadeIn(std::span<float>(held).subspan(heldBefore), position);
            position += static_cast<std::int64_t>(frames);
            const std::size_t keep = static_cast<std::size_t>(fade) * width;
            if (held.size() > keep) {
                const std::size_t ready = held.size() - keep;
                writer.write(std::span<const float>(held.data(), ready), ready / std::max<std::size_t>(1, width));
                held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(ready));
            }
        });
        // The tail: frame p of T decoded frames gets min(1, (T − p) / fade).
        const std::size_t tailFrames = width > 0 ? held.size() / width : 0;
        for (std::size_t f = 0; f < tailFrames; ++f) {
            const auto fromEnd = static_cast<double>(tailFrames - f);
            const auto factor = static_cast<float>(std::min(1.0, fromEnd / static_cast<double>(fade)));
            for (std::size_t c = 0; c < width; ++c) held[f * width + c] *= factor;
        }
        writer.write(held, tailFrames);
    }
    writer.close();
}

void LoudnessNormalizer::excerpt(const std::filesystem::path& source, const std::filesystem::path& destination,
                                 double start, double length) const
{
    const PCMStream::Format format = PCMStream::format(source);
    const double fs = format.sampleRate;
    WAVWriter writer(destination, fs, format.channels, kBitDepth);
    const std::int64_t first = framePosition(start, fs);
    const std::int64_t end = framePosition(start + length, fs);
    const double fade = static_cast<double>(fadeFrames(fs, kExcerptFadeSeconds));
    const auto channels = static_cast<std::size_t>(format.channels);

    std::int64_t position = 0;
    std::vector<float> kept;
    const double readFor = std::max(0.0, start + length + kExcerptReadMarginSeconds);
    PCMStream::read(source, fs, format.channels, readFor, [&](std::span<const float> samples, std::size_t frames) {
        kept.clear();
        for (std::size_t f = 0; f < frames; ++f, ++position) {
            if (position < first || position >= end) continue;
            const double edge = static_cast<double>(std::min(end - position, position - first + 1));
            const auto factor = static_cast<float>(std::min(1.0, edge / fade));
            for (std::size_t c = 0; c < channels; ++c) kept.push_back(samples[f * channels + c] * factor);
        }
        writer.write(kept, kept.size() / std::max<std::size_t>(1, channels));
    });
    writer.close();
}

std::vector<float> LoudnessNormalizer::levels(const std::filesystem::path& file, double step) const
{
    const std::int64_t window = core::toInt64(step * kLevelsRate).value_or(0);
    if (window < 1) return {};
    std::vector<float> out;
    double sum = 0;
    std::int64_t count = 0;
    PCMStream::read(file, kLevelsRate, 1, std::nullopt, [&](std::span<const float> samples, std::size_t frames) {
        for (std::size_t i = 0; i < frames; ++i) {
            const double x = samples[i];
            sum += x * x;
            if (++count == window) {
                out.push_back(static_cast<float>(std::sqrt(sum / static_cast<double>(window))));
                sum = 0;
                count = 0;
            }
        }
    });
    return out;
}

std::vector<SpeechFrame> LoudnessNormalizer::speechFrames(const std::filesystem::path& file) const
{
    std::vector<SpeechFrame> out;
    float energy = 0, difference = 0, previous = 0;
    std::size_t count = 0;
    PCMStream::read(file, kSpeechRate, 1, std::nullopt, [&](std::span<const float> samples, std::size_t frames) {
        for (std::size_t i = 0; i < frames; ++i) {
            const float x = samples[i];
            const float d = x - previous;
            energy += x * x;
            difference += d * d;
            previous = x;
            if (++count == kSpeechFrameSamples) {
                const float level = 10 * std::log10(std::max(1e-10f, energy / static_cast<float>(kSpeechFrameSamples)));
                const float brightness = 10 * std::log10(std::max(1e-10f, difference) / std::max(1e-10f, energy));
                out.emplace_back(level, brightness);
                energy = difference = 0;
                count = 0;
            }
        }
    });
    return out;
}

} // namespace audio
