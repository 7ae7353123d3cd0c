#include "audio/AudioAnalysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "audio/BlockPipeline.h"
#include "audio/LoudnessMeter.h"
#include "audio/PCMStream.h"
#include "core/Numbers.h"

namespace audio {

namespace {

constexpr double kHumWindowSeconds = 60;
constexpr double kHumSideHz = 7;
constexpr double kHumMinScore = 6;

// Power at one frequency over samples[begin, begin + n), Goertzel recurrence.
double goertzelPower(std::span<const float> samples, std::size_t begin, std::size_t n, double frequency,
                     double sampleRate)
{
    const double c = 2 * std::cos(2 * std::numbers::pi * frequency / sampleRate);
    double s1 = 0, s2 = 0;
    for (std::size_t i = begin; i < begin + n; ++i) {
        const double s = static_cast<double>(samples[i]) + c * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
    return std::max(0.0, power) / static_cast<double>(n);
}

// Mean over one-second windows (one in every four) of the energy at the first
// four harmonics of `mains` against the energy 7 Hz beside each.
double humScore(std::span<const float> samples, std::size_t n, double mains, double sampleRate)
{
    double total = 0;
    int windows = 0;
    for (std::size_t start = 0; start + n <= samples.size(); start += 4 * n) {
        double on = 0, side = 0;
        for (int k = 1; k <= 4; ++k) {
            const double f = k * mains;
            on += goertzelPower(samples, start, n, f, sampleRate);
            side += goertzelPower(samples, start, n, f - kHumSideHz, sampleRate);
            side += goertzelPower(samples, start, n, f + kHumSideHz, sampleRate);
        }
        total += on / std::max(1e-15, side / 2);
        ++windows;
    }
    return windows > 0 ? total / windows : 0;
}

} // namespace

std::int64_t AudioAnalysis::blockFrames(double sampleRate)
{
    return std::max<std::int64_t>(1, core::toInt64(std::round(sampleRate * 0.1)).value_or(1));
}

std::optional<double> AudioAnalysis::detectHum(std::span<const float> samples, double sampleRate)
{
    const auto n = core::toInt64(sampleRate);
    if (!n || *n <= 0 || samples.size() <= static_cast<std::size_t>(*n)) return std::nullopt;
    const auto window = static_cast<std::size_t>(*n);
    const double score50 = humScore(samples, window, 50, sampleRate);
    const double score60 = humScore(samples, window, 60, sampleRate);
    if (std::max(score50, score60) < kHumMinScore) return std::nullopt;
    return score60 < score50 ? 50.0 : 60.0;
}

double AudioAnalysis::noiseFloor(std::span<const double> blockLevelsDB)
{
    if (blockLevelsDB.empty()) return -100;
    std::vector<double> levels(blockLevelsDB.begin(), blockLevelsDB.end());
    for (double& l : levels) l = std::max(l, -100.0);
    if (levels.size() < 5) return *std::min_element(levels.begin(), levels.end());

    std::vector<double> energy(levels.size());
    for (std::size_t i = 0; i < levels.size(); ++i) energy[i] = std::pow(10.0, levels[i] / 10);
    double lowest = 0;
    for (std::size_t i = 0; i + 5 <= energy.size(); ++i) {
        const double mean = (energy[i] + energy[i + 1] + energy[i + 2] + energy[i + 3] + energy[i + 4]) / 5;
        const double level = 10 * std::log10(mean);
        if (i == 0 || level < lowest) lowest = level;
    }
    return lowest;
}

AudioAnalysis AudioAnalysis::analyze(const std::filesystem::path& file, bool detectHum)
{
    const PCMStream::Format source = PCMStream::format(file);
    AudioAnalysis a;
    a.sampleRate = source.sampleRate;
    a.channels = source.channels;

    // The meter's K-weighted 100 ms sub-blocks are the weighted block energies.
    LoudnessMeter meter(source.sampleRate, source.channels);
    const std::int64_t blockFrames = static_cast<std::int64_t>(meter.subBlockFrames());
    const int channels = std::max(1, source.channels);

    std::vector<float> mono;
    std::size_t monoLimit = 0;
    if (detectHum) {
        monoLimit = static_cast<std::size_t>(std::max<std::int64_t>(0, core::toInt64(source.sampleRate * kHumWindowSeconds).value_or(0)));
        mono.reserve(monoLimit);
    }

    double levelSum = 0;
    std::int64_t inBlock = 0;
    double totalSquares = 0;
    double peak = 0;

    // The meter works on its own thread on copies of the chunks, in order.
    BlockPipeline metering([&](AudioBlock& block) { meter.process(block.samples.data(), block.frames); });
    AudioBlock copy;
    PCMStream::read(file, source.sampleRate, source.channels, std::nullopt,
                    [&](std::span<const float> samples, std::size_t frames) {
                        copy.samples.assign(samples.begin(), samples.end());
                        copy.frames = frames;
                        metering.push(copy);
                        for (std::size_t f = 0; f < frames; ++f) {
                            const float* frame = samples.data() + f * static_cast<std::size_t>(channels);
                            double plain = 0, monoSum = 0;
                            for (int c = 0; c < channels; ++c) {
                                const double x = frame[c];
                                plain += x * x;
                                peak = std::max(peak, std::abs(x));
                                monoSum += x;
                            }
                            levelSum += plain / channels;
                            totalSquares += plain;
                            if (mono.size() < monoLimit) mono.push_back(static_cast<float>(monoSum / channels));
                            if (++inBlock == blockFrames) {
                                a.blockRMSdB.push_back(10 * std::log10(std::max(1e-12, levelSum / static_cast<double>(blockFrames))));
                                levelSum = 0;
                                inBlock = 0;
                            }
                        }
                        a.frames += static_cast<std::int64_t>(frames);
                    });

    metering.finish();
    a.integratedLUFS = meter.integratedLUFS();
    a.weightedEnergy = meter.subBlocks();
    a.weightedEnergy.resize(std::min(a.weightedEnergy.size(), a.blockRMSdB.size()));
    a.truePeak = meter.truePeakDBTP();
    a.samplePeak = 20 * std::log10(std::max(1e-9, peak));
    const double samples = std::max(1.0, static_cast<double>(a.frames) * channels);
    a.rmsDB = 10 * std::log10(std::max(1e-12, totalSquares / samples));
    a.noiseFloorDB = noiseFloor(a.blockRMSdB);
    if (detectHum) a.humFrequency = AudioAnalysis::detectHum(mono, source.sampleRate);
    return a;
}

} // namespace audio
