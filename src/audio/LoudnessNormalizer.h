#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "audio/ACXReport.h"
#include "audio/AudioAnalysis.h"
#include "audio/CleanupOptions.h"
#include "audio/CleanupPlan.h"
#include "audio/FrameRange.h"
#include "audio/LoudnessTarget.h"
#include "audio/SpeechFrame.h"
#include "core/Error.h"

namespace audio {

// Cleans up one audio or video file and brings it to a delivery loudness:
// analyse, plan, render with a static gain into a 24-bit WAV file, measure,
// correct the gain at most twice; for ACX targets, bring the room tone at the
// head and the tail inside the ACX limits. Also measures files and offers the
// small editing tools the episode pipeline uses. Holds no state: one instance
// serves any number of threads at once.
class LoudnessNormalizer {
public:
    using LoudnessTarget = audio::LoudnessTarget;
    using ACXReport = audio::ACXReport;
    using CleanupOptions = audio::CleanupOptions;

    // One file's levels.
    struct Measurement {
        double integratedLUFS = -70;
        double truePeakDBTP = -180;
        double sampleRate = 0;
        int channels = 0;
        double durationSeconds = 0;
        double rmsDB = -92;
        double samplePeakDB = -92;
        double noiseFloorDB = -92;
        bool operator==(const Measurement&) const = default;
    };

    // lower … upper, both included.
    struct GainRange {
        double lower = 0;
        double upper = 0;
        bool operator==(const GainRange&) const = default;
    };

    struct Result {
        Measurement input;
        Measurement output;                      // the file as written by the last pass
        double gainDB = 0;                       // static gain of the pass that wrote the output
        double limiterReductionDB = 0;
        std::optional<double> humRemovedHz;
        double secondsRemoved = 0;
        std::optional<GainRange> levelerRangeDB;
        std::optional<ACXReport> acxReport;
        bool operator==(const Result&) const = default;
    };

    class NormalizerError : public core::Error {
    public:
        using core::Error::Error;
        // "<file name> is silent or too short to measure loudness."
        static NormalizerError silentOrTooShort(const std::filesystem::path& file);
        static NormalizerError cannotCreateExportSession();
        static NormalizerError exportFailed();
    };

    LoudnessNormalizer() = default;

    Result process(const std::filesystem::path& source, const std::filesystem::path& destination,
                   const LoudnessTarget& target, const CleanupOptions& cleanup) const;
    // process() with CleanupOptions::none().
    Result normalize(const std::filesystem::path& source, const std::filesystem::path& destination,
                     const LoudnessTarget& target) const;
    Measurement measure(const std::filesystem::path& file) const;
    // The ACX check of a written file: its RMS level, sample peak, noise
    // floor and rate, as the normaliser's own report measures them, and its
    // head and tail room tone. Reading errors pass through.
    ACXReport acxCheck(const std::filesystem::path& file) const;

    // ---- editing tools (24-bit WAV output)

    // Copies the source without the given time ranges, with a 6 ms fade on
    // either side of each cut. Ranges are sorted and merged first.
    void cut(const std::filesystem::path& source, const std::filesystem::path& destination,
             const std::vector<TimeRange>& removing) const;
    // Joins the files at the given rate and channel count, each faded in and
    // out over 15 ms.
    void concatenate(const std::vector<std::filesystem::path>& files, const std::filesystem::path& destination,
                     double sampleRate, int channels) const;
    // Copies `length` seconds from `start`, with 20 ms fades.
    void excerpt(const std::filesystem::path& source, const std::filesystem::path& destination, double start,
                 double length) const;
    // RMS per `step` seconds of the file read as 8 kHz mono.
    std::vector<float> levels(const std::filesystem::path& file, double step) const;
    // Level and brightness per 20 ms of the file read as 16 kHz mono.
    std::vector<SpeechFrame> speechFrames(const std::filesystem::path& file) const;

    static std::optional<double> detectHum(std::span<const float> samples, double sampleRate)
    {
        return AudioAnalysis::detectHum(samples, sampleRate);
    }
    static double noiseFloor(std::span<const double> blockLevelsDB) { return AudioAnalysis::noiseFloor(blockLevelsDB); }

    // The gain of the next correction pass after a pass with `gainDB`
    // measured `measured` against `target`: nothing when the pass is within
    // the tolerance, or when the corrected gain would reach the limit (then
    // the file already written stands).
    static std::optional<double> correctedGain(double gainDB, double measured, double target);

    // Largest gain a correction pass may use, dB (exclusive).
    static constexpr double kMaxGainDB = 40;
    // A pass within this distance of the target needs no correction.
    static constexpr double kToleranceDB = 0.3;
    static constexpr int kMaxCorrections = 2;
};

} // namespace audio
