#pragma once

#include <optional>
#include <span>
#include <vector>

#include "audio/AudioAnalysis.h"
#include "audio/CleanupOptions.h"
#include "audio/FrameRange.h"

namespace audio {

// What the render does to one source: hum notches, gate threshold, a leveler
// gain per analysis block and the frame ranges to cut (sorted, clamped to the
// file, none empty). Made once per normalisation and reused by every pass.
struct CleanupPlan {
    std::optional<double> humFrequency;
    std::optional<double> gateThresholdDB;
    std::vector<double> levelerGainsDB;
    std::vector<FrameRange> cuts;

    bool operator==(const CleanupPlan&) const = default;

    // The levels the decisions start from.
    struct Levels {
        double speechDB = -30;     // 75th percentile of the blocks above −70 dB
        double upperDB = -50;      // speech − 20: no threshold goes above it
        double silenceDB = -62;    // a block at or below it is silent
        bool operator==(const Levels&) const = default;
    };

    static CleanupPlan make(const AudioAnalysis& analysis, const CleanupOptions& options);
    static Levels levels(const AudioAnalysis& analysis);
    // Sorted ascending, the element at min(n − 1, ⌊p · (n − 1)⌋); nothing for no values.
    static std::optional<double> percentile(std::span<const double> values, double p);

    // The leveler curve alone (empty when there are fewer than 10 blocks).
    static std::vector<double> levelerGains(const AudioAnalysis& analysis, double integratedLUFS, double silenceDB);
    // The cuts alone.
    static std::vector<FrameRange> silenceCuts(const AudioAnalysis& analysis, const CleanupOptions& options,
                                               double silenceDB);
};

} // namespace audio
