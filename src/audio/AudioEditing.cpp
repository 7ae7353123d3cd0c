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
    const double fade = static_cast<double>(fadeFrames(sampleRate, kJoinFadeSeconds));
    const auto width = static_cast<std::size_t>(std::max(0, channels));
    std::vector<float> buffer;
    for (const auto& file : files) {
        const std::int64_t expected = framePosition(PCMStream::format(file).durationSeconds, sampleRate);
        std::int64_t position = 0;
        PCMStream::read(file, sampleRate, channels, std::nullopt, [&](std::span<const float> samples, std::size_t frames) {
            buffer.assign(samples.begin(), samples.end());
            for (std::size_t f = 0; f < frames; ++f, ++position) {
                const double edge = static_cast<double>(std::min(position, std::max<std::int64_t>(0, expected - position)));
                const auto factor = static_cast<float>(std::min(1.0, edge / fade));
                for (std::size_t c = 0; c < width; ++c) buffer[f * width + c] *= factor;
            }
            writer.write(buffer, frames);
        });
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
