#pragma once

#include <filesystem>
#include <optional>

#include "audio/AudioAnalysis.h"
#include "audio/CleanupOptions.h"
#include "audio/CleanupPlan.h"
#include "audio/LoudnessTarget.h"
#include "audio/RenderChain.h"

namespace audio {

// The chain one render pass runs, with the stages whose figures it reports.
// Order: rumble high-pass and hum notches, leveler × static gain × gate,
// look-ahead limiter, cut fades, output metering. It comes in three groups
// (clean-up, limiter and cuts, metering) so that a render can run each group
// on its own thread; process() and finish() run them one after the other.
struct CleanupRender {
    RenderChain cleanup;   // filters and the combined gain
    RenderChain dynamics;  // limiter and cut fades
    RenderChain metering;  // output meter
    LimiterStage* limiter = nullptr;
    OutputMeterStage* meter = nullptr;

    void process(AudioBlock& block);
    void finish(AudioBlock& block);

    // What one pass wrote.
    struct Result {
        std::optional<double> integratedLUFS;
        double truePeakDBTP = -180;
        double limiterReductionDB = 0;
        double rmsDB = -120;
        double samplePeakDB = -180;
        double noiseFloorDB = -100;
        std::int64_t framesWritten = 0;
        bool operator==(const Result&) const = default;
    };

    // The limiter's ceiling for a target: 0.2 dB under its true-peak limit,
    // or the limit itself for ACX targets.
    static double limiterCeilingDB(const LoudnessTarget& target);

    // A prepared chain for a stream of the given rate and channel count.
    static CleanupRender make(double sampleRate, int channels, const CleanupPlan& plan, const CleanupOptions& cleanup,
                              double gainDB, const LoudnessTarget& target);

    // Reads `source` once, runs every frame through a fresh chain and writes
    // a 24-bit WAV file to `destination` (renamed into place when complete).
    static Result render(const std::filesystem::path& source, const std::filesystem::path& destination,
                         const AudioAnalysis& analysis, const CleanupPlan& plan, const CleanupOptions& cleanup,
                         double gainDB, const LoudnessTarget& target);

    Result result() const;
};

} // namespace audio
