#include "audio/CleanupPlan.h"

#include <algorithm>
#include <cmath>

#include "core/Numbers.h"

namespace audio {

namespace {

// Nearest whole number, halves away from zero; 0 for values that are not finite.
std::int64_t roundedCount(double value)
{
    return core::toInt64(std::round(value)).value_or(0);
}

} // namespace

std::optional<double> CleanupPlan::percentile(std::span<const double> values, double p)
{
    if (values.empty()) return std::nullopt;
    std::vector<double> sorted(values.begin(), values.end());
    std::sort(sorted.begin(), sorted.end());
    const auto last = static_cast<std::int64_t>(sorted.size()) - 1;
    const std::int64_t at = std::clamp<std::int64_t>(core::toInt64(p * static_cast<double>(last)).value_or(0), 0, last);
    return sorted[static_cast<std::size_t>(at)];
}

CleanupPlan::Levels CleanupPlan::levels(const AudioAnalysis& analysis)
{
    std::vector<double> voiced;
    for (double level : analysis.decisionLevels())
        if (level > -70) voiced.push_back(level);
    Levels l;
    l.speechDB = percentile(voiced, 0.75).value_or(-30);
    l.upperDB = l.speechDB - 20;
    const double floor = analysis.decisionNoiseFloorDB();
    l.silenceDB = std::min(std::max(std::max(floor + 8, l.speechDB - 32), -65.0), l.upperDB);
    return l;
}

std::vector<double> CleanupPlan::levelerGains(const AudioAnalysis& analysis, double integratedLUFS, double silenceDB)
{
    const auto& energy = analysis.weightedEnergy;
    const std::int64_t n = static_cast<std::int64_t>(energy.size());
    if (n < 10) return {};

    // Running sums keep both windows linear in the number of blocks.
    std::vector<double> energySum(static_cast<std::size_t>(n) + 1, 0.0);
    for (std::int64_t i = 0; i < n; ++i) energySum[i + 1] = energySum[i] + energy[i];

    std::vector<double> raw(static_cast<std::size_t>(n), 0.0);
    double g = 0;
    for (std::int64_t i = 0; i < n; ++i) {
        const std::int64_t lo = std::max<std::int64_t>(0, i - 15);
        const std::int64_t hi = std::min<std::int64_t>(n, i + 15);
        const double mean = (energySum[hi] - energySum[lo]) / static_cast<double>(hi - lo);
        const double loudness = -0.691 + 10 * std::log10(std::max(1e-12, mean));
        const auto& blockLevels = analysis.decisionLevels();
        const double level = i < static_cast<std::int64_t>(blockLevels.size()) ? blockLevels[i] : -120.0;
        if (level > silenceDB && loudness > integratedLUFS - 20) g = std::clamp(integratedLUFS - loudness, -6.0, 8.0);
        raw[i] = g;
    }

    std::vector<double> rawSum(static_cast<std::size_t>(n) + 1, 0.0);
    for (std::int64_t i = 0; i < n; ++i) rawSum[i + 1] = rawSum[i] + raw[i];
    std::vector<double> smooth(static_cast<std::size_t>(n));
    for (std::int64_t k = 0; k < n; ++k) {
        const std::int64_t lo = std::max<std::int64_t>(0, k - 10);
        const std::int64_t hi = std::min<std::int64_t>(n - 1, k + 10);
        smooth[k] = (rawSum[hi + 1] - rawSum[lo]) / static_cast<double>(hi - lo + 1);
    }
    return smooth;
}

std::vector<FrameRange> CleanupPlan::silenceCuts(const AudioAnalysis& analysis, const CleanupOptions& options,
                                                 double silenceDB)
{
    const bool shortenPauses = options.maxPauseSeconds > 0;
    if (!options.trimSilence && !shortenPauses) return {};

    const auto& levels = analysis.decisionLevels();
    const std::int64_t count = static_cast<std::int64_t>(levels.size());
    const std::int64_t w = AudioAnalysis::blockFrames(analysis.sampleRate);
    const std::int64_t keep = std::max<std::int64_t>(1, roundedCount(options.roomToneSeconds * 10));
    const std::int64_t maxPause = shortenPauses ? roundedCount(options.maxPauseSeconds * 10) : 0;
    const std::int64_t halfPause = maxPause / 2;

    std::vector<FrameRange> cuts;
    std::int64_t i = 0;
    while (i < count) {
        if (levels[i] > silenceDB) {
            ++i;
            continue;
        }
        const std::int64_t start = i;
        while (i < count && levels[i] <= silenceDB) ++i;
        const std::int64_t end = i;

        if (options.trimSilence && start == 0 && keep < end) {
            cuts.push_back({0, w * (end - keep)});
        } else if (options.trimSilence && end == count && keep < count - start) {
            cuts.push_back({w * (start + keep), analysis.frames});
        } else if (shortenPauses && start >= 1 && end < count && end - start > maxPause) {
            cuts.push_back({w * (start + halfPause), w * (end - halfPause)});
        }
    }
    return normalizedRanges(std::move(cuts), 0, std::max<std::int64_t>(1, analysis.frames));
}

CleanupPlan CleanupPlan::make(const AudioAnalysis& analysis, const CleanupOptions& options)
{
    CleanupPlan plan;
    switch (options.humRemoval) {
    case HumMode::autoDetect: plan.humFrequency = analysis.humFrequency; break;
    case HumMode::hz50: plan.humFrequency = 50.0; break;
    case HumMode::hz60: plan.humFrequency = 60.0; break;
    case HumMode::off: break;
    }
    if (analysis.blockRMSdB.empty()) return plan;

    const Levels l = levels(analysis);
    if (options.noiseGate) plan.gateThresholdDB = std::min(l.upperDB, analysis.decisionNoiseFloorDB() + 10);
    if (options.leveler && analysis.integratedLUFS)
        plan.levelerGainsDB = levelerGains(analysis, *analysis.integratedLUFS, l.silenceDB);
    plan.cuts = silenceCuts(analysis, options, l.silenceDB);
    return plan;
}

} // namespace audio
