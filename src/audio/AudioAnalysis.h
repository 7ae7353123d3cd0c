#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include "audio/CleanupOptions.h"

namespace audio {

// What one read of a source leaves for the clean-up plan and the gain
// decision: loudness, true peak, a level and a K-weighted energy per 100 ms
// block, the noise floor, the sample peak and RMS, and the hum frequency when
// it was looked for.
struct AudioAnalysis {
    double sampleRate = 0;
    int channels = 0;
    std::int64_t frames = 0;
    std::optional<double> integratedLUFS;
    std::vector<double> weightedEnergy;   // per block: mean over frames of the channel sum of K-weighted x²
    std::vector<double> blockRMSdB;       // per block: level in dB of the channel-averaged x²
    std::optional<double> humFrequency;   // 50 or 60
    double noiseFloorDB = -90;
    double truePeak = -90;                // dBTP
    double samplePeak = -90;              // dBFS
    double rmsDB = -90;
    // Per block, the same level measured after the clean-up filters (rumble
    // high-pass, hum notches) when the options run any; empty otherwise.
    // Cut and gate decisions are taken on these, so hum under a pause does
    // not make it sound busy.
    std::vector<double> filteredBlockRMSdB;

    bool operator==(const AudioAnalysis&) const = default;

    // Frames per analysis block: sampleRate × 0.1 to the nearest whole
    // number (halves away from zero), at least 1.
    static std::int64_t blockFrames(double sampleRate);

    // Reads the file once at its own rate and channel count. Hum is looked
    // for in the first 60 s only when `detectHum` is set. Reading errors pass
    // through.
    static AudioAnalysis analyze(const std::filesystem::path& file, bool detectHum);
    // The same, with hum looked for when the options ask for detection and
    // with `filteredBlockRMSdB` measured through the options' filters.
    static AudioAnalysis analyze(const std::filesystem::path& file, const CleanupOptions& cleanup);

    // The block levels decisions are taken on: the filtered ones when
    // measured, else the plain ones; and their noise floor.
    const std::vector<double>& decisionLevels() const
    {
        return filteredBlockRMSdB.empty() ? blockRMSdB : filteredBlockRMSdB;
    }
    double decisionNoiseFloorDB() const
    {
        return filteredBlockRMSdB.empty() ? noiseFloorDB : noiseFloor(filteredBlockRMSdB);
    }

    // 50, 60 or nothing, from one second in every four of mono samples.
    static std::optional<double> detectHum(std::span<const float> samples, double sampleRate);
    // The quietest half second, averaged in energy; −100 without blocks.
    static double noiseFloor(std::span<const double> blockLevelsDB);
};

} // namespace audio
