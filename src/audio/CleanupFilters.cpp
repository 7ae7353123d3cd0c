#include "audio/CleanupFilters.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace audio {

namespace {
constexpr double kRumbleHz = 80;
constexpr double kRumbleQ = 0.7071;
constexpr int kHumHarmonics = 6;
} // namespace

Biquad highPassSection(double frequency, double sampleRate, double q)
{
    const double w0 = 2 * std::numbers::pi * frequency / sampleRate;
    const double alpha = std::sin(w0) / (2 * q);
    const double a0 = 1 + alpha;
    const double cosw = std::cos(w0);
    Biquad b;
    b.b0 = (1 + cosw) / 2 / a0;
    b.b1 = -(1 + cosw) / a0;
    b.b2 = b.b0;
    b.a1 = -2 * cosw / a0;
    b.a2 = (1 - alpha) / a0;
    return b;
}

Biquad notchSection(double frequency, double sampleRate)
{
    const double w0 = 2 * std::numbers::pi * frequency / sampleRate;
    const double alpha = std::sin(w0) / 70;
    const double a0 = 1 + alpha;
    Biquad b;
    b.b0 = 1 / a0;
    b.b1 = -2 * std::cos(w0) / a0;
    b.b2 = b.b0;
    b.a1 = b.b1;
    b.a2 = (1 - alpha) / a0;
    return b;
}

std::vector<double> notchFrequencies(double humFrequency, double sampleRate)
{
    std::vector<double> out;
    for (int k = 1; k <= kHumHarmonics; ++k) {
        const double f = k * humFrequency;
        if (f < sampleRate / 2 - 100) out.push_back(f);
    }
    return out;
}

std::vector<Biquad> cleanupSections(bool rumbleFilter, std::optional<double> humFrequency, double sampleRate)
{
    std::vector<Biquad> sections;
    if (rumbleFilter) sections.push_back(highPassSection(kRumbleHz, sampleRate, kRumbleQ));
    if (humFrequency)
        for (double f : notchFrequencies(*humFrequency, sampleRate)) sections.push_back(notchSection(f, sampleRate));
    return sections;
}

NoiseGate::NoiseGate(double thresholdDB, double sampleRate)
    : threshold(static_cast<float>(std::pow(10.0, thresholdDB / 20))),
      attackCoefficient(static_cast<float>(std::exp(-1 / (0.003 * sampleRate)))),
      releaseCoefficient(static_cast<float>(std::exp(-1 / (0.15 * sampleRate)))),
      detectorCoefficient(static_cast<float>(std::exp(-1 / (0.05 * sampleRate))))
{
}

float NoiseGate::process(float p)
{
    envelope = p > envelope ? p : p + (envelope - p) * detectorCoefficient;
    const float goal = envelope >= threshold ? 1.0f : floorGain;
    const float coefficient = gain < goal ? attackCoefficient : releaseCoefficient;
    gain = goal + (gain - goal) * coefficient;
    return gain;
}

CutRenderer::CutRenderer(std::vector<FrameRange> ranges, std::int64_t fadeFrames)
    : cuts(normalizedRanges(std::move(ranges), 0, std::numeric_limits<std::int64_t>::max())),
      fade(std::max<std::int64_t>(1, fadeFrames))
{
}

std::optional<float> CutRenderer::gain(std::int64_t q)
{
    while (index < cuts.size() && cuts[index].end <= q) ++index;
    double factor = 1;
    if (index < cuts.size()) {
        const FrameRange& next = cuts[index];
        if (q >= next.start) return std::nullopt;
        if (next.start - q < fade) factor = std::min(factor, static_cast<double>(next.start - q) / static_cast<double>(fade));
    }
    if (index > 0) {
        const FrameRange& previous = cuts[index - 1];
        if (q - previous.end < fade)
            factor = std::min(factor, static_cast<double>(q - previous.end + 1) / static_cast<double>(fade));
    }
    return static_cast<float>(factor);
}

} // namespace audio
