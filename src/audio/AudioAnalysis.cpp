#include "audio/AudioAnalysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "audio/BlockPipeline.h"
#include "audio/CleanupFilters.h"
#include "audio/LoudnessMeter.h"
#include "audio/PCMStream.h"
#include "core/Numbers.h"

namespace audio {

namespace {

constexpr double kHumWindowSeconds = 60;
constexpr double kHumSideHz = 7;
constexpr double kHumMinScore = 6;
constexpr double kSettleSeconds = 1;

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

// Block levels after the clean-up filters. With hum detection the filters
// are only known once the first 60 s have been heard, so until then the
// frames wait; they go through the chain once the hum is decided.
class FilteredLevels {
public:
    FilteredLevels(double sampleRate, int channels, const CleanupOptions& cleanup, std::int64_t blockFrames)
        : sampleRate_(sampleRate), channels_(std::max(1, channels)), rumble_(cleanup.rumbleFilter),
          blockFrames_(blockFrames), humMode_(cleanup.humRemoval)
    {
        // Hum detection hears the first 60 s; otherwise the first second
        // waits too, to settle the filters (below).
        const double wait = humMode_ == HumMode::autoDetect ? kHumWindowSeconds : kSettleSeconds;
        humWindow_ = static_cast<std::size_t>(std::max<std::int64_t>(1, core::toInt64(sampleRate * wait).value_or(1)));
    }

    void process(const float* samples, std::size_t frames)
    {
        if (!decided_) {
            const auto width = static_cast<std::size_t>(channels_);
            pending_.insert(pending_.end(), samples, samples + frames * width);
            for (std::size_t f = 0; f < frames && mono_.size() < humWindow_; ++f) {
                double sum = 0;
                for (std::size_t c = 0; c < width; ++c) sum += samples[f * width + c];
                mono_.push_back(static_cast<float>(sum / channels_));
            }
            if (mono_.size() >= humWindow_) release();
            return;
        }
        measure(samples, frames);
    }

    // The levels, or nothing when no filter runs.
    std::vector<double> finish()
    {
        if (!decided_) release();
        if (chains_.empty()) return {};
        return std::move(levels_);
    }

private:
    void release()
    {
        switch (humMode_) {
        case HumMode::autoDetect: decide(AudioAnalysis::detectHum(mono_, sampleRate_)); break;
        case HumMode::hz50: decide(50.0); break;
        case HumMode::hz60: decide(60.0); break;
        case HumMode::off: decide(std::nullopt); break;
        }
        std::vector<float> waiting;
        waiting.swap(pending_);
        mono_ = {};
        const std::size_t frames = waiting.size() / static_cast<std::size_t>(channels_);
        // A notch with Q 35 takes about a second to settle on a steady hum.
        // The chains first run over the opening second and forget its
        // output, so the hum's ring-in does not make the leading room tone
        // look like sound.
        const auto settle = static_cast<std::size_t>(std::max<std::int64_t>(0, core::toInt64(sampleRate_ * kSettleSeconds).value_or(0)));
        const auto width = static_cast<std::size_t>(channels_);
        for (std::size_t f = 0; f < std::min(frames, settle) && !chains_.empty(); ++f)
            for (std::size_t c = 0; c < width; ++c) {
                double x = waiting[f * width + c];
                for (Biquad& b : chains_[c]) x = b.process(x);
            }
        measure(waiting.data(), frames);
    }

    void decide(std::optional<double> hum)
    {
        decided_ = true;
        const auto sections = cleanupSections(rumble_, hum, sampleRate_);
        if (!sections.empty()) chains_.assign(static_cast<std::size_t>(channels_), sections);
    }

    void measure(const float* samples, std::size_t frames)
    {
        if (chains_.empty()) return;
        const auto width = static_cast<std::size_t>(channels_);
        for (std::size_t f = 0; f < frames; ++f) {
            double plain = 0;
            for (std::size_t c = 0; c < width; ++c) {
                double x = samples[f * width + c];
                for (Biquad& b : chains_[c]) x = b.process(x);
                plain += x * x;
            }
            sum_ += plain / channels_;
            if (++inBlock_ == blockFrames_) {
                levels_.push_back(10 * std::log10(std::max(1e-12, sum_ / static_cast<double>(blockFrames_))));
                sum_ = 0;
                inBlock_ = 0;
            }
        }
    }

    double sampleRate_;
    int channels_;
    bool rumble_;
    std::int64_t blockFrames_;
    HumMode humMode_;
    std::size_t humWindow_ = 0;
    bool decided_ = false;
    std::vector<float> pending_;
    std::vector<float> mono_;
    std::vector<std::vector<Biquad>> chains_;
    std::vector<double> levels_;
    double sum_ = 0;
    std::int64_t inBlock_ = 0;
};

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

namespace {

// One read of the file; `filters` says which clean-up filters the filtered
// block levels go through (none: no filtered levels).
AudioAnalysis analyzeFile(const std::filesystem::path& file, bool detectHum, const CleanupOptions* filters)
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
    // The filtered levels are measured on a thread of their own as well.
    const bool filtering = filters && (filters->rumbleFilter || filters->humRemoval != HumMode::off);
    FilteredLevels filtered(source.sampleRate, source.channels, filtering ? *filters : CleanupOptions::none(),
                            blockFrames);
    BlockPipeline filteredLevels([&](AudioBlock& block) { filtered.process(block.samples.data(), block.frames); });
    AudioBlock copy;
    PCMStream::read(file, source.sampleRate, source.channels, std::nullopt,
                    [&](std::span<const float> samples, std::size_t frames) {
                        copy.samples.assign(samples.begin(), samples.end());
                        copy.frames = frames;
                        if (filtering) {
                            AudioBlock second;
                            second.samples.assign(samples.begin(), samples.end());
                            second.frames = frames;
                            filteredLevels.push(second);
                        }
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
    filteredLevels.finish();
    if (filtering) {
        a.filteredBlockRMSdB = filtered.finish();
        a.filteredBlockRMSdB.resize(std::min(a.filteredBlockRMSdB.size(), a.blockRMSdB.size()));
    }
    a.integratedLUFS = meter.integratedLUFS();
    a.weightedEnergy = meter.subBlocks();
    a.weightedEnergy.resize(std::min(a.weightedEnergy.size(), a.blockRMSdB.size()));
    a.truePeak = meter.truePeakDBTP();
    a.samplePeak = 20 * std::log10(std::max(1e-9, peak));
    const double samples = std::max(1.0, static_cast<double>(a.frames) * channels);
    a.rmsDB = 10 * std::log10(std::max(1e-12, totalSquares / samples));
    a.noiseFloorDB = AudioAnalysis::noiseFloor(a.blockRMSdB);
    if (detectHum) a.humFrequency = AudioAnalysis::detectHum(mono, source.sampleRate);
    return a;
}

} // namespace

AudioAnalysis AudioAnalysis::analyze(const std::filesystem::path& file, bool detectHum)
{
    return analyzeFile(file, detectHum, nullptr);
}

AudioAnalysis AudioAnalysis::analyze(const std::filesystem::path& file, const CleanupOptions& cleanup)
{
    return analyzeFile(file, cleanup.humRemoval == HumMode::autoDetect, &cleanup);
}

} // namespace audio
