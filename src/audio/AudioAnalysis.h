#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

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

    bool operator==(const AudioAnalysis&) const = default;

    // Frames per analysis block: sampleRate × 0.1 to the nearest whole
    // number (halves away from zero), at least 1.
    static std::int64_t blockFrames(double sampleRate);

    // Reads the file once at its own rate and channel count. Hum is looked
    // for in the first 60 s only when `detectHum` is set. Reading errors pass
    // through.
    static AudioAnalysis analyze(const std::filesystem::path& file, bool detectHum);

    // 50, 60 or nothing, from one second in every four of mono samples.
    static std::optional<double> detectHum(std::span<const float> samples, double sampleRate);
    // The quietest half second, averaged in energy; −100 without blocks.
    static double noiseFloor(std::span<const double> blockLevelsDB);
};

} // namespace audio
