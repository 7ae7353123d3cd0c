#pragma once

namespace audio {

// What loudness an output must have and how high its peaks may go.
struct LoudnessTarget {
    double integratedLUFS = -16;   // LUFS, or the RMS level in dB for ACX targets
    double truePeakDB = -1.5;      // the limiter's ceiling, dBTP
    double loudnessRangeLU = 11;   // carried, not acted on
    bool acx = false;              // audiobook rules and the ACX check report

    static LoudnessTarget stereoPodcast() { return {-16, -1.5, 11, false}; }
    static LoudnessTarget monoPodcast() { return {-19, -1.5, 11, false}; }
    static LoudnessTarget audibleACX() { return {-20, -3.5, 11, true}; }

    bool operator==(const LoudnessTarget&) const = default;
};

} // namespace audio
